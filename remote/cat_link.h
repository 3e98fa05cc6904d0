// The transceiver's CAT port in remote operation: the Cat thread finds the port, relays
// every ';'-terminated reply to the client as one "CA" message, and ends through ExitCAT,
// which raises error 20 and asks for the remote threads to be restarted.
#pragma once

#include <cstdint>
#include <span>

namespace corvid {

struct Works;

void Cat(Works& works);
// Stops the link: the port is handed back (the thread closes it within 5 ms), EnableCAT
// goes to '0', a restart of the remote threads is requested and error 20 raised.
void ExitCAT(Works& works);
// Writes to the CAT port while the link holds it: the count, -ENODEV when no port is
// open, or -errno.
long writeCat(Works& works, std::span<const uint8_t> data);

// Assembles the replies of the port: bytes in, each complete reply (with its ';') out.
// 200 bytes without a ';' are dropped.
class CatReplies {
 public:
  template <typename Deliver>
  void take(std::span<const uint8_t> bytes, Deliver&& deliver) {
    for (uint8_t byte : bytes) {
      buffer_[length_++] = byte;
      if (byte == ';') {
        deliver(std::span<const uint8_t>(buffer_, length_));
        length_ = 0;
      } else if (length_ == sizeof buffer_) {
        length_ = 0;
      }
    }
  }

 private:
  uint8_t buffer_[200] = {};
  unsigned length_ = 0;
};

}  // namespace corvid

// The receiving side of a transceiver port: what has arrived is taken from the stream in
// one read and then handed out byte by byte, so that a 1 kB spectrum costs a few system
// calls instead of a thousand. Only bytes that arrived are ever handed out. Also the
// once-only log line of a port whose reads keep failing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/log.h"
#include "platform/serial.h"

namespace corvid {

class PortReader {
 public:
  explicit PortReader(platform::ByteStream& port) : port_(port) {}

  // Bytes waiting: those already held, else what one read without waiting brings.
  // 0 when none came, -errno when the read failed.
  long available() {
    if (head_ < tail_) return static_cast<long>(tail_ - head_);
    head_ = tail_ = 0;
    const long n = port_.read(buffer_, 0);
    if (n > 0) tail_ = static_cast<size_t>(n) <= buffer_.size() ? static_cast<size_t>(n) : 0;
    return n;
  }

  // The next byte; call it only after available() returned more than 0 (else 0).
  uint8_t take() { return head_ < tail_ ? buffer_[head_++] : 0; }

  // Forgets what is held (a port closed and opened again).
  void clear() { head_ = tail_ = 0; }

 private:
  platform::ByteStream& port_;
  std::array<uint8_t, 4096> buffer_{};
  size_t head_ = 0;
  size_t tail_ = 0;
};

// A port that fails fails at every read: the failure is logged once, and again only
// after a byte has come in between.
class ReadFailureLog {
 public:
  enum class Link { Ft817, ExtIo };
  explicit ReadFailureLog(Link link) : link_(link) {}

  void failed(long result) {
    if (failing_) return;
    failing_ = true;
    if (link_ == Link::Ft817) {
      platform::logError("timeout %ld\n", result);
    } else {
      platform::logError("error %ld", result);
    }
  }
  void recovered() { failing_ = false; }

 private:
  Link link_;
  bool failing_ = false;
};

}  // namespace corvid

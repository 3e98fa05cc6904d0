// Byte streams: the amplifier link, the CAT links and the EXT IO link read and write
// through this interface, so the same logic runs on a serial port on the unit, a
// pseudo-terminal on the bench, and an in-memory stream in a unit test.
#pragma once

#include <termios.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/fd.h"

namespace corvid::platform {

class ByteStream {
 public:
  virtual ~ByteStream() = default;
  // Waits up to timeoutMs (0: no wait, negative: no limit) for at least one byte and
  // returns how many were read; 0 when none came, -errno on failure.
  virtual long read(std::span<uint8_t> buffer, int timeoutMs) = 0;
  // Writes every byte; returns the count or -errno.
  virtual long write(std::span<const uint8_t> data) = 0;
};

// The line settings of a port, as termios fields.
struct SerialConfig {
  speed_t speed = B115200;
  tcflag_t inputFlags = IGNPAR;
  tcflag_t outputFlags = 0;
  tcflag_t controlFlags = CS8 | CREAD | CLOCAL;
  tcflag_t localFlags = 0;
  cc_t minChars = 0;    // VMIN
  cc_t timeTenths = 0;  // VTIME
};

class SerialPort final : public ByteStream {
 public:
  // Opens the device (under the root) read-write without becoming its controlling
  // terminal and applies the configuration.
  static Result<SerialPort> openDevice(std::string_view path, const SerialConfig& config);

  SerialPort() = default;
  long read(std::span<uint8_t> buffer, int timeoutMs) override;
  long write(std::span<const uint8_t> data) override;
  // Sets or clears one modem-control line: the lines are read (TIOCMGET), the one bit
  // changed and all written back (TIOCMSET). 0 or errno.
  enum class ModemLine { DTR, RTS };
  int setModemLine(ModemLine line, bool on);
  int fd() const { return fd_.get(); }
  bool isOpen() const { return fd_.valid(); }

 private:
  explicit SerialPort(Fd fd) : fd_(std::move(fd)) {}
  Fd fd_;
};

// Shared by every descriptor-backed stream.
long readWithTimeout(int fd, std::span<uint8_t> buffer, int timeoutMs);
long writeFully(int fd, std::span<const uint8_t> data);

}  // namespace corvid::platform

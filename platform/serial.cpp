#include "platform/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/root.h"

namespace corvid::platform {

Result<SerialPort> SerialPort::openDevice(std::string_view path, const SerialConfig& config) {
  const std::string device = hostPath(path);
  Fd fd(::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) return Result<SerialPort>::failure(errno);
  termios tio{};
  if (::tcgetattr(fd.get(), &tio) != 0) return Result<SerialPort>::failure(errno);
  tio.c_iflag = config.inputFlags;
  tio.c_oflag = config.outputFlags;
  tio.c_cflag = config.controlFlags;
  tio.c_lflag = config.localFlags;
  tio.c_cc[VMIN] = config.minChars;
  tio.c_cc[VTIME] = config.timeTenths;
  ::cfsetispeed(&tio, config.speed);
  ::cfsetospeed(&tio, config.speed);
  ::tcflush(fd.get(), TCIFLUSH);
  if (::tcsetattr(fd.get(), TCSANOW, &tio) != 0) return Result<SerialPort>::failure(errno);
  return SerialPort(std::move(fd));
}

long SerialPort::read(std::span<uint8_t> buffer, int timeoutMs) {
  return readWithTimeout(fd_.get(), buffer, timeoutMs);
}

long SerialPort::write(std::span<const uint8_t> data) {
  return writeFully(fd_.get(), data);
}

int SerialPort::setModemLine(ModemLine line, bool on) {
  int bits = 0;
  if (::ioctl(fd_.get(), TIOCMGET, &bits) != 0) return errno;
  const int bit = line == ModemLine::DTR ? TIOCM_DTR : TIOCM_RTS;
  bits = on ? (bits | bit) : (bits & ~bit);
  return ::ioctl(fd_.get(), TIOCMSET, &bits) == 0 ? 0 : errno;
}

long readWithTimeout(int fd, std::span<uint8_t> buffer, int timeoutMs) {
  if (fd < 0) return -EBADF;
  if (buffer.empty()) return 0;
  pollfd p{fd, POLLIN, 0};
  int r;
  do {
    r = ::poll(&p, 1, timeoutMs);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return -errno;
  if (r == 0) return 0;
  ssize_t n;
  do {
    n = ::read(fd, buffer.data(), buffer.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno == EAGAIN ? 0 : -errno;
  if (n == 0) return -EPIPE;  // the other end has gone
  return static_cast<long>(n);
}

long writeFully(int fd, std::span<const uint8_t> data) {
  if (fd < 0) return -EBADF;
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    done += static_cast<size_t>(n);
  }
  return static_cast<long>(done);
}

}  // namespace corvid::platform

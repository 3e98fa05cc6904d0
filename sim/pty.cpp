#include "sim/pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

namespace corvid::bench {

namespace {

std::string errnoText(const char* what) {
  return std::string(what) + ": " + std::generic_category().message(errno);
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    reset();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

void UniqueFd::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::optional<Pty> openPty(std::string& error) {
  Pty pty;
  pty.master = UniqueFd(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!pty.master) {
    error = errnoText("posix_openpt");
    return std::nullopt;
  }
  if (::grantpt(pty.master.get()) != 0 || ::unlockpt(pty.master.get()) != 0) {
    error = errnoText("grantpt/unlockpt");
    return std::nullopt;
  }
  std::array<char, 128> name{};
  if (const int err = ::ptsname_r(pty.master.get(), name.data(), name.size()); err != 0) {
    errno = err;
    error = errnoText("ptsname_r");
    return std::nullopt;
  }
  pty.slavePath = name.data();
  pty.slave = UniqueFd(::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!pty.slave) {
    error = errnoText(("open " + pty.slavePath).c_str());
    return std::nullopt;
  }
  termios tio{};
  if (::tcgetattr(pty.slave.get(), &tio) != 0) {
    error = errnoText("tcgetattr");
    return std::nullopt;
  }
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  ::cfsetispeed(&tio, B115200);
  ::cfsetospeed(&tio, B115200);
  if (::tcsetattr(pty.slave.get(), TCSANOW, &tio) != 0) {
    error = errnoText("tcsetattr");
    return std::nullopt;
  }
  return pty;
}

bool Waker::open(std::string& error) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = errnoText("pipe");
    return false;
  }
  read_ = UniqueFd(fds[0]);
  write_ = UniqueFd(fds[1]);
  return true;
}

void Waker::wake() const {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(write_.get(), &byte, 1);
}

void Waker::drain() const {
  std::array<char, 64> buffer{};
  while (::read(read_.get(), buffer.data(), buffer.size()) > 0) {
  }
}

}  // namespace corvid::bench

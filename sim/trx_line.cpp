#include "sim/trx_line.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "sim/faults.h"

namespace corvid::bench {

namespace fs = std::filesystem;

namespace {
void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}
std::string errorText(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}
}  // namespace

std::optional<TrxLine> TrxLine::open(const fs::path& link, std::string& error) {
  TrxLine line;
  line.master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (line.master_ < 0) {
    error = errorText("posix_openpt");
    return std::nullopt;
  }
  char name[128] = {};
  if (::grantpt(line.master_) != 0 || ::unlockpt(line.master_) != 0 ||
      ::ptsname_r(line.master_, name, sizeof name) != 0) {
    error = errorText("pseudo-terminal set-up");
    return std::nullopt;
  }
  line.slavePath_ = name;
  line.slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (line.slave_ < 0) {
    error = errorText("open slave");
    return std::nullopt;
  }
  // Raw both ways until the controller sets its own line settings: no byte translated.
  termios tio{};
  if (::tcgetattr(line.slave_, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::tcsetattr(line.slave_, TCSANOW, &tio);
  }
  const int flags = ::fcntl(line.master_, F_GETFL);
  if (flags < 0 || ::fcntl(line.master_, F_SETFL, flags | O_NONBLOCK) != 0) {
    error = errorText("non-blocking master");
    return std::nullopt;
  }
  std::error_code ec;
  fs::create_directories(link.parent_path(), ec);
  fs::remove(link, ec);
  fs::create_symlink(line.slavePath_, link, ec);
  if (ec) {
    error = "link " + link.string() + ": " + ec.message();
    return std::nullopt;
  }
  line.link_ = link;
  return line;
}

TrxLine::TrxLine(TrxLine&& other) noexcept
    : master_(std::exchange(other.master_, -1)),
      slave_(std::exchange(other.slave_, -1)),
      slavePath_(std::move(other.slavePath_)),
      link_(std::exchange(other.link_, {})) {}

TrxLine::~TrxLine() {
  if (!link_.empty()) {
    std::error_code ec;
    fs::remove(link_, ec);
  }
  closeFd(slave_);
  closeFd(master_);
}

long TrxLine::read(std::span<uint8_t> buffer) const {
  const ssize_t n = ::read(master_, buffer.data(), buffer.size());
  if (n >= 0) return static_cast<long>(n);
  return errno == EAGAIN || errno == EINTR ? 0 : -errno;
}

long TrxLine::write(std::span<const uint8_t> data) const {
  if (data.empty()) return 0;
  const ssize_t n = ::write(master_, data.data(), data.size());
  if (n >= 0) return static_cast<long>(n);
  return errno == EAGAIN || errno == EINTR ? 0 : -errno;
}

TrxWaker::TrxWaker() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    read_ = fds[0];
    write_ = fds[1];
  }
}

TrxWaker::~TrxWaker() {
  closeFd(read_);
  closeFd(write_);
}

void TrxWaker::wake() const {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(write_, &byte, 1);
}

void TrxWaker::drain() const {
  char bytes[64];
  while (::read(read_, bytes, sizeof bytes) > 0) {
  }
}

short waitLine(const TrxLine& line, const TrxWaker& waker, int timeoutMs, bool wantWrite) {
  pollfd fds[2] = {
      {line.master(), static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0},
      {waker.fd(), POLLIN, 0},
  };
  const int r = ::poll(fds, 2, timeoutMs);
  if (r <= 0) return 0;
  if ((fds[1].revents & POLLIN) != 0) waker.drain();
  return fds[0].revents;
}

std::vector<std::string> faultWords(const fs::path& root, std::string_view prefix) {
  std::vector<std::string> words;
  const Faults faults = Faults::load(root / "bench/faults");
  for (const Fault& fault : faults.all()) {
    if (fault.word.starts_with(prefix)) words.push_back(fault.word.substr(prefix.size()));
  }
  return words;
}

std::filesystem::path TrxLineThread::linkPath() const {
  return root_ / std::filesystem::path(port_).relative_path();
}

bool TrxLineThread::start(std::function<void()> body, std::string& error) {
  if (thread_.joinable()) return true;
  if (!waker_.ok()) {
    error = "no wake-up pipe";
    return false;
  }
  std::optional<TrxLine> opened = TrxLine::open(linkPath(), error);
  if (!opened) return false;
  line_.emplace(std::move(*opened));
  stopRequested_ = false;
  thread_ = std::thread(std::move(body));
  return true;
}

void TrxLineThread::stop() {
  if (thread_.joinable()) {
    stopRequested_ = true;
    waker_.wake();
    thread_.join();
  }
  line_.reset();
}

}  // namespace corvid::bench

// A pseudo-terminal for a simulator: the master end it serves and the slave end the
// controller opens (through a link under the bench root). Both ends are owned here and
// close themselves.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace corvid::bench {

// A file descriptor that closes itself; move-only.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void reset();

 private:
  int fd_ = -1;
};

struct Pty {
  UniqueFd master;  // non-blocking
  // Held open by the simulator as long as it runs: the master then never sees a
  // hang-up while the controller has the line closed (before it opens it, or between
  // two runs), and the raw settings stay.
  UniqueFd slave;
  std::string slavePath;  // "/dev/pts/N"
};

// A new pseudo-terminal with its slave end raw (no byte translated, no echo, 8 bits);
// empty, with error set, on failure. Both descriptors are closed on exec.
std::optional<Pty> openPty(std::string& error);

// A pipe that wakes a poll loop from another thread.
class Waker {
 public:
  bool open(std::string& error);
  void wake() const;
  int readFd() const { return read_.get(); }
  void drain() const;

 private:
  UniqueFd read_;
  UniqueFd write_;
};

}  // namespace corvid::bench

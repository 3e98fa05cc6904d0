// A move-only owner of a file descriptor, and the result type of the calls that make one.
#pragma once

#include <cerrno>
#include <utility>

namespace corvid::platform {

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset();

 private:
  int fd_ = -1;
};

// A value or the errno of the call that failed.
template <typename T>
class Result {
 public:
  Result(T value) : value_(std::move(value)), error_(0) {}  // NOLINT: implicit by design
  static Result failure(int error) { return Result(error, 0); }
  bool ok() const { return error_ == 0; }
  int error() const { return error_; }
  T& value() { return value_; }
  const T& value() const { return value_; }
  T* operator->() { return &value_; }

 private:
  Result(int error, int) : value_(), error_(error == 0 ? EIO : error) {}
  T value_;
  int error_;
};

}  // namespace corvid::platform

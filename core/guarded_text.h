// A text shared between threads: a fixed capacity, read and written as whole copies
// under a small lock. A longer value is cut to the capacity.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace corvid {

template <size_t Width>  // bytes of the slot, terminating NUL included
class GuardedText {
 public:
  static constexpr size_t kCapacity = Width - 1;

  std::string get() const {
    std::scoped_lock lock(mutex_);
    return std::string(text_.data(), length_);
  }
  void set(std::string_view value) {
    std::scoped_lock lock(mutex_);
    length_ = std::min(value.size(), kCapacity);
    std::copy_n(value.data(), length_, text_.data());
  }
  bool empty() const {
    std::scoped_lock lock(mutex_);
    return length_ == 0;
  }

 private:
  mutable std::mutex mutex_;
  std::array<char, Width> text_{};
  size_t length_ = 0;
};

}  // namespace corvid

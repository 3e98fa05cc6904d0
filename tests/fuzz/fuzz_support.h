// What every fuzz target shares: a root folder of its own for the files the code under test
// reads and writes, silent logs (syslog and the trace lines; libFuzzer keeps standard error), instant sleeps, and a shared
// record with the factory settings, made once per process.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <utility>

#include "platform/serial.h"

namespace corvid {
struct Works;
}

namespace corvid::fuzz {

// The record, set up at the first call (InitGlobalVar, the factory settings).
Works& works();
// A fresh record for a target that must not carry state from one input to the next.
void resetWorks();

// A serial line whose every read hands out the next piece of the input: the piece's first
// byte gives its length (1 to maxPiece) or, with failAt0xFF, 0xFF makes the read fail with
// EIO. Past the end a read brings nothing (after calling atEnd, if set); writes succeed.
class PieceLine final : public platform::ByteStream {
 public:
  PieceLine(const uint8_t* data, size_t size, size_t maxPiece, bool failAt0xFF = false,
            std::function<void()> atEnd = {})
      : data_(data), size_(size), maxPiece_(maxPiece), failAt0xFF_(failAt0xFF),
        atEnd_(std::move(atEnd)) {}
  long read(std::span<uint8_t> buffer, int) override {
    if (at_ >= size_) {
      if (atEnd_) atEnd_();
      return 0;
    }
    const uint8_t code = data_[at_];
    ++at_;
    if (failAt0xFF_ && code == 0xFF) return -EIO;
    const size_t n = std::min({size_t{code} % maxPiece_ + 1, size_ - at_, buffer.size()});
    std::copy_n(data_ + at_, n, buffer.begin());
    at_ += n;
    return static_cast<long>(n);
  }
  long write(std::span<const uint8_t> bytes) override { return static_cast<long>(bytes.size()); }
  bool done() const { return at_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t maxPiece_;
  bool failAt0xFF_;
  std::function<void()> atEnd_;
  size_t at_ = 0;
};

inline std::string_view text(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace corvid::fuzz

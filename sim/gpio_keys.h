// The six panel keys of a bench root: bits 22 to 27 of the level word of the GPIO block
// file DIR/dev/mem, which the controller maps and samples every 2 ms. A key reads 0 while
// it is held. The word is changed with one 32-bit atomic store into the shared mapping,
// so the controller never samples half a change. Safe to use from any thread of one
// process.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>

namespace corvid::bench {

class GpioKeys {
 public:
  // Maps the block; ok() tells whether that worked, error() why not.
  explicit GpioKeys(const std::filesystem::path& block);
  ~GpioKeys();
  GpioKeys(const GpioKeys&) = delete;
  GpioKeys& operator=(const GpioKeys&) = delete;

  bool ok() const { return base_ != nullptr; }
  const std::string& error() const { return error_; }

  // Holds (down) or releases key 1..6; false for another key or an unmapped block.
  bool set(int key, bool down);
  bool down(int key) const;
  // Releases every key.
  void releaseAll();
  // The level word as the controller reads it.
  uint32_t levels() const;

 private:
  uint32_t* word() const;
  void* base_ = nullptr;
  std::string error_;
  mutable std::mutex mutex_;
};

}  // namespace corvid::bench

// The six panel keys of a bench root: bits 22 to 27 of the level word of the GPIO block
// file DIR/dev/mem, which the controller maps and samples every 2 ms. A key reads 0 while
// it is held. The word is changed with one 32-bit atomic store into the shared mapping,
// so the controller never samples half a change. Safe to use from any thread of one
// process.
//
// A press is a list of timed steps (keySteps): the controller takes a change at the sixth
// equal sample, so a short press holds 150 ms; a long press holds the long-press time of
// the root's setup.txt plus 0.5 s; a held press holds as long as asked. Each press ends
// with a released gap, so that a following press is seen as one of its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// One press of a key as timed steps: the key goes down or up, then nothing happens for
// the pause. Hold: down for the given time, then up.
enum class KeyAction { Short, Long, Down, Up, Hold };
struct KeyStep {
  int key = 0;
  bool down = false;
  std::chrono::milliseconds pause{0};
  bool operator==(const KeyStep&) const = default;
};
inline constexpr std::chrono::milliseconds kShortHold{150};
inline constexpr std::chrono::milliseconds kLongPressMargin{500};
inline constexpr std::chrono::milliseconds kReleasedGap{100};
// The longest hold asked for by name (the web view's "hold N ms", corvid-bench press).
inline constexpr std::chrono::milliseconds kLongestHold{60000};
std::vector<KeyStep> keySteps(int key, KeyAction action, std::chrono::milliseconds longPress,
                              std::chrono::milliseconds hold = std::chrono::milliseconds(0));
// "short", "long", "down", "up" or "hold".
std::optional<KeyAction> parseKeyAction(std::string_view word);

// Runs the steps on the calling thread, sleeping through each pause.
void runKeySteps(GpioKeys& keys, const std::vector<KeyStep>& steps);

}  // namespace corvid::bench

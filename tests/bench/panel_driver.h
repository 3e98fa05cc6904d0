// The panel of a running controller for the bench tests: its six keys in the GPIO block,
// each press confirmed by the log line the controller writes for its event ("key K short",
// "key K long"), and the panel states it enters ("panel NAME").
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "sim/gpio_keys.h"
#include "sim/root_settings.h"
#include "tests/bench/bench_harness.h"

namespace corvid::bench::test {

// Generous for one key event: the key thread may be busy with a file for a while.
inline constexpr auto kEventTimeout = std::chrono::seconds(10);
// How long a key is held and released for a press that must be taken: many times the
// debounce (six samples 2 ms apart) and the power controller's exchange (10 ms).
inline constexpr auto kTapHold = std::chrono::milliseconds(120);
inline constexpr auto kTapGap = std::chrono::milliseconds(120);

class Panel {
 public:
  using Clock = std::chrono::steady_clock;

  explicit Panel(CorvidRun& run) : run_(run), keys_(run.root().gpioBlock()) {}
  bool ok() const { return keys_.ok(); }
  const std::string& error() const { return keys_.error(); }

  // A short press; true once the controller has logged its event. The key thread runs
  // each key's action itself (a menu item's shell commands, say); a press made while it
  // was still busy, under a sanitizer on a loaded machine, is not seen at all and is made
  // once more.
  bool tap(int key) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      const size_t from = run_.logSize();
      keys_.set(key, true);
      std::this_thread::sleep_for(kTapHold);
      keys_.set(key, false);
      const bool seen = run_.waitForLogFrom(from, event(key, "short"), kEventTimeout).has_value();
      std::this_thread::sleep_for(kTapGap);
      if (seen) return true;
    }
    return false;
  }
  // A short press that brings the panel into state name.
  bool tapTo(int key, std::string_view name) {
    const size_t from = run_.logSize();
    return tap(key) && waitState(name, from);
  }
  // Several short presses of one key.
  bool taps(int key, int times) {
    for (int i = 0; i < times; ++i) {
      if (!tap(key)) return false;
    }
    return true;
  }
  // A long press: held until the controller has logged the long event. The time from
  // the key going down to that event, or empty when it did not come.
  std::optional<Clock::duration> hold(int key) {
    const size_t from = run_.logSize();
    const Clock::time_point down = Clock::now();
    keys_.set(key, true);
    const std::optional<size_t> seen =
        run_.waitForLogFrom(from, event(key, "long"), longPressTime(run_.root()) + kEventTimeout);
    const Clock::duration took = Clock::now() - down;
    keys_.set(key, false);
    std::this_thread::sleep_for(kTapGap);
    if (!seen) return std::nullopt;
    return took;
  }
  bool holdTo(int key, std::string_view name) {
    const size_t from = run_.logSize();
    return hold(key) && waitState(name, from);
  }
  bool waitState(std::string_view name, size_t from) {
    return run_.waitForLogFrom(from, "panel " + std::string(name) + "\n", kEventTimeout)
        .has_value();
  }
  GpioKeys& keys() { return keys_; }

 private:
  static std::string event(int key, const char* kind) {
    return "key " + std::to_string(key) + " " + kind + "\n";
  }
  CorvidRun& run_;
  GpioKeys keys_;
};

// The panel's keys want the start-up over: the loader's countdown, then the timer thread.
inline bool waitStarted(CorvidRun& run, size_t from = 0) {
  return run.waitForLogFrom(from, "Timer thread started", std::chrono::seconds(60)).has_value();
}

}  // namespace corvid::bench::test

// The six front-panel keys and the power controller's command slots: debouncing, key
// events (short on release, long after the long-press time, repeats), the power-off
// sequence, the start-up combinations, and the choice of the next exchange.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace corvid {

struct Works;

// Takes a key event: key 1..6 and the mask of held keys (0 for a short press, on
// release). A nonzero result asks for the key to repeat.
using KeyHandler = int (*)(Works& works, int key, int heldMask);

// Writes "key N short" or "key N long" to the log and asks for no repeat.
int logKeyEvent(Works& works, int key, int heldMask);

class PanelKeys {
 public:
  static constexpr int kKeys = 6;
  explicit PanelKeys(KeyHandler handler = &logKeyEvent) : handler_(handler) {}
  // One pass: levels holds the raw level of key k in bit k-1 (1 released); now in
  // seconds of a steady clock.
  void pass(Works& works, unsigned levels, double now);
  // The accepted (debounced) level of key k (1..6).
  int accepted(int key) const { return accepted_[static_cast<size_t>(key - 1)]; }

 private:
  void debounce(unsigned levels);
  void events(Works& works, int key, double now);
  void powerOff(Works& works, double now);
  void startupCombinations(Works& works, unsigned levels);

  KeyHandler handler_;
  std::array<int, kKeys> accepted_{1, 1, 1, 1, 1, 1};
  std::array<int, kKeys> counter_{};
  std::array<int, kKeys> seen_{-1, -1, -1, -1, -1, -1};
  double holdStart_ = 0;
  int repeat_ = 0;
  unsigned inProgress_ = 0;
  unsigned latched_ = 0;
  double powerTimer_ = 0;
  int comboCount_ = 0;
};

// The power controller's exchange slots.
class PowerLinkSchedule {
 public:
  // Called once per pass while no exchange runs: the command to exchange now, or 0xFF.
  uint8_t next(Works& works);
  // After the exchange: stores the reply where the command's low three bits say.
  void done(Works& works, uint8_t command, uint8_t reply);

 private:
  int pollIndex_ = 0;
  int pollCountdown_ = 0;
  bool clearsMailbox_ = false;
};

}  // namespace corvid

#include "ui/panel_keys.h"

#include "core/works.h"
#include "platform/log.h"

namespace corvid {

using platform::trace;

namespace {
constexpr int kStable = 5;  // a change is taken at the sixth differing sample
constexpr double kRepeatTime = 0.1;
constexpr double kFastRepeatTime = 0.02;
constexpr double kNoticeLead = 0.15;
}  // namespace

int logKeyEvent(Works&, int key, int heldMask) {
  trace(heldMask != 0 ? "key %d long\n" : "key %d short\n", key);
  return 0;
}

void PanelKeys::debounce(unsigned levels) {
  for (size_t k = 0; k < kKeys; ++k) {
    const int raw = static_cast<int>((levels >> k) & 1u);
    if (raw == accepted_[k]) continue;
    if (counter_[k] < kStable) {
      ++counter_[k];
      continue;
    }
    bool othersReleased = true;
    for (size_t j = 0; j < kKeys; ++j) {
      if (j != k && accepted_[j] != 1) othersReleased = false;
    }
    if (othersReleased) {
      accepted_[k] = raw;
      counter_[k] = 0;
    }
  }
}

void PanelKeys::events(Works& works, int key, double now) {
  const size_t k = static_cast<size_t>(key - 1);
  const unsigned bit = 1u << k;
  const bool down = accepted_[k] == 0;
  if (inProgress_ == 0 && down) {
    holdStart_ = now;
    inProgress_ |= bit;
  }
  if ((inProgress_ & bit) != 0 && down && (latched_ & bit) == 0) {
    const double threshold = repeat_ < 1     ? works.set.TIME_LONG_PRESS.load()
                             : repeat_ <= 14 ? kRepeatTime
                                             : kFastRepeatTime;
    const double elapsed = now - holdStart_;
    if (elapsed > threshold - kNoticeLead) works.ui.noticeFlags.fetch_or(kNoticeLongPress);
    if (elapsed > threshold) {
      const int again = handler_(works, key, static_cast<int>(latched_ | bit));
      if (again != 0) {
        holdStart_ = now;
        ++repeat_;
        latched_ &= ~bit;
      } else {
        latched_ |= bit;
      }
    }
  }
  if (accepted_[k] != seen_[k]) {
    if (!down && (latched_ & bit) == 0 && seen_[k] != -1) {
      handler_(works, key, 0);
    }
    seen_[k] = accepted_[k];
    if (!down) {
      repeat_ = 0;
      inProgress_ &= ~bit;
      latched_ &= ~bit;
    }
  }
}

void PanelKeys::powerOff(Works& works, double now) {
  std::atomic<int>& state = works.ui.shutdownState;
  if (state.load() == 0) return;
  if (accepted_[0] == 1) {  // key 1 released
    if (state.load() == 1) {
      state = 2;
      powerTimer_ = now;
    } else if (state.load() == 2 && now - powerTimer_ >= 0.3) {
      state = 3;
      powerTimer_ = now;
    }
  }
  if (state.load() == 3 && now - powerTimer_ >= 1.5) {
    trace("SHUT DOWN> SEND TINY CMD\n");
    works.ui.tempflag_processextREMLOCOFF = tinyByte(TinyCode::PowerOff);
    powerTimer_ = now;
  }
}

void PanelKeys::startupCombinations(Works& works, unsigned levels) {
  // The raw levels: debounced keys are taken one at a time, so a combination could never
  // show in them.
  const auto down = [&](int key) { return ((levels >> (key - 1)) & 1u) == 0; };
  if (down(4) && down(5) && down(6)) {
    if (++comboCount_ > 5) works.set.EnableDebug = 1;
  } else if (down(3) && down(4)) {
    if (++comboCount_ > 5) works.ui.startupKeysMenu = 1;
  } else {
    comboCount_ = 0;
  }
}

void PanelKeys::pass(Works& works, unsigned levels, double now) {
  debounce(levels);
  if (works.core.startInitThread.load() != 0) {
    startupCombinations(works, levels);
    return;
  }
  for (int key = 1; key <= kKeys; ++key) {
    events(works, key, now);
    if (key == 1) powerOff(works, now);
  }
}

uint8_t PowerLinkSchedule::next(Works& works) {
  UiState& ui = works.ui;
  if (ui.tinyTransfer.load() != kTinyIdle) return ui.tinyTransfer.load();
  if (pollCountdown_ != 0) {
    --pollCountdown_;
    return kTinyIdle;
  }
  pollCountdown_ = 200;
  clearsMailbox_ = false;
  if (const uint8_t priority = ui.tempflag_processextREMLOCOFF.load(); priority != 0) {
    trace("CMD TINY PRIORITY %0x\n", priority);
    ui.tinyTransfer = priority;
    ui.tempflag_processextREMLOCOFF = 0;
    clearsMailbox_ = true;
  } else if (const uint8_t command = works.core.tinyCommand.load(); command != 0) {
    ui.tinyTransfer = command;
    clearsMailbox_ = true;
  } else {
    static constexpr TinyCode kPoll[4] = {TinyCode::PollV12, TinyCode::PollV15, TinyCode::PollVamp,
                                          TinyCode::PollVersion};
    if (pollIndex_ >= 0 && pollIndex_ < 4) {
      ui.tinyTransfer = tinyByte(kPoll[pollIndex_]);
      ++pollIndex_;
    } else {
      pollIndex_ = 0;  // the empty fifth slot of the poll cycle
    }
  }
  return ui.tinyTransfer.load();
}

void PowerLinkSchedule::done(Works& works, uint8_t command, uint8_t reply) {
  switch (command & 7) {
    case 0:
      works.core.tinyVersion = reply;
      break;
    case 1:
      works.ui.tinyV12 = reply;
      break;
    case 2:
      works.ui.tinyV15 = reply;
      break;
    case 3:
      works.ui.tinyVamp = reply;
      break;
    case 5:
      works.core.tinyStatus = reply;
      trace("TINY stato: ...%x (%x)\n", reply, works.core.tinyVersion.load());
      break;
    default:
      break;  // 4, 6 and 7: the reply is dropped
  }
  works.ui.tinyTransfer = kTinyIdle;
  if (clearsMailbox_) {
    works.core.tinyCommand = 0;
    clearsMailbox_ = false;
  }
}

}  // namespace corvid

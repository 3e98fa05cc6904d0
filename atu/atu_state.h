// Fields of the shared record owned by the antenna tuner and the frequency follow.
#pragma once

#include <atomic>
#include <cstdint>

namespace corvid {

struct AtuState {
  std::atomic<int> lastBandApplied{0};  // band row last applied; -1 none yet
  std::atomic<int> tuneState{0};        // 0 idle, 1 tuning, 2 and 3 tuning hand-overs
  std::atomic<uint32_t> tuneValue{0};   // packed L/C/network setting of the tuner
  std::atomic<int> tuneL{0};
  std::atomic<int> tuneC{0};
  std::atomic<uint8_t> tunerBypassed{0};
  std::atomic<int> attStep{0};      // attenuator step applied now, 0..3
  std::atomic<int> attSelect{0};    // attenuator selected, 0..3, 4 standby
  std::atomic<int> antennaInUse{0}; // 0-based
};

}  // namespace corvid

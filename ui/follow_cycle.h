// The follow-up pass of one display cycle and what it keeps from one cycle to the next.
#pragma once

#include <ctime>

#include "trx/trx_state.h"

namespace corvid {

struct Works;

// What the display loop keeps between cycles for the follow-up.
struct FollowCycle {
  int countA = 0;  // tune-on-transmission counters
  int countB = 0;
  long lastSecond = -1;
  PexParams pex;  // the transceiver's state as last copied
};

// The follow-up pass of one display cycle: the operating frequency from the bank's
// source, the PTT-out request once a second, the band follow on a change, and the
// tune on transmission of the EXT IO transceiver.
void followFrequency(Works& works, FollowCycle& cycle, std::time_t now);

}  // namespace corvid

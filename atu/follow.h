// Frequency follow: when the operating frequency moves, the band row of the bank picks
// antenna, tuner, attenuator and standby, and the tune memory recalls the tuner setting.
#pragma once

#include <cstdint>
#include <ctime>

#include "trx/trx_state.h"

namespace corvid {

struct Works;

void GestioneAntennaAutomatica(Works& works);
void GestioneLoadTuneVal(Works& works, int n);
void SetAnt(Works& works);
void SetAtt(Works& works);
void LabelByPassNova(Works& works, const char* text);

// What the display loop keeps between cycles for the follow-up.
struct FollowCycle {
  int countA = 0;  // tune-on-transmission counters
  int countB = 0;
  long lastSecond = -1;
  PexParams pex;  // the transceiver's state as last copied
};

// The follow-up pass of one display cycle: the operating frequency from the bank's
// source, the PTT-out request once a second, the band follow on a change, and the
// tune on transmission of interface 1.
void followFrequency(Works& works, FollowCycle& cycle, std::time_t now);

}  // namespace corvid

// Frequency follow: when the operating frequency moves, the band row of the bank picks
// antenna, tuner, attenuator and standby, and the tune memory recalls the tuner setting.
// The display loop decides when (ui/follow_cycle.h).
#pragma once

namespace corvid {

struct Works;

void GestioneAntennaAutomatica(Works& works);
void GestioneLoadTuneVal(Works& works, int n);
void SetAnt(Works& works);
void SetAtt(Works& works);
void LabelByPassNova(Works& works, const char* text);

// The attenuator texts by attSelect: dB for the steps 0..3, then standby.
inline constexpr const char* AttVectStr[5] = {"0", "2", "3", "5", "StdBy"};
// The attenuator label of the main screen (key 2, second line), only while it shows.
void SetAttenuatorLabel(Works& works);

}  // namespace corvid

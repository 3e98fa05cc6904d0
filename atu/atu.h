// The antenna tuner: the packed tune value, the tune memories and the automatic tuning.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "atu/atu_state.h"

namespace corvid {

struct Works;

// ---- the tune value ----
// C and L are 9-bit steps whose bits are scattered over the word as the relay drivers
// are wired; three mode bits select the network.
inline constexpr uint32_t kTuneCMask = 0x10D554;
inline constexpr uint32_t kTuneLMask = 0x282AAA;
inline constexpr uint32_t kTuneModeMask = 0x850000;
inline constexpr uint32_t kModeBypass = 0x10000;
inline constexpr uint32_t kModeLC = 0x40000;   // network "A"
inline constexpr uint32_t kModeCL = 0x800000;  // network "B"

uint32_t encodeC(int c);  // the C bits of a step (low 9 bits)
uint32_t encodeL(int l);
void SetC(Works& works, int c);
void SetI(Works& works, int l);
void SetMode(Works& works, int mode);
int DecodeCapacitaFromTuneval(uint32_t value);
int DecodeInduttanzaFromTuneval(uint32_t value);
int DecodeModoFromTuneval(uint32_t value);
void ReadTnePar(Works& works);
void DetermineTumeMemMode(const Works& works, char label[4]);
const char* modeLabel(int mode);  // "CL", "LC" or "ByP"
void ImpostaLblManuale(Works& works);

// ---- tune memories ----
struct AtuSegment {
  long from;
  long to;
  long firstIdx;
  long lastIdx;
};
int AtuIdxSearch(long freq, AtuSegment* segment = nullptr);
long AtuFreqfromIdx(int idx);
void SaveTuneValsuTabRam(Works& works, TuneRecord record, int idx, int antenna);
TuneRecord LoadTuneValFromTabRam(const Works& works, int idx, int antenna);
int SearchBestTune(const Works& works, int idx, long firstIdx, long lastIdx, int antenna);
int EsisteTuneValInTabRam(const Works& works, int idx, long firstIdx, long lastIdx, int antenna);
void LoadTuneFromMEM(Works& works, int antenna);
void InsertTuneToMem(Works& works, int bank, int antenna);
void LoadTabAtu(Works& works, int bank, int antenna);
void SaveTabAtu(Works& works, int bank, int antenna);

// ---- automatic tuning ----
inline constexpr int SWRTimeoutCICLI[5] = {600, 400, 300, 200, 100};
inline constexpr const char* SWRTimeout[5] = {"25sec", "20sec", "15sec", "10sec", "5sec"};

void GoTune(Works& works);
void StartAutotune(Works& works);
void TuneTask(Works& works);
void EscAutoTune(Works& works, int save);
void TuneEnd(Works& works);
void VerifyStopAutotune(Works& works);
void Clr_vTuneParam(Works& works);
void Clr_vTuneParam_fast(Works& works);
void SortTuneTab(Works& works);
void SortTuneTab2(Works& works);
void StampaTuneTabL(const Works& works);
void TuneTableSearchL(Works& works);
void CtrlNuovoTune(Works& works);
int coarseRow(const TunePoint& point);  // -1 when L has none of bits 0..8

}  // namespace corvid

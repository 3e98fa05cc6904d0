// Automatic tuning: a state machine that advances one step per status reply of the
// amplifier, inside the link thread. A complete tune runs a coarse search over bit
// combinations of L and C on both networks, up to three fine passes around the best
// coarse points, then the fine-2 sweep; a fine tune runs the fine-2 sweep alone.
#include <algorithm>
#include <cstdio>
#include <mutex>

#include "amp/amp.h"
#include "amp/link.h"
#include "atu/atu.h"
#include "core/works.h"
#include "errors/errors.h"
#include "platform/clock.h"
#include "platform/log.h"

namespace corvid {

using platform::sleepMs;
using platform::trace;

namespace {

constexpr TunePoint kEmpty{};

const char* networkTag(uint32_t value) {
  return (value & kModeCL) != 0 ? " B " : " A ";
}

void setL(Works& works, int l) {
  works.atu.tuneL = l;
  SetI(works, l);
}

void setC(Works& works, int c) {
  works.atu.tuneC = c;
  SetC(works, c);
}

// The value, L and C of a point become the present setting.
void applyPoint(Works& works, const TunePoint& p) {
  works.atu.tuneValue = p.value;
  setL(works, p.L);
  setC(works, p.C);
}

void setNetwork(Works& works, uint32_t modeBit) {
  works.atu.tuneValue = (works.atu.tuneValue.load() & ~kTuneModeMask) | modeBit;
}

void clearWaitingNotice(Works& works) {
  works.ui.noticeFlags.fetch_and(~kNoticeWaitingForTune);
}

// Key 6 of the main screen shows "Off" until the screen rewrites its label.
void showFineOnMainScreen(Works& works) {
  works.ui.Novamenu.set(PanelState::Main, 6, 2, "Off");
}

void advance(std::atomic<AutotuneStep>& step) {
  step = nextStep(step.load());
}

// The common first part of every evaluation: the reading at the setting the previous
// step sent.
void measure(Works& works) {
  AtuState& atu = works.atu;
  TuneSearch& s = atu.search;
  float swr = works.amp.swr.load();
  const bool alarm = (works.amp.statusB.load() & 0x02) != 0;
  if (alarm) {
    swr = 100;
    atu.tuneState = TuneState::AlarmHit;
  }
  s.tuneParam = {swr, works.amp.pwrFwd.load(), atu.tuneL.load(), atu.tuneC.load(),
                 atu.tuneValue.load()};
  const TunePoint& p = s.tuneParam;
  trace("%d-%d) Err %sSWR %05.2f FWD %05.2f L %04d C %04d T %08x %s", s.cnttune,
        stepNumber(atu.tuneStep.load()), alarm ? "1 " : "0 ", static_cast<double>(p.swr),
        static_cast<double>(p.fwd), p.L, p.C, p.value, networkTag(p.value));
  ++s.cnttune;
}

bool fineTarget(const Works& works, float swr) {
  const float target = works.set.swrTarget.load();
  if (target > 1.0f) return swr < target && swr > 0.01f;
  return swr <= 1.1f;
}

void targetFound(Works& works, const char* line, float swr, bool coarse) {
  const double target = static_cast<double>(works.set.swrTarget.load());
  if (coarse) {
    trace("ESC AUTO TUNE TARGET FOUND! %05.2f ( %01.4f) FOUND -> %05.2f!\n",
          static_cast<double>(swr), target, static_cast<double>(swr));
  } else {
    trace(line, static_cast<double>(swr), target);
  }
  TuneEnd(works);
  EscAutoTune(works, 1);
}

const char* fineFoundLine(const Works& works) {
  return works.set.swrTarget.load() > 1.0f
             ? "x-ESC AUTO TUNE TARGET FOUND! %05.2f ( %01.4f) FOUND!\n"
             : "y-ESC AUTO TUNE TARGET FOUND! %05.2f ( %01.4f) FOUND!\n";
}

// Coarse evaluation; true when the target was reached (the tune has ended).
bool TuneStep(Works& works) {
  measure(works);
  TuneSearch& s = works.atu.search;
  CtrlNuovoTune(works);
  TuneTableSearchL(works);
  const float swr = s.tuneParam.swr;
  trace(" SWResc  %05.2f ", static_cast<double>(works.set.swrTarget.load()));
  trace("SWR[1] %05.2f SWR[0] %05.2f\n", static_cast<double>(s.vTuneParam[1].swr),
        static_cast<double>(s.vTuneParam[0].swr));
  const bool reached = swr < works.set.swrTarget.load() && swr > 0.01f;
  if (reached) targetFound(works, nullptr, swr, true);
  VerifyStopAutotune(works);
  return reached;
}

// Fine-pass evaluation.
bool TuneStepComplete(Works& works) {
  measure(works);
  TuneSearch& s = works.atu.search;
  const TunePoint& p = s.tuneParam;
  if (p.swr > 0 && p.swr < s.miglioretuneParam.swr) {
    s.miglioretuneParam = p;
    trace("MIGLIORE:SWR %05.2f L %04d C %04d\n", static_cast<double>(p.swr), p.L, p.C);
  }
  const bool reached = fineTarget(works, p.swr);
  if (reached) targetFound(works, fineFoundLine(works), p.swr, false);
  VerifyStopAutotune(works);
  return reached;
}

// Fine-2 evaluation.
bool TuneStepCompleteFine(Works& works) {
  measure(works);
  CtrlNuovoTune(works);
  const float swr = works.atu.search.tuneParam.swr;
  const bool reached = fineTarget(works, swr);
  if (reached) targetFound(works, fineFoundLine(works), swr, false);
  VerifyStopAutotune(works);
  return reached;
}

// The two waits for drive power. Returns nothing; advances tuneStep.
void waitTransmit(Works& works) {
  AtuState& atu = works.atu;
  if (works.bands.freqInterface.load() == FreqInterface::ExtIo && atu.trxTransmitting.load() == 0) {
    return;
  }
  sleepMs(3);
  atu.tuneCounter = 3;
  atu.search.cnttune = 0;
  advance(atu.tuneStep);
}

void waitDrive(Works& works) {
  AtuState& atu = works.atu;
  TuneSearch& s = atu.search;
  sleepMs(10);
  if (works.amp.rawPwrIn.load() > 75) {
    if (--atu.tuneCounter == 0) advance(atu.tuneStep);
  }
  ++s.cnttune;
  if (s.cnttune > 30) {
    trace("ERRORE TUNE PWR IN!!!\n ");
    atu.tuneStep = AutotuneStep::Fine2Save;
    atu.tunePowerError = 1;
  }
  trace("wait tune... %i (%i)\n ", s.cnttune, atu.tuneCounter.load());
  works.ui.noticeFlags.fetch_or(kNoticeWaitingForTune);
}

void startNetwork(Works& works, uint32_t modeBit, const char* line) {
  clearWaitingNotice(works);
  works.atu.search.cnttune = 0;
  setNetwork(works, modeBit);
  trace("%s", line);
  setL(works, 0);
  setC(works, 0);
  advance(works.atu.tuneStep);
}

// Coarse stepping after an evaluation: L doubles up to 256, then C doubles (512 is 511).
// Returns false when the combinations are exhausted.
bool nextCoarse(Works& works) {
  const int l = works.atu.tuneL.load();
  const int c = works.atu.tuneC.load();
  if (l <= 255) {
    setL(works, 2 * l);
  } else if (c != 511) {
    setC(works, std::min(2 * c, 511));
    setL(works, 4);
  } else {
    return false;
  }
  return true;
}

void storeFineRow(Works& works) {
  TuneSearch& s = works.atu.search;
  const int row = 18 + std::clamp(works.atu.tuneCounter.load(), 0, 17);
  s.TUNEtableL[static_cast<size_t>(row)] = s.miglioretuneParam;
}

// One fine-pass step on C or L in one direction; delta +1 or -1.
// Returns true when the direction is exhausted.
bool fineStep(Works& works, bool onC, int delta, std::atomic<int>& span) {
  const int now = onC ? works.atu.tuneC.load() : works.atu.tuneL.load();
  const int next = now + delta;
  if (next > 511 || next < 0) {
    span = 0;
  } else if (onC) {
    setC(works, next);
  } else {
    setL(works, next);
  }
  return --span < 0;
}

// Fine-2 step on C: stops at the first reading worse than the one before.
bool fine2StepC(Works& works, int delta) {
  AtuState& atu = works.atu;
  const TuneSearch& s = atu.search;
  const int newest = static_cast<int>(s.vTuneParam[0].swr * 100);
  const int previous = static_cast<int>(s.vTuneParam[1].swr * 100);
  if (newest > previous) {
    atu.tuneSpanC = 0;
  } else {
    const int next = atu.tuneC.load() + delta;
    if (next > 511 || next < 0)
      atu.tuneSpanC = 0;
    else
      setC(works, next);
  }
  return --atu.tuneSpanC < 0;
}

}  // namespace

int coarseRow(const TunePoint& point) {
  const int l = point.L;
  int row = -1;
  if (l == 0) {
    row = 0;
  } else {
    for (int bit = 0; bit < 9; ++bit) {
      if ((l >> bit) & 1) {
        row = bit;
        break;
      }
    }
  }
  if (row < 0) return -1;
  return (point.value & kModeCL) != 0 ? row + 9 : row;
}

void Clr_vTuneParam(Works& works) {
  trace("TUNE CLEAR\n");
  TuneSearch& s = works.atu.search;
  works.atu.tuneResultSwr = 0;
  s.tuneParam = kEmpty;
  s.miglioretuneParam = kEmpty;
  s.vTuneParam.fill(kEmpty);
  s.TUNEtableL.fill(kEmpty);
}

void Clr_vTuneParam_fast(Works& works) {
  trace("TUNE CLEAR\n");
  AtuState& atu = works.atu;
  TuneSearch& s = atu.search;
  s.vTuneParam.fill(kEmpty);
  s.tuneParam = {works.amp.swr.load(), works.amp.pwrFwd.load(), atu.tuneL.load(), atu.tuneC.load(),
                 atu.tuneValue.load()};
  s.miglioretuneParam = s.tuneParam;
  s.starttuneParam = s.tuneParam;
  trace("START : SWRstart %05.2f \n", static_cast<double>(s.tuneParam.swr));
}

void CtrlNuovoTune(Works& works) {
  TuneSearch& s = works.atu.search;
  const TunePoint& p = s.tuneParam;
  if (p.swr > 0 && p.swr < s.miglioretuneParam.swr) {
    s.miglioretuneParam = p;
    trace("Migliore: SWR %05.2f (L%i C%i) \n", static_cast<double>(p.swr), p.L, p.C);
  }
  std::copy_backward(s.vTuneParam.begin(), s.vTuneParam.end() - 1, s.vTuneParam.end());
  s.vTuneParam[0] = p;
}

void TuneTableSearchL(Works& works) {
  TuneSearch& s = works.atu.search;
  const TunePoint& p = s.tuneParam;
  const int row = coarseRow(p);
  if (row < 0) return;
  TunePoint& slot = s.TUNEtableL[static_cast<size_t>(row)];
  if (p.swr > 0 && p.swr < slot.swr) {
    slot = p;
    trace("\n Insert TuneTable Course %i: SWR %05.2f (L%i C%i)", row, static_cast<double>(p.swr),
          p.L, p.C);
  }
}

void SortTuneTab(Works& works) {
  trace(" ---------------------- SORT TABLE:\n");
  auto& t = works.atu.search.TUNEtableL;
  for (int pass = 0; pass < 18; ++pass) {
    for (size_t j = 0; j + 1 < 18; ++j) {
      if (t[j].swr > t[j + 1].swr) std::swap(t[j], t[j + 1]);
    }
  }
}

void SortTuneTab2(Works& works) {
  trace(" ---------------------- SORT TABLE:\n");
  auto& t = works.atu.search.TUNEtableL;
  for (int pass = 0; pass < 18; ++pass) {
    for (size_t j = 0; j + 1 < 18; ++j) {
      if (t[18 + j].swr > t[19 + j].swr) {
        std::swap(t[18 + j], t[19 + j]);
        std::swap(t[j], t[j + 1]);  // each fine result stays beside its coarse row
      }
    }
  }
}

void StampaTuneTabL(const Works& works) {
  const auto& t = works.atu.search.TUNEtableL;
  trace(" ---------------------- \n");
  for (size_t i = 0; i < 18; ++i) {
    const TunePoint& a = t[i];
    const TunePoint& b = t[18 + i];
    trace("TUNEtab C %02i) SWR %05.2f FRW %05.2f L%4d C%4d T %08x %s", static_cast<int>(i),
          static_cast<double>(a.swr), static_cast<double>(a.fwd), a.L, a.C, a.value,
          networkTag(a.value));
    trace("   ->Fine: SWR %05.2f FRW %05.2f L%4d C%4d T %08x %s\n", static_cast<double>(b.swr),
          static_cast<double>(b.fwd), b.L, b.C, b.value, networkTag(b.value));
  }
  trace(" ---------------------- \n");
}

void TuneEnd(Works& works) {
  AtuState& atu = works.atu;
  TuneSearch& s = atu.search;
  s.tuneParam = s.miglioretuneParam;
  const TunePoint& b = s.miglioretuneParam;
  works.amp.swr = b.swr;
  works.amp.pwrFwd = b.fwd;
  atu.tuneL = b.L;
  atu.tuneC = b.C;
  atu.tuneValue = b.value;
  atu.tuneResultSwr = b.swr;
  trace("miglioretuneParam %d-%d) SWR %05.2f FRW %05.2f L%4d C%4d T %08x %s", s.cnttune,
        stepNumber(atu.tuneStep.load()), static_cast<double>(b.swr), static_cast<double>(b.fwd),
        b.L, b.C, b.value, networkTag(b.value));
  trace(" (==>SWR %05.2f) TuneEnd\n", static_cast<double>(b.swr));
}

void VerifyStopAutotune(Works& works) {
  if (works.bands.freqInterface.load() == FreqInterface::ExtIo &&
      works.atu.trxTransmitting.load() == 0) {
    trace("esc tune TUNEMENU Da PEX\n");
    EscAutoTune(works, 0);
    works.atu.tuneFlags.fetch_or(kTuneRefused);
  }
}

void EscAutoTune(Works& works, int save) {
  AtuState& atu = works.atu;
  TuneSearch& s = atu.search;
  {
    std::scoped_lock lock(atu.searchMutex);
    if (s.miglioretuneParam.swr <= 6.0f) {
      if (save == 1) {
        InsertTuneToMem(works, works.set.NumBanco.load(),
                        std::clamp(works.set.NumAntenna.load(), 0, kAntennas - 1));
      }
    } else {
      AddErrore(works, atu.tunePowerError.load() == 1 ? Err::TuneLowPower : Err::TuneMaxSwr);
      trace("------- ERRORE MAX TUNE (%f)\n", static_cast<double>(s.tuneParam.swr));
    }
  }
  sleepMs(1000);
  IncPNTIn_CMDLinear(CmdATstep, works);
  {
    std::scoped_lock lock(atu.searchMutex);
    s.cnttune = 0;
  }
  if ((works.set.AutoTuneMode.load() & 1) != 0) atu.tuneFlags.fetch_or(kTuneAskReceive);
  works.amp.tsRow = -1;
  trace("------- Esc AutoTune (0x%x)\n", atu.tuneFlags.load());
  atu.tuneState = TuneState::Idle;
  clearWaitingNotice(works);
  atu.tunePowerError = 0;
}

void StartAutotune(Works& works) {
  AtuState& atu = works.atu;
  if (atu.tunerBypassed.load() == 1) {
    atu.tuneFlags.fetch_or(kTuneRefused);
    return;
  }
  if (atu.fineTuneRequest.load() == 1) {
    atu.tuneStep = AutotuneStep::Fine2Start;
    trace("TUNE FINE------------!!!!!!!!!!!!!!!!!!!!!!!!!!\n ");
  } else {
    atu.tuneStep = AutotuneStep::Start;
    trace("TUNE COMPLETE------------ TIPO: %c !!!!!!!!!!!!!!!!!!!!!!!!!!\n ",
          works.set.text.flag(Slot::AutoTuneTipo));
  }
  IncPNTIn_CMDLinear(CmdMP1, works);
  if ((works.amp.statusA.load() & 0x01) != 0) {
    atu.antennaInUse = 0;
    IncPNTIn_CMDLinear(CmdAN, works);
  }
  IncPNTIn_CMDLinear(CmdATtune, works);
  works.amp.tsPwrIn = 4095;
  IncPNTIn_CMDLinear(CmdTS, works);
  atu.tunerBypassed = 0;
  IncPNTIn_CMDLinear(CmdCP, works);
  IncPNTIn_CMDLinear(CmdMP0, works);
  works.amp.cmdQueueDrain = 1;
  atu.tuneState = TuneState::Tuning;
  trace("----------------------------------- START AUTO TUNE (%x) %i\n", atu.tuneFlags.load(),
        stepNumber(atu.tuneStep.load()));
}

void GoTune(Works& works) {
  AtuState& atu = works.atu;
  if ((works.set.TUNEenabled.load() & 0x80) != 0) return;
  if (atu.tuneState.load() != TuneState::Idle) {
    trace("esc tune TUNEMENU\n");
    EscAutoTune(works, 0);
    return;
  }
  trace("c-START TUNE (%x)!!\n", atu.tuneFlags.load());
  if ((works.set.AutoTuneMode.load() & 1) == 0 || (atu.tuneFlags.load() & kTuneRefused) != 0) {
    trace("NO TUNE!!\n");
    works.ui.noticeFlags.fetch_or(kNoticeTuneNotEnabled);
    return;
  }
  StartAutotune(works);
  trace("b-START TUNE %i!!\n", stepNumber(atu.tuneStep.load()));
  if (works.bands.freqInterface.load() == FreqInterface::ExtIo) {
    atu.tuneFlags.fetch_and(static_cast<uint8_t>(~kTuneCarrierAsked));
    atu.tuneFlags.fetch_or(kTuneByKey);
    trace("a-START TUNE!!\n");
  }
}

void TuneTask(Works& works) {
  AtuState& atu = works.atu;
  TuneSearch& s = atu.search;
  if (works.amp.cmdQueueDrain.load() == 1) return;
  std::scoped_lock lock(atu.searchMutex);
  const int limit = SWRTimeoutCICLI[std::clamp(works.set.AutoTuneMaxCicli.load(), 0, 4)];
  if (limit < s.cnttune) {
    trace("%d max cicli-> esco\n", s.cnttune);
    TuneEnd(works);
    EscAutoTune(works, 0);
    AddErrore(works, works.set.swrTarget.load() != 0 ? Err::TuneSwrWarning : Err::TuneTimeout);
    AttivaDisattivaProtezione(works, true);
    return;
  }
  std::atomic<AutotuneStep>& step = atu.tuneStep;
  switch (step.load()) {
    // ---- complete tune: coarse search ----
    case AutotuneStep::Start:
      atu.tuneCounter = 0;
      Clr_vTuneParam(works);
      trace("--------------------  start auto tune bit combination\n");
      advance(step);
      break;
    case AutotuneStep::WaitTransmit:
    case AutotuneStep::Fine2WaitTransmit:
      waitTransmit(works);
      break;
    case AutotuneStep::WaitDrive:
    case AutotuneStep::Fine2WaitDrive:
      waitDrive(works);
      break;
    case AutotuneStep::NetworkA:
      startNetwork(works, kModeLC, "----> A\n");
      break;
    case AutotuneStep::NetworkB:
      startNetwork(works, kModeCL, "----> B\n");
      break;
    case AutotuneStep::CoarseFirstA:
    case AutotuneStep::CoarseFirstB:
      if (TuneStep(works)) break;
      setC(works, 1);
      setL(works, 4);
      advance(step);
      break;
    case AutotuneStep::CoarseA:
      if (TuneStep(works)) break;
      if (!nextCoarse(works)) advance(step);
      break;
    case AutotuneStep::CoarseB:
      if (TuneStep(works)) break;
      if (!nextCoarse(works)) {
        advance(step);
        atu.tuneCounter = 0;
        TuneEnd(works);
      }
      break;
    case AutotuneStep::CoarsePause:
      sleepMs(100);
      advance(step);
      break;
    case AutotuneStep::CoarseSort:
      ImpostaLblManuale(works);
      StampaTuneTabL(works);
      SortTuneTab(works);
      StampaTuneTabL(works);
      atu.tuneCounter = 0;
      step = AutotuneStep::FineStart;
      trace("------------ end tune bit type------------ START FINE:\n ");
      break;
    // ---- complete tune: fine passes ----
    case AutotuneStep::FineStart:
      advance(step);
      Clr_vTuneParam_fast(works);
      atu.tuneSpanC = 3;
      atu.tuneSpanL = 20;
      atu.tuneValue = s.tuneParam.value;
      showFineOnMainScreen(works);
      atu.tuneC = s.tuneParam.C;
      atu.tuneL = s.tuneParam.L;
      break;
    case AutotuneStep::FineCUp:
      if (TuneStepComplete(works)) {
        storeFineRow(works);
        step = AutotuneStep::FineNext;
        break;
      }
      if (fineStep(works, true, +1, atu.tuneSpanC)) {
        atu.tuneSpanC = 3;
        applyPoint(works, s.miglioretuneParam);
        advance(step);
      }
      break;
    case AutotuneStep::FineCDown:
      if (TuneStepComplete(works)) {
        storeFineRow(works);
        step = AutotuneStep::FineNext;
        break;
      }
      if (fineStep(works, true, -1, atu.tuneSpanC)) {
        applyPoint(works, s.miglioretuneParam);
        atu.tuneSpanC = 3;
        atu.tuneSpanL = 20;
        advance(step);
      }
      break;
    case AutotuneStep::FineLUp:
      if (TuneStepComplete(works)) {
        storeFineRow(works);
        step = AutotuneStep::FineNext;
        break;
      }
      if (fineStep(works, false, +1, atu.tuneSpanL)) {
        atu.tuneSpanL = 20;
        applyPoint(works, s.miglioretuneParam);
        advance(step);
      }
      break;
    case AutotuneStep::FineLDown:
      if (TuneStepComplete(works)) {
        storeFineRow(works);
        step = AutotuneStep::FineNext;
        break;
      }
      if (fineStep(works, false, -1, atu.tuneSpanL)) {
        storeFineRow(works);
        advance(step);
      }
      break;
    case AutotuneStep::FineNext: {
      const int next = ++atu.tuneCounter;
      if (next <= 2 && s.TUNEtableL[static_cast<size_t>(next)].swr < 10.0f) {
        s.miglioretuneParam = s.TUNEtableL[static_cast<size_t>(next)];
        TuneEnd(works);
        applyPoint(works, s.miglioretuneParam);
        trace("------------ NEXT TUNE FINE %i L%4d C%4d T %08x:\n ", next, atu.tuneL.load(),
              atu.tuneC.load(), atu.tuneValue.load());
        step = AutotuneStep::FineAgain;
      } else {
        SortTuneTab2(works);
        s.miglioretuneParam = s.TUNEtableL[18];
        TuneEnd(works);
        applyPoint(works, s.miglioretuneParam);
        trace("------------ END TUNE FINE %i) L%4d C%4d T %08x:\n ", next, atu.tuneL.load(),
              atu.tuneC.load(), atu.tuneValue.load());
        step = AutotuneStep::FineEnd;
        atu.tuneCounter = 0;
      }
      break;
    }
    case AutotuneStep::FineAgain:
      step = AutotuneStep::FineStart;
      break;
    case AutotuneStep::FineEnd:
      StampaTuneTabL(works);
      step = AutotuneStep::Fine2Start;
      trace("------------ START TUNE FINE 2 \n ");
      break;
    // ---- fine 2 (the whole of a fine tune) ----
    case AutotuneStep::Fine2Start:
      advance(step);
      Clr_vTuneParam_fast(works);
      atu.tuneValue = s.tuneParam.value;
      atu.tuneC = s.tuneParam.C;
      atu.tuneL = s.tuneParam.L;
      showFineOnMainScreen(works);
      break;
    case AutotuneStep::Fine2Begin:
      clearWaitingNotice(works);
      Clr_vTuneParam_fast(works);
      atu.tuneSpanC = 32;
      atu.tuneSpanL = 5;
      advance(step);
      break;
    case AutotuneStep::Fine2CUp:
    case AutotuneStep::Fine2CUpAbove:
      if (TuneStepCompleteFine(works)) break;
      if (fine2StepC(works, +1)) {
        atu.tuneSpanC = 32;
        setC(works, s.starttuneParam.C);
        advance(step);
      }
      break;
    case AutotuneStep::Fine2CDown:
    case AutotuneStep::Fine2CDownAbove:
      if (TuneStepCompleteFine(works)) break;
      if (fine2StepC(works, -1)) {
        setC(works, s.starttuneParam.C);
        atu.tuneSpanC = 32;
        step = step.load() == AutotuneStep::Fine2CDown ? AutotuneStep::Fine2LDown
                                                       : AutotuneStep::Fine2LUp;
      }
      break;
    case AutotuneStep::Fine2LDown:
      if (TuneStepCompleteFine(works)) break;
      if (atu.tuneL.load() - 1 < 0)
        atu.tuneSpanL = 0;
      else
        setL(works, atu.tuneL.load() - 1);
      if (--atu.tuneSpanL < 0) {
        advance(step);
        atu.tuneSpanL = 5;
        setL(works, s.starttuneParam.L);
        setC(works, s.starttuneParam.C);
      } else {
        trace("--- start new C:\n");
        step = AutotuneStep::Fine2CUp;
        atu.tuneSpanC = 32;
      }
      break;
    case AutotuneStep::Fine2LUp:
      if (TuneStepCompleteFine(works)) break;
      if (atu.tuneL.load() + 1 > 511)
        atu.tuneSpanL = 0;
      else
        setL(works, atu.tuneL.load() + 1);
      if (--atu.tuneSpanL < 0) {
        atu.tuneSpanL = 5;
        TuneEnd(works);
        step = AutotuneStep::Fine2Hold;
      } else {
        trace("--- start new C:\n");
        setC(works, s.starttuneParam.C);
        advance(step);
        atu.tuneSpanC = 32;
      }
      break;
    case AutotuneStep::Fine2Hold:
      ++atu.tuneCounter;
      sleepMs(100);
      if (atu.tuneCounter.load() > 5) advance(step);
      break;
    case AutotuneStep::Fine2Save:
      EscAutoTune(works, 1);
      break;
    default:
      // A step no phase knows: end the tune rather than hold the amplifier in it.
      EscAutoTune(works, 0);
      break;
  }
}

}  // namespace corvid

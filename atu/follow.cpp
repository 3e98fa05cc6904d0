#include "atu/follow.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "amp/amp.h"
#include "amp/link.h"
#include "atu/atu.h"
#include "bands/bands.h"
#include "core/works.h"
#include "errors/errors.h"
#include "platform/log.h"
#include "trx/trx.h"

namespace corvid {

using platform::trace;

namespace {
constexpr int kMainScreen = 0;
constexpr int kTuningScreen = 3;

void activity(Works& works, std::time_t now) { works.core.lastActivity = static_cast<int64_t>(now); }
}  // namespace

void LabelByPassNova(Works& works, const char* text) {
  if (works.ui.panelState.load() == kTuningScreen && works.atu.hooks.setKeyLabel != nullptr) {
    works.atu.hooks.setKeyLabel(works, kTuningScreen, 4, text);
  }
}

void GestioneLoadTuneVal(Works& works, int) {
  if (works.atu.tuneState.load() != 0) return;
  const int antenna = std::clamp(works.set.NumAntenna.load(), 0, kAntennas - 1);
  AtuSegment seg;
  const int idx = AtuIdxSearch(static_cast<long>(works.ui.trxFreq.load()), &seg);
  if (EsisteTuneValInTabRam(works, idx, seg.firstIdx, seg.lastIdx, antenna) == 1) {
    trace("CAMBIO FREQ: BP!!\n");
    works.atu.tuneInfoText.set("No Tune Data Available (L0,C0)");
    IncPNTIn_CMDLinear(CmdMTdefault, works);
  } else {
    trace("CAMBIO FREQ: LOAD MEM TUNE!!\n");
    IncPNTIn_CMDLinear(CmdMTmemory, works);
  }
}

void GestioneAntennaAutomatica(Works& works) {
  AtuState& atu = works.atu;
  atu.lastBandApplied = 100;
  const BandTable::Snapshot table = works.bands.bands.get();
  const int i = bandIndexFor(works, works.ui.trxFreq.load());
  if (i < 0) return;
  atu.lastBandApplied = i;
  const BandRow& row = table.rows[static_cast<size_t>(i)];
  // Antenna.
  if (row.Ant != 0 && row.Ant != works.set.NumAntenna.load() + 1) {
    works.set.NumAntenna = row.Ant - 1;
    if (works.ui.panelState.load() == kMainScreen && atu.hooks.setKeyLabel != nullptr) {
      char label[16];
      std::snprintf(label, sizeof label, "Auto %d", row.Ant);
      atu.hooks.setKeyLabel(works, kMainScreen, 3, label);
    }
    IncPNTIn_CMDLinear(CmdSA, works);
  }
  // Tuner.
  if (row.Atu == 1) {
    IncPNTIn_CMDLinear(CmdMTbypassZero, works);
    atu.tuneInfoText.set("Antenna Tuner Bypassed");
  } else {
    GestioneLoadTuneVal(works, 1);
  }
  // Drive power asked of the transceiver, in steps of 100 mW.
  const double mw = std::isfinite(row.PwrIn) ? static_cast<double>(row.PwrIn) * 1000 : 0;
  const int d = (static_cast<int>(std::clamp(mw, 0.0, 1e6)) / 100) * 100;
  trace("ANTENNA TAB :  %i  %i\n", d, works.trx.pexPowerValue.load());
  if (d > 0) {
    works.trx.pexPowerValue = d;
    works.trx.pexPowerRequest.fetch_or(0x01);
    trace("GO ANTENNA TAB :  %i  %i\n", d, works.trx.pexPowerValue.load());
  }
  // Amplifier and attenuator.
  if (row.AmpEnable == 1) {
    if (works.amp.ampBypass.load() == 1) {
      LabelByPassNova(works, "Off");
      IncPNTIn_CMDLinear(CmdAB0, works);
    }
    trace("---------------  ANTENNA AUTOMATICA: %i (set %i), %i (%i)\n", atu.attStep.load(),
          works.amp.attReported.load(), row.Att, i);
    atu.attSelect = row.Att;
    if (atu.attStep.load() != row.Att) {
      atu.attStep = row.Att;
      IncPNTIn_CMDLinear(CmdATstep, works);
    }
  } else if (works.amp.ampBypass.load() == 0) {
    IncPNTIn_CMDLinear(CmdAB1, works);
    LabelByPassNova(works, "On");
  }
  if (works.amp.hooks.SetAttenuatorLabel != nullptr) works.amp.hooks.SetAttenuatorLabel(works);
}

void SetAnt(Works& works) {
  IncPNTIn_CMDLinear(CmdSA, works);
  SaveToBank(works, works.set.NumBanco.load(), works.set.NumAntenna.load());
  if (works.atu.tunerBypassed.load() == 0) GestioneLoadTuneVal(works, 1);
}

void SetAtt(Works& works) {
  AtuState& atu = works.atu;
  int select = atu.attSelect.load();
  if ((works.amp.statusB.load() & 0x01) != 0) {
    if (works.amp.ampBypass.load() == 1) AddErrore(works, 17);
    else if (select > 3) select = 0;  // no standby while transmitting
  } else if (select > 4) {
    select = 0;
  }
  atu.attSelect = select;
  if (select <= 3) {
    atu.attStep = select;
    IncPNTIn_CMDLinear(CmdATstep, works);
    if (works.amp.ampBypass.load() == 1) {
      trace("------------- 2 SET AB0!!\n");
      IncPNTIn_CMDLinear(CmdAB0, works);
    }
  } else if (select == 4 && works.amp.ampBypass.load() == 0) {
    IncPNTIn_CMDLinear(CmdAB1, works);
  }
  SaveToBank(works, works.set.NumBanco.load(), works.set.NumAntenna.load());
}

void followFrequency(Works& works, FollowCycle& cycle, std::time_t now) {
  AtuState& atu = works.atu;
  const bool ampTransmitting = (works.amp.statusB.load() & 0x01) != 0;
  const int iface = works.bands.freqInterface.load();
  PexParams& pex = cycle.pex;
  // 8. The operating frequency from the bank's source.
  if (iface == 1) {
    // A bounded try-lock: a busy lock leaves the last copy for this cycle.
    if (getParameters(pex, works) && !ampTransmitting) works.ui.trxFreq = pex.freq;
  } else {
    works.ui.trxFreq = iface == 2 ? works.trx.catSerFreq.load() : works.amp.ampFreq.load();
    if (atu.antennaInUse.load() > 0) {
      atu.antennaInUse = 0;
      IncPNTIn_CMDLinear(CmdAN, works);
    }
  }
  // 9. Once a second: the transceiver's PTT-out request.
  if (now != cycle.lastSecond) {
    cycle.lastSecond = now;
    if (iface == 1 && pex.pttOut == 1 && (works.trx.pexRequests.load() & 0x01) != 0 &&
        pex.transmit == 0) {
      works.trx.pexRequests.fetch_or(0x02);
      trace("SET PTTOUT... %i %i \n", pex.pttOut, pex.transmit);
    }
  }
  // 10. The follow-up of a new frequency, never while the amplifier transmits.
  const uint32_t freq = works.ui.trxFreq.load();
  if (!ampTransmitting && (freq != works.ui.lastTrxFreq.load() || atu.lastBandApplied.load() == -1)) {
    if (iface != 0) IncPNTIn_CMDLinear(CmdFA, works);
    SetFilterFromfreq(works);
    SearchCambioSoglie_TS(works);
    GestioneAntennaAutomatica(works);
    works.ui.lastTrxFreq = freq;
    atu.fineTuneRequest = 0;
    activity(works, now);
  }
  // 11. Interface 1: the transceiver's transmit state drives the tune on transmission.
  if (iface != 1) return;
  const int g = pex.transmit;
  if (g == 1) {
    atu.trxTransmitting = 1;
    activity(works, now);
  } else {
    atu.trxTransmitting = 0;
  }
  if (!ampTransmitting && atu.tuneState.load() == 0 && g == 0 &&
      pex.antennaInput != atu.antennaInUse.load()) {
    atu.antennaInUse = pex.antennaInput;
    IncPNTIn_CMDLinear(CmdAN, works);
    trace("----------***************** SET ANTENNA IN:%i (%i %i)\n", pex.antennaInput,
          atu.antennaInUse.load(), g);
  }
  if ((works.set.AutoTuneMode.load() & 1) == 0) return;
  const uint8_t flags = atu.tuneFlags.load();
  auto clearFlags = [&](uint8_t bits) { atu.tuneFlags.fetch_and(static_cast<uint8_t>(~bits)); };
  auto countUp = [&] {
    if (cycle.countA == 0) cycle.countA = cycle.countB;
    ++cycle.countB;
  };
  if (g == 1 && (flags & (kTuneByTransmission | kTuneByKey)) == 0) {
    if (works.trx.pexTxRequest.load() == 0 && works.trx.pexTxHold.load() == 0) {
      StartAutotune(works);
      atu.tuneFlags.fetch_or(kTuneByTransmission);
      cycle.countA = cycle.countB = 0;
    } else if (works.trx.pexTxHold.load() > 0) {
      --works.trx.pexTxHold;
    }
  }
  if (g == 1 && (flags & kTuneRefused) != 0) {
    if (cycle.countA + 10 < cycle.countB) clearFlags(kTuneByTransmission | kTuneByKey | kTuneRefused);
    else countUp();
  }
  if (g == 0 && (flags & kTuneRefused) != 0) {
    if (cycle.countA + 10 < cycle.countB) {
      clearFlags(kTuneByTransmission | kTuneByKey | kTuneRefused);
      cycle.countA = cycle.countB = 0;
    } else {
      countUp();
    }
  }
  if ((flags & kTuneByKey) != 0) {
    if (g == 0 && (flags & kTuneCarrierAsked) == 0) {
      if (works.amp.cmdQueue.empty()) {
        atu.tuneFlags.fetch_or(kTuneAskCarrier);
        cycle.countA = cycle.countB = 0;
      }
    } else if (g == 0) {
      if (cycle.countB <= 30) {
        ++cycle.countB;
      } else {
        EscAutoTune(works, 0);
        AddErrore(works, 14);
        clearFlags(kTuneByKey | kTuneCarrierAsked);
      }
    } else if ((flags & kTuneCarrierAsked) == 0) {
      cycle.countA = cycle.countB = 0;
    }
  }
}

}  // namespace corvid

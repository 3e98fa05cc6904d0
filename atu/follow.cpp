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

namespace corvid {

using platform::trace;

void LabelByPassNova(Works& works, const char* text) {
  if (works.ui.panelState.load() == PanelState::Tune) {
    works.ui.Novamenu.set(PanelState::Tune, 4, 2, text);
  }
}

void SetAttenuatorLabel(Works& works) {
  if (works.ui.panelState.load() != PanelState::Main) return;
  const int select = works.atu.attSelect.load();
  char label[16];
  if (select >= 0 && select <= 3) {
    std::snprintf(label, sizeof label, "  %sdB", AttVectStr[select]);
  } else {
    std::snprintf(label, sizeof label, "  %s", AttVectStr[4]);
  }
  works.ui.Novamenu.set(PanelState::Main, 2, 2, label);
}

void GestioneLoadTuneVal(Works& works, int) {
  if (works.atu.tuneState.load() != TuneState::Idle) return;
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
    if (works.ui.panelState.load() == PanelState::Main) {
      char label[16];
      std::snprintf(label, sizeof label, "Auto %d", row.Ant);
      works.ui.Novamenu.set(PanelState::Main, 3, 2, label);
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
  SetAttenuatorLabel(works);
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
    if (works.amp.ampBypass.load() == 1)
      AddErrore(works, Err::CmdNotAvailable);
    else if (select > 3)
      select = 0;  // no standby while transmitting
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

}  // namespace corvid

// The follow-up pass of the display loop: the operating frequency from the bank's
// source, the transceiver's PTT-out request, the band follow on a change, and the tune
// on transmission of the EXT IO transceiver.
#include "ui/follow_cycle.h"

#include "amp/amp.h"
#include "amp/link.h"
#include "atu/atu.h"
#include "atu/follow.h"
#include "bands/bands.h"
#include "core/works.h"
#include "errors/errors.h"
#include "platform/log.h"
#include "trx/trx.h"

namespace corvid {

using platform::trace;

namespace {
void activity(Works& works, std::time_t now) {
  works.core.lastActivity = static_cast<int64_t>(now);
}
}  // namespace

void followFrequency(Works& works, FollowCycle& cycle, std::time_t now) {
  AtuState& atu = works.atu;
  const bool ampTransmitting = (works.amp.statusB.load() & 0x01) != 0;
  const FreqInterface iface = works.bands.freqInterface.load();
  PexParams& pex = cycle.pex;
  // 8. The operating frequency from the bank's source.
  if (iface == FreqInterface::ExtIo) {
    // A bounded try-lock: a busy lock leaves the last copy for this cycle.
    if (getParameters(pex, works) && !ampTransmitting) works.ui.trxFreq = pex.freq;
  } else {
    works.ui.trxFreq =
        iface == FreqInterface::Ft817 ? works.trx.catSerFreq.load() : works.amp.ampFreq.load();
    if (atu.antennaInUse.load() > 0) {
      atu.antennaInUse = 0;
      IncPNTIn_CMDLinear(CmdAN, works);
    }
  }
  // 9. Once a second: the transceiver's PTT-out request.
  if (now != cycle.lastSecond) {
    cycle.lastSecond = now;
    if (iface == FreqInterface::ExtIo && pex.pttOut == 1 &&
        (works.trx.pexRequests.load() & 0x01) != 0 && pex.transmit == 0) {
      works.trx.pexRequests.fetch_or(0x02);
      trace("SET PTTOUT... %i %i \n", pex.pttOut, pex.transmit);
    }
  }
  // 10. The follow-up of a new frequency, never while the amplifier transmits.
  const uint32_t freq = works.ui.trxFreq.load();
  if (!ampTransmitting &&
      (freq != works.ui.lastTrxFreq.load() || atu.lastBandApplied.load() == -1)) {
    if (iface != FreqInterface::Generic) IncPNTIn_CMDLinear(CmdFA, works);
    SetFilterFromfreq(works);
    SearchCambioSoglie_TS(works);
    GestioneAntennaAutomatica(works);
    works.ui.lastTrxFreq = freq;
    atu.fineTuneRequest = 0;
    activity(works, now);
  }
  // 11. EXT IO: the transceiver's transmit state drives the tune on transmission.
  if (iface != FreqInterface::ExtIo) return;
  const int g = pex.transmit;
  if (g == 1) {
    atu.trxTransmitting = 1;
    activity(works, now);
  } else {
    atu.trxTransmitting = 0;
  }
  if (!ampTransmitting && atu.tuneState.load() == TuneState::Idle && g == 0 &&
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
    if (cycle.countA + 10 < cycle.countB)
      clearFlags(kTuneByTransmission | kTuneByKey | kTuneRefused);
    else
      countUp();
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
        AddErrore(works, Err::TunePexAbort);
        clearFlags(kTuneByKey | kTuneCarrierAsked);
      }
    } else if ((flags & kTuneCarrierAsked) == 0) {
      cycle.countA = cycle.countB = 0;
    }
  }
}

}  // namespace corvid

// Run-time defaults of the shared record.
#include "core/settings.h"
#include "core/works.h"

namespace corvid {

void InitGlobalVar(Works& works) {
  works.core.running = 1;
  works.ui.redrawWorkImg = 1;
  works.ui.frameDelay = 40000;
  works.remote.audioSampleRate = 48000;
  works.remote.audioChannels = 2;
  works.remote.captureChunkSamples = 240;
  works.remote.playChunkSamples = 240;
  works.remote.opusBitrate = 30000;
  works.ui.trxFreq = 14070000;
  works.ui.lastTrxFreq = 14070000;
  works.spectrum.spanHz = 160000;
  works.amp.ampModel = 0xFF;
  works.amp.ampModelAux = 0xFF;
  works.amp.ampBypass = 1;
  works.errors.errorsMuted = 1;
  works.amp.tsRow = -1;
  works.atu.lastBandApplied = -1;
  works.amp.lastFanSent = -1;
  works.ui.tinyTransfer = tinyByte(TinyCode::Version);  // the first exchange
  works.amp.tsPwrIn = 4095;
  works.amp.tsFwd = 4095;
  works.amp.tsRefl = 1500;
  works.amp.tsCurrent = 3700;
  works.ui.number_ofStep_meter_FWD = 60;
  works.ui.number_ofStep_meter_REFL = 60;
  works.ui.number_ofStep_meter_SWR = 60;
  works.ui.number_ofStep_meter_PW = 60;
  // The numeric settings (ViewType 1, TcpPort 6666, AudioCompress 30000, TIME_LONG_PRESS,
  // the peak-hold globals, the waterfall limits, ...), except those that only a
  // complete reset sets.
  initSettingsNumbers(works);
  works.set.text.setFlag(Slot::AutoTuneTipo, '0');
  works.ui.savedViewType = -1;
  works.system.lanStatusText.set("No Conn");
}

}  // namespace corvid

#include "app/controller.h"

#include <opus/opus.h>

#include <algorithm>
#include <csignal>
#include <ctime>

#include "amp/amp.h"
#include "amp/link.h"
#include "atu/atu.h"
#include "bands/bands.h"
#include "core/works.h"
#include "errors/errors.h"
#include "gfx/picture.h"
#include "gfx/text.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "trx/trx.h"
#include "ui/display.h"
#include "ui/gpio.h"

namespace corvid {

namespace {

using platform::logError;
using platform::logInfo;
using platform::sleepMs;
using platform::trace;

void sighandler(int) {}

// Every signal from 1 to 30 is caught and ignored, except those that must keep their
// default action: SIGINT, SIGTERM, SIGCHLD and SIGIO. Uncatchable ones simply fail.
void installSignalHandlers() {
  for (int sig = 1; sig <= 30; ++sig) {
    if (sig == SIGINT || sig == SIGTERM || sig == SIGCHLD || sig == SIGIO) continue;
    struct sigaction action {};
    action.sa_handler = sighandler;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
  }
}

void createOpus(Works& works) {
  int err = 0;
  works.remote.opusEncoder = opus_encoder_create(48000, 2, OPUS_APPLICATION_AUDIO, &err);
  if (err != OPUS_OK || works.remote.opusEncoder == nullptr) {
    logError("failed to create an encoder: %s", opus_strerror(err));
    works.remote.opusBitrate = 0;
  } else if (const int rc = opus_encoder_ctl(works.remote.opusEncoder,
                                             OPUS_SET_BITRATE(works.remote.opusBitrate.load()));
             rc != OPUS_OK) {
    logError("failed to set bitrate: %s", opus_strerror(rc));
  }
  works.remote.opusDecoder = opus_decoder_create(48000, 2, &err);
  if (err != OPUS_OK || works.remote.opusDecoder == nullptr) {
    logError("failed to create decoder: %s", opus_strerror(err));
    works.set.AudioCompress = 0;
  }
}

void destroyOpus(Works& works) {
  if (works.remote.opusEncoder != nullptr) opus_encoder_destroy(works.remote.opusEncoder);
  if (works.remote.opusDecoder != nullptr) opus_decoder_destroy(works.remote.opusDecoder);
  works.remote.opusEncoder = nullptr;
  works.remote.opusDecoder = nullptr;
}

// The power controller is told to force remote (149) or local (165) operation, unless a
// recent firmware already reports that mode.
void forcePowerMode(Works& works, bool remote) {
  const int version = works.core.tinyVersion.load();
  const bool remoteNow = (works.core.tinyStatus.load() & 1) != 0;
  const char* mode = remote ? "Remote" : "Local";
  const uint8_t code = remote ? 149 : 165;
  if (version > 7 && !remoteNow) {
    trace("************Force %s 1\n", mode);
    CmandoTinyconAttesaStato(works, code);
  } else if (version <= 7) {
    trace("************Force %s 2\n", mode);
    CmandoTinyconAttesaStato(works, code);
  }
}

void remoteOrLocalStart(Works& works) {
  if (works.set.LocalRemote.load() == 1) {
    ExitThreadRemote(works);
    sleepMs(2000);
    forcePowerMode(works, true);
    StartThreadCommRemote(works);
    sleepMs(2000);
  } else {
    forcePowerMode(works, false);
  }
}

void shutdown(Works& works) {
  trace("Close..\n");
  showClosing(works);
  sleepMs(2000);
  logInfo("Communicator operations end");
  joinThreads(works);
  destroyOpus(works);
  trace("Closed!\n");
}

}  // namespace

void wireSubsystems(Works& works) {
  ThreadSet& threads = works.core.threads;
  threads.setBody(ThreadId::LoadThread, &LoadThread);
  threads.setBody(ThreadId::Linear, &Linear);
  threads.setBody(ThreadId::GPIO, &GPIO);
  threads.setBody(ThreadId::timer, &timer);
  CoreHooks& hooks = works.core.hooks;
  hooks.DeleteErrore = &DeleteErrore;
  hooks.InitMicroCmd = &InitMicroCmd;
  hooks.showLoading = &showLoading;
  wireTuner(works);
  wireBands(works);
  wireTrx(works);
}

int runController(Works& works) {
  trace("START Main ----------------------------------------------------------------\n");
  trace("CORVID version %s\n", kVersion);
  logInfo("CORVID version %s", kVersion);

  works.gfx.fb = fbInit();

  installSignalHandlers();

  works.core.version = kVersion;
  works.core.initDone = 0;

  InitGlobalVar(works);
  works.ui.StepTune1 = 8;
  works.ui.CntIP = 3;
  works.ui.CntDNS = 3;
  works.ui.CntNetMask = 3;
  works.ui.CntGateway = 3;

  LoadNameCORVID(works);
  InitMicroCmd(works);
  for (int table = 0; table < 3; ++table) ReadVentolaFile(works, table);
  LoadTabFiltri(works);

  readSetup(works);
  // The error records are needed as soon as the link runs; the EXT IO port's record
  // names the port of the settings just read.
  initErrorTable(works);
  LoadConfigOffsetFile(works);
  ReadConfigFile(works);
  VerifyTemperature(works);

  works.spectrum.divX = 16;
  works.spectrum.divY = 10;
  works.spectrum.xRangeStart = 0;
  works.spectrum.xRangeEnd = 854;

  LoadAllBankTable(works, works.set.NumBanco.load());
  works.atu.lastBandApplied = -1;
  trace("ModeWorkIdx %i \n", works.bands.freqInterface.load());

  loadPanelFonts();

  startTableThread(works, ThreadId::GPIO);
  sleepMs(1000);
  CmandoTinyconAttesaStato(works, 197);
  sleepMs(100);

  StartThreadLinear(works);
  sleepMs(1000);

  works.core.waitPEX = 10;
  works.core.lastActivity = static_cast<int64_t>(std::time(nullptr));

  works.core.splashName.set(works.amp.ampModel.load() == '1' ? "start120" : "start");
  showBackground(works);

  works.core.startInitThread = 1;
  startTableThread(works, ThreadId::LoadThread);
  sleepMs((works.core.waitPEX.load() + 1) * 1000L);
  works.core.startInitThread = 0;

  StartThreadLANinfo(works);
  startTableThread(works, ThreadId::AggFWThread);

  works.core.splashName.set("statusB");
  showBackground(works);
  {
    PexParams pex;
    getParameters(pex, works);
  }

  createOpus(works);

  startTableThread(works, ThreadId::keyb);
  StartThreadSoket(works);
  StartThreadPEX(works);

  remoteOrLocalStart(works);

  StartThreadCATserial(works);
  startTableThread(works, ThreadId::timer);

  while (works.core.running.load() != 0) sleepMs(1000);

  shutdown(works);
  return 0;
}

}  // namespace corvid

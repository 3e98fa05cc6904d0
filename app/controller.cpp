// The controller's spine: start-up in its fixed order, the wait on running, the shutdown.
//
// Layers. Each may call the layers it names and nothing above itself; every layer may use
// the shared record (core/works.h and the *_state.h parts it aggregates, plain data):
//
//   app       runs the start-up; app/wiring.cpp joins the layers
//   ui        keys, display loop, follow-up pass, screens   -> every layer below
//   spectrum  IQ capture and FFT, spectrum view             -> remote, gfx, trx, bands, core
//   remote    server, remote commands, audio, Opus codec    -> trx, atu, bands, amp, errors, core
//   system    network, updates, information file            -> amp, errors, core
//   gfx       framebuffer, text, pictures                   -> core
//   trx       FT-817 and EXT IO links, CAT port             -> errors, core
//   atu       tune value, memories, tuning, band follow     -> bands, amp, errors, core
//   bands     band tables and banks, receive filters        -> amp, errors, core
//   amp       amplifier link, replies, calibration, fans    -> errors, core
//   errors    error registry and handling                   -> core
//   core      thread set, settings, start-up countdown      -> platform
//   platform  devices, files, shell, sockets, sound, USB    -> the system and its libraries
//
// A lower layer reaches a higher one only through a hook of its state part (CoreHooks,
// ErrorsHooks, AmpHooks, BandsHooks, TrxHooks), filled in app/wiring.cpp and nowhere else.
// Each folder's CMakeLists.txt names exactly the layers its includes need, and
// tools/check-layers.sh (a test) holds the tree to this.
#include "app/controller.h"

#include <ctime>

#include "amp/amp.h"
#include "amp/link.h"
#include "bands/bands.h"
#include "core/settings.h"
#include "core/threads.h"
#include "core/works.h"
#include "errors/errors.h"
#include "gfx/framebuffer.h"
#include "gfx/picture.h"
#include "gfx/text.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/signals.h"
#include "remote/opus_codec.h"
#include "remote/remote_checks.h"
#include "scope/plotter.h"
#include "scope/scope_view.h"
#include "system/network.h"
#include "trx/trx.h"
#include "ui/keys.h"
#include "ui/menu.h"
#include "ui/screens.h"

namespace corvid {

namespace {

using platform::logError;
using platform::logInfo;
using platform::sleepMs;
using platform::trace;

// The power controller is told to force remote or local operation, unless a
// recent firmware already reports that mode.
void forcePowerMode(Works& works, bool remote) {
  const int version = works.core.tinyVersion.load();
  const bool remoteNow = (works.core.tinyStatus.load() & 1) != 0;
  const char* mode = remote ? "Remote" : "Local";
  const TinyCode code = remote ? TinyCode::ForceRemote : TinyCode::ForceLocal;
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
    // The checks only tell: the remote threads start in any case, and each reports what
    // it cannot find.
    const int settings = Find_Remote_Settings(works);
    const int audio = Get_AudioPEX(works);
    if (settings == 0 && works.set.text.flag(Slot::extIoEnable) == '1' && audio != 0) {
      trace("Remote GO!\n");
    } else {
      logInfo("Remote checks: settings %d (1 no transceiver on USB, 2 no CAT port, 3 no USB "
              "audio), %d C-Media devices, EXT IO %c",
              settings, audio, works.set.text.flag(Slot::extIoEnable));
    }
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
  finishServiceTask(works, false);  // a menu action still waiting is left to the exit
  destroyOpus(works);
  trace("Closed!\n");
}

}  // namespace

int runController(Works& works) {
  trace("START Main ----------------------------------------------------------------\n");
  trace("CORVID version %s\n", kVersion);
  logInfo("CORVID version %s", kVersion);

  works.gfx.fb = fbInit();

  platform::ignoreStraySignals();

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
  LoadPlotterFile(works);

  works.spectrum.divX = 16;
  works.spectrum.divY = 10;
  works.spectrum.xRangeStart = 0;
  works.spectrum.xRangeEnd = 854;
  InitGrid(works);

  LoadAllBankTable(works, works.set.NumBanco.load());
  works.atu.lastBandApplied = -1;
  trace("ModeWorkIdx %i \n", interfaceNumber(works.bands.freqInterface.load()));

  ReadLanParam(works);

  loadPanelFonts();

  startTableThread(works, ThreadId::GPIO);
  sleepMs(1000);
  CmandoTinyconAttesaStato(works, TinyCode::Started);
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
  InitMenuNova(works);
  LoadButtons(works);
  fbRealize(works.gfx.fb.get());
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

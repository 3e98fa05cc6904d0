#include "app/wiring.h"

#include <algorithm>

#include "amp/link.h"
#include "atu/atu.h"
#include "atu/follow.h"
#include "bands/bands.h"
#include "core/threads.h"
#include "core/works.h"
#include "errors/errors.h"
#include "gfx/picture.h"
#include "remote/cat_link.h"
#include "remote/remote_audio.h"
#include "remote/ws_server.h"
#include "scope/usb_capture.h"
#include "system/network.h"
#include "system/updates.h"
#include "trx/trx.h"
#include "ui/display.h"
#include "ui/gpio.h"
#include "ui/keyboard.h"

namespace corvid {

namespace {
// The stored tune of the frequency, for the antenna in use.
void loadTuneOfAntenna(Works& works) {
  LoadTuneFromMEM(works, std::clamp(works.set.NumAntenna.load(), 0, kAntennas - 1));
}
}  // namespace

void wireHooks(Works& works) {
  CoreHooks& core = works.core.hooks;
  core.DeleteErrore = &DeleteErrore;
  core.InitMicroCmd = &InitMicroCmd;
  core.DeleteFileConf = &DeleteFileConf;
  core.LoadAllBankTable = &LoadAllBankTable;
  core.showLoading = &showLoading;

  works.errors.hooks.InitMicroCmd = &InitMicroCmd;

  AmpHooks& amp = works.amp.hooks;
  amp.LoadTuneFromMEM = &loadTuneOfAntenna;
  amp.TuneTask = &TuneTask;
  amp.SetAttenuatorLabel = &SetAttenuatorLabel;
  amp.bandName = &bandNameFor;

  works.bands.hooks.LoadTabAtu = &LoadTabAtu;

  TrxHooks& trx = works.trx.hooks;
  trx.sendWebSockSerParFrame = &sendWebSockSerParFrame;
  trx.sendWebSockSerSpectrFrame = &sendWebSockSerSpectrFrame;
  trx.resetRemotePlayback = &resetRemotePlayback;
}

void wireThreads(Works& works) {
  ThreadSet& threads = works.core.threads;
  threads.setBody(ThreadId::GPIO, &GPIO);
  threads.setBody(ThreadId::Linear, &Linear);
  threads.setBody(ThreadId::LoadThread, &LoadThread);
  threads.setBody(ThreadId::LANInfoThread, &LANInfoThread);
  threads.setBody(ThreadId::AggFWThread, &AggFWThread);
  threads.setBody(ThreadId::keyb, &keyb);
  threads.setBody(ThreadId::Wsocket, &Wsocket);
  threads.setBody(ThreadId::Serial, &Serial);
  threads.setBody(ThreadId::Cat, &Cat);
  threads.setBody(ThreadId::PEXRead, &PEXRead);
  threads.setBody(ThreadId::th_leggi, &th_leggi);
  threads.setBody(ThreadId::th_scrivi, &th_scrivi);
  threads.setBody(ThreadId::CatSerial, &CatSerial);
  threads.setBody(ThreadId::timer, &timer);
}

void wireSubsystems(Works& works) {
  wireHooks(works);
  wireThreads(works);
}

}  // namespace corvid

#include "core/threads.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "core/settings.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"

namespace corvid {

using platform::ThreadScheduling;

const std::array<ThreadRow, kThreadCount> kThreadTable = {{
    {ThreadId::GPIO, "GPIO", Slot::EnableGPIO, ThreadScheduling{99, 0}, nullptr,
     "Communicator joined GPIO end", 0},
    {ThreadId::Linear,
     "Linear",
     Slot::EnableLinear,
     {},
     nullptr,
     "Communicator joined Linear end",
     0},
    {ThreadId::LoadThread, "LoadThread", Slot::None, {}, nullptr, nullptr, 0},
    {ThreadId::LANInfoThread, "LANInfoThread", Slot::None, {}, nullptr, nullptr, 0},
    {ThreadId::AggFWThread, "AggFWThread", Slot::None, {}, nullptr, nullptr, 0},
    {ThreadId::keyb, "keyb", Slot::EnableKeyb, {}, nullptr, "Communicator joined Key end", 0},
    {ThreadId::Wsocket, "Wsocket", Slot::WebSocket, ThreadScheduling{0, 99},
     ">>>>>>>>>> SOCKET SERVER start\n", "Communicator joined Wsocket end", 6},
    {ThreadId::Serial, "Serial", Slot::extIoEnable, ThreadScheduling{0, 50}, "PEXread start\n",
     "Communicator joined Serial end", 8},
    {ThreadId::th_scrivi, "th_scrivi", Slot::EnableWrite, ThreadScheduling{0, 50},
     "Th_scrivi start\n", "Communicator joined Spi end", 5},
    {ThreadId::th_leggi, "th_leggi", Slot::EnableRead, ThreadScheduling{0, 40}, "Th_leggi start\n",
     "Communicator joined Touch end", 4},
    {ThreadId::Cat, "Cat", Slot::EnableCAT, {}, "Cat.c start\n", "Communicator joined Cat end", 0},
    {ThreadId::PEXRead, "PEXRead", Slot::EnableFFT, {}, nullptr, "Communicator joined FFT end", 0},
    {ThreadId::CatSerial,
     "CatSerial",
     Slot::catSerialEnable,
     {},
     nullptr,
     "Communicator joined CatSerial end",
     0},
    {ThreadId::timer, "timer", Slot::EnableTime, {}, nullptr, "Communicator joined Time end", 0},
}};

const ThreadRow& threadRow(ThreadId id) {
  return kThreadTable[static_cast<size_t>(id)];
}

void ThreadSet::setBody(ThreadId id, ThreadBody body) {
  std::scoped_lock lock(mutex_);
  bodies_[index(id)] = body;
}

bool ThreadSet::hasBody(ThreadId id) const {
  std::scoped_lock lock(mutex_);
  return bodies_[index(id)] != nullptr;
}

bool ThreadSet::started(ThreadId id) const {
  std::scoped_lock lock(mutex_);
  return threads_[index(id)].joinable();
}

platform::Thread::StartResult ThreadSet::start(ThreadId id, Works& works) {
  std::scoped_lock lock(mutex_);
  const ThreadBody body = bodies_[index(id)];
  platform::Thread& thread = threads_[index(id)];
  if (body == nullptr || thread.joinable()) return {};
  return thread.start(
      threadRow(id).name, [body, &works] { body(works); }, threadRow(id).scheduling);
}

bool ThreadSet::join(ThreadId id) {
  platform::Thread thread;
  {
    std::scoped_lock lock(mutex_);
    thread = std::move(threads_[index(id)]);
  }
  if (!thread.joinable()) return false;
  thread.join();
  return true;
}

bool ThreadSet::tryJoin(ThreadId id) {
  std::scoped_lock lock(mutex_);
  return threads_[index(id)].tryJoin();
}

bool startTableThread(Works& works, ThreadId id) {
  const ThreadRow& row = threadRow(id);
  if (row.flag != Slot::None && !works.set.text.on(row.flag)) return false;
  if (!works.core.threads.hasBody(id)) return false;  // not part of this program
  // A thread of this row that has ended (a remote link that stopped) is joined first, so
  // that a restart finds its slot free.
  works.core.threads.tryJoin(id);
  const auto result = works.core.threads.start(id, works);
  if (result.attributeError != 0) platform::trace("Error to set priority!!\n");
  if (!result.started) return false;
  if (row.startMessage != nullptr) platform::trace("%s", row.startMessage);
  if (row.scheduling.roundRobinPriority != 0 && result.scheduleError != 0) {
    platform::logError("pthread_setschedparam pthread %d failed Error %d errno %d", row.scheduleTag,
                       result.scheduleError, result.scheduleErrno);
  }
  return true;
}

bool restartTableThread(Works& works, ThreadId id) {
  const ThreadRow& row = threadRow(id);
  works.core.threads.join(id);
  if (row.flag != Slot::None) works.set.text.setFlag(row.flag, '1');
  return startTableThread(works, id);
}

int StartThreadLinear(Works& works) {
  return startTableThread(works, ThreadId::Linear), 0;
}
int StartThreadLANinfo(Works& works) {
  // One run at a time: the caller that finds it idle claims it. The run before has
  // ended its work by then and is joined before the next one starts.
  if (works.system.lanInfoRunning.exchange(1) != 0) return 0;
  if (!restartTableThread(works, ThreadId::LANInfoThread)) works.system.lanInfoRunning = 0;
  return 0;
}
int StartThreadSoket(Works& works) {
  return startTableThread(works, ThreadId::Wsocket), 0;
}
int StartThreadPEX(Works& works) {
  return startTableThread(works, ThreadId::Serial), 0;
}
int StartThreadCATserial(Works& works) {
  return startTableThread(works, ThreadId::CatSerial), 0;
}
int StartThreadAudioRead(Works& works) {
  return startTableThread(works, ThreadId::th_leggi), 0;
}
int StartThreadAudioWrite(Works& works) {
  return startTableThread(works, ThreadId::th_scrivi), 0;
}
int StartThreadCAT(Works& works) {
  return startTableThread(works, ThreadId::Cat), 0;
}
int StartPexReadFFT(Works& works) {
  return startTableThread(works, ThreadId::PEXRead), 0;
}

namespace {
struct RemoteThread {
  Slot flag;
  ThreadId id;
};
// Audio write, audio read, CAT, IQ capture: the order they start in.
constexpr std::array<RemoteThread, 4> kRemoteThreads = {{
    {Slot::EnableWrite, ThreadId::th_scrivi},
    {Slot::EnableRead, ThreadId::th_leggi},
    {Slot::EnableCAT, ThreadId::Cat},
    {Slot::EnableFFT, ThreadId::PEXRead},
}};
}  // namespace

int StartThreadCommRemote(Works& works) {
  works.core.remoteRestartRequest = 0;
  SetupText& text = works.set.text;
  for (const RemoteThread& remote : kRemoteThreads) {
    if (text.flag(remote.flag) != '0') continue;
    restartTableThread(works, remote.id);
  }
  writeSetup(works);
  return 0;
}

int ExitThreadRemote(Works& works) {
  for (const RemoteThread& remote : kRemoteThreads) works.set.text.setFlag(remote.flag, '0');
  platform::sleepMs(500);
  if (works.core.hooks.DeleteErrore != nullptr) {
    for (Err error : {Err::AudioRead, Err::AudioWrite, Err::RemoteUsb, Err::RemoteCat}) {
      works.core.hooks.DeleteErrore(works, error);
    }
  }
  writeSetup(works);
  platform::trace(">>>>>>>>>>>>>>>>>>>>>>>>> REMOTE STOP \n");
  return 0;
}

void LoadThread(Works& works) {
  int count = works.core.waitPEX;
  bool loaderSent = false;
  while (works.core.startInitThread.load() != 0) {
    char text[32];
    std::snprintf(text, sizeof text, "Loading ...%2d", count);
    if (count == 5 && !loaderSent) {
      loaderSent = true;
      CmandoTinyconAttesaStato(works, TinyCode::Loading);
    }
    if (works.core.hooks.showLoading != nullptr) works.core.hooks.showLoading(works, text);
    platform::trace("Time %s..\n", text);
    --count;
    platform::sleepMs(1000);
  }
  works.core.initDone = 1;
}

namespace {
// How long the power controller's thread may take to empty the mailbox: it takes a
// command at its next exchange slot, well under a second apart.
constexpr auto kMailboxTimeout = std::chrono::seconds(5);

bool waitMailboxEmpty(Works& works) {
  const auto deadline = std::chrono::steady_clock::now() + kMailboxTimeout;
  while (works.core.tinyCommand.load() != 0) {
    // Without the GPIO thread nobody empties the mailbox: never wait for it.
    if (!works.core.threads.started(ThreadId::GPIO)) return false;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
}  // namespace

void CmandoTinyconAttesaStato(Works& works, TinyCode code) {
  // The controller is sent each command twice.
  for (int i = 0; i < 2; ++i) {
    if (!waitMailboxEmpty(works)) break;
    works.core.tinyCommand = tinyByte(code);
  }
  if (!waitMailboxEmpty(works)) {
    works.core.tinyCommand = 0;
    platform::logError("power controller did not take command %d", tinyByte(code));
    return;
  }
  platform::trace("CmandoTinyconAttesaStato stato: ...%x\n", works.core.tinyStatus.load());
}

void joinThreads(Works& works) {
  for (ThreadId id : kJoinOrder) {
    // Every thread that was started is joined, also one whose flag has since gone to
    // '0', so that no thread outlives the shared record.
    if (works.core.threads.join(id)) platform::logInfo("%s", threadRow(id).joinMessage);
  }
  // The threads that are never waited for (the countdown, the LAN information, the marker)
  // are cleaned up if they have ended; one still running (a LAN run waiting on my_vorn) is
  // left to end with the process.
  for (const ThreadRow& row : kThreadTable) {
    if (row.joinMessage == nullptr) works.core.threads.tryJoin(row.id);
  }
}

}  // namespace corvid

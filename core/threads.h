// The thread set of the controller: the table of threads in start order, their enable
// flags and scheduling requests, the starters, and the joins at shutdown.
#pragma once

#include <array>
#include <cstdint>

#include "core/setup_text.h"
#include "core/thread_set.h"
#include "platform/thread.h"
#include "ui/ui_state.h"

namespace corvid {

struct Works;

struct ThreadRow {
  ThreadId id;
  const char* name;
  Slot flag;  // Slot::None: started unconditionally
  platform::ThreadScheduling scheduling;
  const char* startMessage;  // to standard error when it starts; nullptr none
  const char* joinMessage;   // logged when joined; nullptr: never joined
  int scheduleTag;           // number in "pthread_setschedparam pthread %d failed ..."
};

// In start order.
extern const std::array<ThreadRow, kThreadCount> kThreadTable;
const ThreadRow& threadRow(ThreadId id);

// The order of the joins at shutdown.
inline constexpr std::array<ThreadId, 11> kJoinOrder = {
    ThreadId::keyb,    ThreadId::PEXRead, ThreadId::th_leggi,  ThreadId::th_scrivi,
    ThreadId::Wsocket, ThreadId::Cat,     ThreadId::CatSerial, ThreadId::Serial,
    ThreadId::Linear,  ThreadId::timer,   ThreadId::GPIO,
};

// Starts a thread of the table if its flag is '1' (or it has none), with its scheduling
// request and messages. Returns whether it started.
bool startTableThread(Works& works, ThreadId id);

// Raises a thread's flag and starts it. A thread stopped earlier by lowering its flag
// ends by itself; it is waited for first, so it can never run twice.
bool restartTableThread(Works& works, ThreadId id);

// The starters; each returns 0. StartThreadLANinfo does nothing while a LAN information
// run is still going (lanInfoRunning).
int StartThreadLinear(Works& works);
int StartThreadLANinfo(Works& works);
int StartThreadSoket(Works& works);
int StartThreadPEX(Works& works);
int StartThreadCATserial(Works& works);
int StartThreadAudioRead(Works& works);
int StartThreadAudioWrite(Works& works);
int StartThreadCAT(Works& works);
int StartPexReadFFT(Works& works);
// Remote operation on: every remote thread whose flag is '0' gets '1' and starts.
int StartThreadCommRemote(Works& works);
// Remote operation off: the remote flags go to '0' and their threads end by themselves.
int ExitThreadRemote(Works& works);

// The start-up countdown thread.
void LoadThread(Works& works);

// Hands one command byte to the power controller through the tinyCommand mailbox
// (twice, as the controller expects) and waits until the GPIO thread has sent it.
void CmandoTinyconAttesaStato(Works& works, TinyCode code);

// Joins the started threads in shutdown order and logs each join; then the never-joined
// threads that have ended.
void joinThreads(Works& works);

}  // namespace corvid

// The set of the controller's threads: their names as ids, the body each runs, and the
// handles of those started. Held by the shared record; the table of the threads, their
// starters and the joins are in core/threads.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/thread.h"

namespace corvid {

struct Works;

enum class ThreadId : uint8_t {
  GPIO,
  Linear,
  LoadThread,
  LANInfoThread,
  AggFWThread,
  keyb,
  Wsocket,
  Serial,
  th_scrivi,
  th_leggi,
  Cat,
  PEXRead,
  CatSerial,
  timer,
  Count,
};
inline constexpr size_t kThreadCount = static_cast<size_t>(ThreadId::Count);

using ThreadBody = void (*)(Works&);

// Thread bodies come from the subsystems that own them; a thread whose body is not
// part of this program is never started. Safe to use from any thread.
class ThreadSet {
 public:
  void setBody(ThreadId id, ThreadBody body);
  bool hasBody(ThreadId id) const;
  // Started and not yet joined.
  bool started(ThreadId id) const;
  // Starts the body with works; started is false when there is no body or it is
  // already running.
  platform::Thread::StartResult start(ThreadId id, Works& works);
  // Waits for the thread; false when it was not started.
  bool join(ThreadId id);
  // Joins the thread if it has ended; false when it was not started or runs on.
  bool tryJoin(ThreadId id);

 private:
  static size_t index(ThreadId id) { return static_cast<size_t>(id); }
  mutable std::mutex mutex_;
  std::array<ThreadBody, kThreadCount> bodies_{};
  std::array<platform::Thread, kThreadCount> threads_;
};

}  // namespace corvid

// A joinable POSIX thread with the scheduling requests the controller makes: a priority
// in the creation attributes, or a real-time round-robin policy applied after creation.
#pragma once

#include <pthread.h>

#include <functional>

namespace corvid::platform {

struct ThreadScheduling {
  int attributePriority = 0;   // nonzero: asked for in the attributes, policy left as is
  int roundRobinPriority = 0;  // nonzero: SCHED_RR applied with pthread_setschedparam
};

class Thread {
 public:
  Thread() = default;
  Thread(Thread&& other) noexcept;
  Thread& operator=(Thread&& other) noexcept;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  ~Thread();  // a thread never joined is detached, never left as a zombie handle

  struct StartResult {
    bool started = false;
    int attributeError = 0;  // the priority attribute was refused
    int scheduleError = 0;   // pthread_setschedparam's result code
    int scheduleErrno = 0;
  };
  // name: shown in /proc/PID/task/*/comm (at most 15 characters are kept).
  StartResult start(const char* name, std::function<void()> body,
                    const ThreadScheduling& scheduling = {});
  bool joinable() const { return started_; }
  void join();
  // Joins the thread if it has ended already; false (still joinable) when it runs on.
  bool tryJoin();

 private:
  pthread_t handle_{};
  bool started_ = false;
};

}  // namespace corvid::platform

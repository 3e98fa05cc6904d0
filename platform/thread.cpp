#include "platform/thread.h"

#include <sched.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <utility>

namespace corvid::platform {

namespace {
void* trampoline(void* arg) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
  (*body)();
  return nullptr;
}
}  // namespace

Thread::Thread(Thread&& other) noexcept
    : handle_(other.handle_), started_(std::exchange(other.started_, false)) {}

Thread& Thread::operator=(Thread&& other) noexcept {
  if (this != &other) {
    if (started_) pthread_detach(handle_);
    handle_ = other.handle_;
    started_ = std::exchange(other.started_, false);
  }
  return *this;
}

Thread::~Thread() {
  if (started_) pthread_detach(handle_);
}

Thread::StartResult Thread::start(const char* name, std::function<void()> body,
                                  const ThreadScheduling& scheduling) {
  StartResult result;
  if (started_) return result;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  if (scheduling.attributePriority != 0) {
    sched_param param{};
    param.sched_priority = scheduling.attributePriority;
    result.attributeError = pthread_attr_setschedparam(&attr, &param);
  }
  auto* heapBody = new std::function<void()>(std::move(body));
  int rc = pthread_create(&handle_, &attr, trampoline, heapBody);
  if (rc != 0 && result.attributeError == 0 && scheduling.attributePriority != 0) {
    // The attribute was accepted but the system refused it at creation: start anyway.
    pthread_attr_destroy(&attr);
    pthread_attr_init(&attr);
    result.attributeError = rc;
    rc = pthread_create(&handle_, &attr, trampoline, heapBody);
  }
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete heapBody;
    return result;
  }
  started_ = true;
  result.started = true;
  if (name != nullptr) {
    char shortName[16] = {};
    std::snprintf(shortName, sizeof shortName, "%s", name);
    pthread_setname_np(handle_, shortName);
  }
  if (scheduling.roundRobinPriority != 0) {
    sched_param param{};
    param.sched_priority = scheduling.roundRobinPriority;
    errno = 0;
    result.scheduleError = pthread_setschedparam(handle_, SCHED_RR, &param);
    result.scheduleErrno = errno;
  }
  return result;
}

bool Thread::tryJoin() {
  if (!started_) return false;
  if (pthread_tryjoin_np(handle_, nullptr) != 0) return false;
  started_ = false;
  return true;
}

void Thread::join() {
  if (!started_) return;
  pthread_join(handle_, nullptr);
  started_ = false;
}

}  // namespace corvid::platform

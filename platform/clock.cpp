#include "platform/clock.h"

#include <mutex>
#include <thread>

namespace corvid::platform {

namespace {
std::mutex gHookMutex;
std::function<void(std::chrono::milliseconds)> gHook;
}  // namespace

void sleepFor(std::chrono::milliseconds duration) {
  std::function<void(std::chrono::milliseconds)> hook;
  {
    std::scoped_lock lock(gHookMutex);
    hook = gHook;
  }
  if (hook) {
    hook(duration);
  } else {
    std::this_thread::sleep_for(duration);
  }
}

void setSleepHook(std::function<void(std::chrono::milliseconds)> hook) {
  std::scoped_lock lock(gHookMutex);
  gHook = std::move(hook);
}

}  // namespace corvid::platform

// Sleeps, in one place so that tests can run the start-up pauses without waiting.
#pragma once

#include <chrono>
#include <functional>

namespace corvid::platform {

void sleepFor(std::chrono::milliseconds duration);
inline void sleepMs(long ms) { sleepFor(std::chrono::milliseconds(ms)); }

// Replaces every sleep (tests); an empty function restores real sleeping.
void setSleepHook(std::function<void(std::chrono::milliseconds)> hook);

}  // namespace corvid::platform

// Fields of the shared record owned by start-up, the thread set and the settings.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core/guarded_text.h"
#include "core/thread_set.h"
#include "errors/errors_state.h"

namespace corvid {

struct Works;

// Calls from the core into subsystems built on top of it. app/ fills them in; one that
// is empty is skipped.
struct CoreHooks {
  void (*DeleteErrore)(Works&, Err error) = nullptr;
  void (*InitMicroCmd)(Works&) = nullptr;
  void (*DeleteFileConf)(Works&, int bank, int kind) = nullptr;
  void (*LoadAllBankTable)(Works&, int bank) = nullptr;
  // Draws the start-up countdown text on the splash screen.
  void (*showLoading)(Works&, const char* text) = nullptr;
};

inline constexpr const char* kVersion = "01.046";

struct CoreState {
  std::atomic<int32_t> running{0};
  std::string version;                   // set before any thread starts
  GuardedText<16> splashName;            // background picture getPng loads
  std::atomic<int64_t> lastActivity{0};  // time() of the last operator activity
  std::atomic<uint8_t> initDone{0};      // 1 once the start-up countdown has ended
  std::atomic<uint8_t> remoteRestartRequest{0};
  // Power-controller mailbox and what the controller reports.
  std::atomic<uint8_t> tinyCommand{0};
  std::atomic<uint8_t> tinyStatus{0};
  std::atomic<uint8_t> tinyVersion{0};
  std::atomic<int> startInitThread{0};  // 1 while the start-up countdown runs
  std::atomic<int> waitPEX{0};          // seconds of the start-up countdown
  GuardedText<100> unitName;            // name.txt, newline included
  ThreadSet threads;
  CoreHooks hooks;
};

}  // namespace corvid

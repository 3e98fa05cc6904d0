#include "platform/signals.h"

#include <csignal>

namespace corvid::platform {

namespace {
void doNothing(int) {}
}  // namespace

bool keepsDefaultAction(int signal) {
  switch (signal) {
    case SIGINT:
    case SIGTERM:
    case SIGCHLD:
    case SIGIO:
    case SIGSEGV:
    case SIGBUS:
    case SIGFPE:
    case SIGILL:
    case SIGTRAP:
    case SIGSYS:
    case SIGABRT:
      return true;
    default:
      return false;
  }
}

void ignoreStraySignals() {
  for (int signal = 1; signal <= 30; ++signal) {
    if (keepsDefaultAction(signal)) continue;
    struct sigaction action {};
    action.sa_handler = doNothing;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);  // SIGKILL and SIGSTOP simply refuse
  }
}

}  // namespace corvid::platform

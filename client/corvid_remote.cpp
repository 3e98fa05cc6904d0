// corvid-remote: the remote client of the amplifier's WebSocket-style server, for the
// bench and for a person at a terminal. See usageText() for the command line.
#include <atomic>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "client/remote_session.h"

namespace {

std::atomic<bool> stopRequested{false};

extern "C" void onStopSignal(int) {
  stopRequested.store(true);
}

}  // namespace

int main(int argc, char** argv) {
  static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
  // Ctrl-C and SIGTERM end the run as --for does: the picture and the summary still come.
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return corvid::client::runRemote(
      arguments, corvid::client::ClientStreams{std::cout, std::cerr, 0, &stopRequested});
}

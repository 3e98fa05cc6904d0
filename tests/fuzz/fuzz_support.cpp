#include "tests/fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "core/settings.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/command.h"
#include "platform/log.h"
#include "platform/root.h"

namespace corvid::fuzz {

namespace {

struct Environment {
  Environment() {
    // In memory where the machine has a tmpfs: the file targets write every input to
    // their root, and a disk's journal would cost more than the parsing.
    std::error_code ec;
    std::string pattern = std::filesystem::is_directory("/dev/shm", ec)
                              ? "/dev/shm/corvid-fuzz-XXXXXX"
                              : "/tmp/corvid-fuzz-XXXXXX";
    const char* made = ::mkdtemp(pattern.data());
    if (made == nullptr) std::abort();
    dir = made;
    std::filesystem::create_directories(dir / "opt/set");
    std::filesystem::create_directories(dir / "var/log");
    platform::setRoot(dir.string());
    platform::setLogSink([](platform::LogLevel, std::string_view) {});
    platform::setSleepHook([](std::chrono::milliseconds) {});
    // Every command (the write window's remounts, rm, the stand-ins) succeeds at once.
    platform::setCommandHook([](std::string_view) {
      platform::CommandStatus done;
      done.exitCode = 0;
      return done;
    });
  }
  ~Environment() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::filesystem::path dir;
  std::unique_ptr<Works> record;
};

template <typename T>
void rebuild(T& part) {
  std::destroy_at(&part);
  std::construct_at(&part);
}

Environment& environment() {
  static Environment e;
  return e;
}

}  // namespace

void resetWorks() {
  Environment& e = environment();
  if (e.record) {
    // Every part is built anew in place but the remote server's, whose 800 kB audio ring,
    // allocated afresh for each input, would cost more in page faults than the input
    // itself; no target's code under test keeps state there.
    Works& w = *e.record;
    rebuild(w.core);
    rebuild(w.set);
    rebuild(w.amp);
    rebuild(w.atu);
    rebuild(w.bands);
    rebuild(w.errors);
    rebuild(w.gfx);
    rebuild(w.ui);
    rebuild(w.spectrum);
    rebuild(w.trx);
    rebuild(w.system);
  } else {
    e.record = std::make_unique<Works>();
  }
  InitGlobalVar(*e.record);
  initSetup(*e.record);
}

Works& works() {
  Environment& e = environment();
  if (!e.record) resetWorks();
  return *e.record;
}

}  // namespace corvid::fuzz

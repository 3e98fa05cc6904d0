// The controller's start-up on the bench: the settings file written from the defaults,
// a refused remount, an existing file left alone, the thread set with every subsystem
// switched off, and the remote stop. Each run takes the controller through its start-up
// once (about 14 s when it goes to the end) and checks several things on the way.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/root_settings.h"
#include "tests/bench/bench_harness.h"

namespace corvid::bench::test {
namespace {

namespace fs = std::filesystem;

// The calibration offsets as an installed unit has them.
constexpr std::string_view kInstalledOffsets = "KostPWRIN: 150\nKostFORW: 140\nKostREFL: 100\n";

ino_t inodeOf(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

std::vector<std::string> mountCalls(const std::vector<std::string>& calls) {
  std::vector<std::string> mounts;
  for (const std::string& call : calls) {
    if (call.starts_with("mount ")) mounts.push_back(call);
  }
  return mounts;
}

std::string rwRemount(const BenchRoot& root) {
  return "mount -o remount defaults,rw " + root.settingsDir().string();
}
std::string roRemount(const BenchRoot& root) {
  return "mount -v -n -o remount -r " + root.settingsDir().string();
}

// The numbers of the "Time Loading ...%2d.." lines, in log order.
std::vector<int> countdown(const std::string& log) {
  std::vector<int> counts;
  static constexpr std::string_view kLine = "Time Loading ...";
  for (size_t at = log.find(kLine); at != std::string::npos; at = log.find(kLine, at + 1)) {
    int count = -1;
    char dots[3] = {};
    const std::string rest = log.substr(at + kLine.size(), 5);
    if (std::sscanf(rest.c_str(), "%2d%2c", &count, dots) == 2 && std::string(dots) == "..") {
      counts.push_back(count);
    }
  }
  return counts;
}

TEST(CorvidStartup, EmptySettingsFolderGetsTheDefaultFileBetweenTwoRemounts) {
  CorvidRun run;
  ASSERT_TRUE(run.start());
  ASSERT_TRUE(run.waitForLog("can't open /opt/set/setup.txt")) << run.log();

  const std::string log = run.log();
  const size_t initSetup = log.find("Init Setup! ");
  ASSERT_NE(initSetup, std::string::npos) << log;
  EXPECT_LT(initSetup, log.find("can't open /opt/set/setup.txt"));

  const std::optional<std::string> written = run.readFile("/opt/set/setup.txt");
  ASSERT_TRUE(written) << "no setup.txt written";
  EXPECT_EQ(*written, goldenSetup());

  // The settings are the first thing written, inside a read-write window. Other files
  // that are missing may follow at once, each in a window of its own; nothing but
  // remounts runs this early.
  const std::vector<std::string> calls = run.calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[0], rwRemount(run.root()));
  EXPECT_EQ(calls[1], roRemount(run.root()));
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i], i % 2 == 0 ? rwRemount(run.root()) : roRemount(run.root())) << i;
  }
}

TEST(CorvidStartup, RefusedReadWriteRemountWritesNothing) {
  CorvidRun run({.faults = {"mount-rw"}, .answers = {}});
  ASSERT_TRUE(run.start());
  ASSERT_TRUE(run.waitForLog("can't mount rw /opt/set/ error 1")) << run.log();
  // Reading the settings has ended once the mode line follows.
  ASSERT_TRUE(run.waitForLog("ModeWorkIdx")) << run.log();

  EXPECT_FALSE(run.readFile("/opt/set/setup.txt")) << "setup.txt written without a remount";
  // Every write tried a read-write remount, and none went on to the read-only one.
  const std::vector<std::string> calls = run.calls();
  ASSERT_FALSE(calls.empty());
  for (const std::string& call : calls) EXPECT_EQ(call, rwRemount(run.root()));
  const std::string log = run.log();
  EXPECT_NE(log.find("can't open /opt/set/setup.txt"), std::string::npos) << log;
  EXPECT_EQ(log.find("can't mount ro"), std::string::npos) << log;
}

// An existing file, every thread switch off, local operation: the file is read and left
// as it is, the countdown runs, and only the threads that no switch gates remain.
TEST(CorvidStartup, ExistingSettingsWithEveryThreadOffKeepOnlyTheUngatedThreads) {
  CorvidRun run;
  std::string setup = withValues(goldenSetup(), {{"EnableKeyb", "0"},
                                                 {"EnableGPIO", "0"},
                                                 {"EnableLinear", "0"},
                                                 {"EnableTime", "0"},
                                                 {"WebSocket", "0"},
                                                 {"EnableRead", "0"},
                                                 {"EnableWrite", "0"},
                                                 {"EnableCAT", "0"},
                                                 {"EnableFFT", "0"},
                                                 {"LocalRemote", "0"}});
  // A line the controller does not know and a value that differs from its default: a
  // rewrite, which always writes every key from memory, could not give these bytes back.
  setup = withValues(setup, {{"Pitch", "2700"}}) + "Comment: kept by hand\n";
  run.writeFile("/opt/set/setup.txt", setup);
  run.writeFile("/opt/set/name.txt", "first name\nBENCH-UNIT-7\n");
  // The rest of an installed unit's settings folder, so that no missing file is created.
  run.writeFile("/opt/set/config_offset.txt", kInstalledOffsets);
  std::string plotter;
  for (int row = 0; row < 12; ++row) plotter += "0 10 10 0.0\n";
  run.writeFile("/opt/set/plotter.txt", plotter);
  const ino_t inode = inodeOf(run.root().under("/opt/set/setup.txt"));
  ASSERT_NE(inode, 0u);
  ASSERT_TRUE(run.start());

  ASSERT_TRUE(run.waitForLog("************ NOME: BENCH-UNIT-7")) << run.log();
  ASSERT_TRUE(run.waitForLog("Time Loading ... 0..")) << run.log();
  ASSERT_TRUE(run.waitForLog("************Force Local")) << run.log();

  // The count goes on once a second while main sleeps its eleven seconds: 10 down to 0,
  // and one more step (-1) when the thread's second ends just before main's.
  std::vector<int> expected(11);
  std::generate(expected.begin(), expected.end(), [n = 10]() mutable { return n--; });
  std::vector<int> seen = countdown(run.log());
  if (seen.size() == expected.size() + 1 && seen.back() == -1) seen.pop_back();
  EXPECT_EQ(seen, expected);

  // The countdown thread ends within a second of the countdown; then only the main
  // thread and the two never-joined service threads may be left.
  const std::vector<std::string> allowed = {"corvid", "LANInfoThread", "AggFWThread"};
  auto onlyAllowed = [&] {
    const std::vector<std::string> names = run.threadNames();
    return std::all_of(names.begin(), names.end(), [&](const std::string& name) {
      return std::find(allowed.begin(), allowed.end(), name) != allowed.end();
    });
  };
  EXPECT_TRUE(waitUntil(onlyAllowed, 10s));
  const std::vector<std::string> names = run.threadNames();
  EXPECT_NE(std::find(names.begin(), names.end(), "corvid"), names.end());
  for (const char* gated : {"GPIO", "Linear", "keyb", "Wsocket", "Serial", "Cat", "PEXRead",
                            "CatSerial", "timer", "th_scrivi", "th_leggi", "LoadThread"}) {
    EXPECT_EQ(std::find(names.begin(), names.end(), gated), names.end()) << gated;
  }

  // Nothing can clear running: the controller waits on.
  std::this_thread::sleep_for(1500ms);
  EXPECT_TRUE(run.alive());

  EXPECT_EQ(run.readFile("/opt/set/setup.txt"), setup);
  EXPECT_EQ(inodeOf(run.root().under("/opt/set/setup.txt")), inode) << "replaced by a copy";
  // Only the LAN state is asked for at start; nothing is remounted at a local start (the
  // last-good marker goes after 30 s).
  EXPECT_EQ(run.calls(), std::vector<std::string>{"my_vorn"});
}

// Remote operation at start: the remote threads' switches are first turned off and
// written (the remote stop), then turned on again and written (the remote start).
TEST(CorvidStartup, RemoteStartWritesTheRemoteStopThenTheRemoteStart) {
  CorvidRun run;
  const std::string setup = withValues(goldenSetup(), {{"EnableKeyb", "0"},
                                                       {"EnableGPIO", "0"},
                                                       {"EnableLinear", "0"},
                                                       {"EnableTime", "0"},
                                                       {"WebSocket", "0"},
                                                       {"EnableRead", "1"},
                                                       {"EnableWrite", "1"},
                                                       {"EnableCAT", "1"},
                                                       {"EnableFFT", "1"},
                                                       {"LocalRemote", "1"}});
  run.writeFile("/opt/set/setup.txt", setup);
  ASSERT_TRUE(run.start());

  ASSERT_TRUE(run.waitForLog(">>>>>>>>>>>>>>>>>>>>>>>>> REMOTE STOP \n", 45s)) << run.log();
  // The remote start follows 2 s later; the file now holds the stop, written in the
  // last read-write window.
  const std::optional<std::string> stopped = run.readFile("/opt/set/setup.txt");
  ASSERT_TRUE(stopped);
  for (const char* key : {"EnableRead", "EnableWrite", "EnableCAT", "EnableFFT"}) {
    EXPECT_EQ(settingIn(*stopped, key), "0") << key;
  }
  EXPECT_EQ(*stopped, withValues(setup, {{"EnableRead", "0"},
                                         {"EnableWrite", "0"},
                                         {"EnableCAT", "0"},
                                         {"EnableFFT", "0"}}));
  const std::vector<std::string> atStop = mountCalls(run.calls());
  ASSERT_GE(atStop.size(), 2u);
  EXPECT_EQ(atStop[atStop.size() - 2], rwRemount(run.root()));
  EXPECT_EQ(atStop.back(), roRemount(run.root()));

  // The remote start: the four switches on again, in one more window.
  ASSERT_TRUE(run.waitForLog("************Force Remote")) << run.log();
  ASSERT_TRUE(waitUntil([&] { return mountCalls(run.calls()).size() >= atStop.size() + 2; }))
      << run.log();
  const std::vector<std::string> atStart = mountCalls(run.calls());
  EXPECT_EQ(atStart[atStop.size()], rwRemount(run.root()));
  EXPECT_EQ(atStart[atStop.size() + 1], roRemount(run.root()));
  EXPECT_EQ(run.readFile("/opt/set/setup.txt"), setup);
}

// Stray signals (a hang-up, an alarm, a broken pipe, the user signals) are ignored, but a
// fault signal is not caught: the controller ends by it, as a crash must, rather than
// returning into the faulting instruction for ever.
TEST(CorvidSignals, StraySignalsAreIgnoredAndAFaultSignalEndsTheController) {
  // The sanitizers would catch the fault signal themselves and exit with their report:
  // here the controller must meet it with its own signal set-up.
  for (const char* name : {"ASAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"}) {
    const char* old = std::getenv(name);
    const std::string options = std::string(old != nullptr ? old : "") + ":handle_segv=0";
    ::setenv(name, options.c_str(), 1);
  }
  CorvidRun run;
  const std::string setup = withValues(goldenSetup(), {{"EnableKeyb", "0"},
                                                       {"EnableGPIO", "0"},
                                                       {"EnableLinear", "0"},
                                                       {"EnableTime", "0"},
                                                       {"WebSocket", "0"}});
  run.writeFile("/opt/set/setup.txt", setup);
  ASSERT_TRUE(run.start());
  ASSERT_TRUE(run.waitForLog("Time Loading ...10..")) << run.log();

  for (int signal : {SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM}) {
    ASSERT_EQ(::kill(run.pid(), signal), 0);
  }
  ASSERT_TRUE(run.waitForLog("Time Loading ... 8..")) << "the countdown goes on\n" << run.log();
  EXPECT_TRUE(run.alive());

  ASSERT_EQ(::kill(run.pid(), SIGSEGV), 0);
  ASSERT_TRUE(waitUntil([&] { return !run.alive(); }, 10s)) << "SIGSEGV was caught\n" << run.log();
  const std::optional<ExitStatus> status = run.exitStatus();
  ASSERT_TRUE(status);
  EXPECT_EQ(status->signal, SIGSEGV) << status->describe();
}

}  // namespace
}  // namespace corvid::bench::test

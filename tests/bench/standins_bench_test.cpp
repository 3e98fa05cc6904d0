// The stand-in programs as the controller meets them: the root's own copy, found
// through the root's PATH or by absolute path, run by /bin/sh with nothing of the
// host's PATH. And "corvid-bench key", which types on the root's service keyboard.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/framebuffer_png.h"
#include "sim/standins.h"
#include "tests/bench/bench_harness.h"

namespace corvid::bench::test {
namespace {

namespace fs = std::filesystem;

struct ShellResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs a program to its end: its exit status as a shell reports it, and what it printed.
ShellResult runToEnd(ChildOptions options) {
  TempFolder temp;
  ShellResult result;
  options.stdoutFile = temp.path() / "out.txt";
  std::string error;
  std::optional<ChildProcess> child = ChildProcess::start(options, error);
  if (!child) {
    ADD_FAILURE() << error;
    return result;
  }
  std::array<char, 1024> buffer{};
  for (ssize_t n; (n = ::read(child->stderrFd(), buffer.data(), buffer.size())) > 0;) {
    result.err.append(buffer.data(), static_cast<size_t>(n));
  }
  result.status = child->wait().shellStatus();
  std::ifstream out(options.stdoutFile);
  std::ostringstream text;
  text << out.rdbuf();
  result.out = text.str();
  return result;
}

// Runs a command line as the controller runs its commands on the bench.
ShellResult runInRoot(const BenchRoot& root, const std::string& command) {
  ChildOptions options;
  options.argv = {"/bin/sh", "-c", command};
  options.env = {"PATH=" + root.searchPath()};
  return runToEnd(std::move(options));
}

TEST(StandinPrograms, ShellPipelinesCountTheListedAudioDevices) {
  const std::string devices = lsusbLine(1, 4, 0x0d8c, 0x01af, "C-Media Electronics, Inc.") +
                              lsusbLine(1, 5, 0x0d8c, 0x0014, "C-Media Electronics, Inc.") +
                              lsusbLine(1, 2, 0x1721, 0x061a, "receiver");
  CorvidRun run({.faults = {}, .answers = {{"lsusb", devices}}});
  ASSERT_TRUE(run.prepared());

  EXPECT_EQ(runInRoot(run.root(), "lsusb|grep 0d8c:01af |wc -l").out, "1\n");
  EXPECT_EQ(runInRoot(run.root(), "lsusb | grep 0d8c|wc -l").out, "2\n");
  // Only the stand-in is recorded, not the host's text tools.
  EXPECT_EQ(run.calls(), (std::vector<std::string>{"lsusb", "lsusb"}));
}

TEST(StandinPrograms, DefaultAnswersAndProgramsCalledByAbsolutePath) {
  CorvidRun run;
  ASSERT_TRUE(run.prepared());
  const std::string dir = run.root().dir().string();

  const ShellResult temps = runInRoot(run.root(), "my_temp");
  EXPECT_EQ(temps.status, 0);
  EXPECT_EQ(temps.out, "45\ntemp=47.2'C\n");
  EXPECT_EQ(runInRoot(run.root(), "my_vorn").out, "01.046 001.000\nLAN OK\n");
  EXPECT_EQ(runInRoot(run.root(), "lsusb").out, "");

  const ShellResult absolute =
      runInRoot(run.root(), dir + "/bin/stty sane && " + dir + "/usr/bin/tput clear && " + dir +
                                "/sbin/reboot && reboot && ifup --exclude=lo -a");
  EXPECT_EQ(absolute.status, 0) << absolute.err;
  EXPECT_EQ(run.calls(),
            (std::vector<std::string>{"my_temp", "my_vorn", "lsusb", dir + "/bin/stty sane",
                                      dir + "/usr/bin/tput clear", dir + "/sbin/reboot", "reboot",
                                      "ifup --exclude=lo -a"}));
}

TEST(StandinPrograms, SudoRunsOnlyProgramsOfTheRoot) {
  CorvidRun run;
  ASSERT_TRUE(run.prepared());

  const ShellResult restart =
      runInRoot(run.root(), "sudo ifdown --exclude=lo -a && sudo ifup --exclude=lo -a");
  EXPECT_EQ(restart.status, 0) << restart.err;
  EXPECT_EQ(run.calls(),
            (std::vector<std::string>{"sudo ifdown --exclude=lo -a", "ifdown --exclude=lo -a",
                                      "sudo ifup --exclude=lo -a", "ifup --exclude=lo -a"}));

  const ShellResult host = runInRoot(run.root(), "sudo /bin/true");
  EXPECT_EQ(host.status, 1);
  EXPECT_NE(host.err.find("outside the bench root"), std::string::npos) << host.err;
  EXPECT_EQ(runInRoot(run.root(), "sudo no-such-program").status, 127);
}

TEST(StandinPrograms, InjectedFaultsFailOnlyTheChosenCalls) {
  CorvidRun run({.faults = {"mount-ro=32", "my_temp"}, .answers = {}});
  ASSERT_TRUE(run.prepared());
  const std::string set = run.root().settingsDir().string();

  EXPECT_EQ(runInRoot(run.root(), "mount -o remount defaults,rw " + set).status, 0);
  const ShellResult ro = runInRoot(run.root(), "mount -v -n -o remount -r " + set);
  EXPECT_EQ(ro.status, 32);
  EXPECT_EQ(ro.err, "mount: bench fault mount-ro\n");
  const ShellResult temps = runInRoot(run.root(), "my_temp");
  EXPECT_EQ(temps.status, 1);
  EXPECT_EQ(temps.out, "");
  EXPECT_EQ(runInRoot(run.root(), "my_vorn").status, 0);
  // Failed calls are recorded like any other.
  EXPECT_EQ(run.calls().size(), 4u);
}

TEST(StandinPrograms, FbgrabWritesThePanelWithItsColoursInOrder) {
  CorvidRun run;
  ASSERT_TRUE(run.prepared());
  {
    std::fstream fb(run.root().framebuffer(), std::ios::in | std::ios::out | std::ios::binary);
    const char first[4] = {0x10, 0x20, 0x30, 0};  // blue, green, red, unused
    const char last[4] = {static_cast<char>(0xFF), 0, static_cast<char>(0x80), 0};
    fb.write(first, 4);
    fb.seekp(static_cast<std::streamoff>(kFbBytes - 4));
    fb.write(last, 4);
    ASSERT_TRUE(fb);
  }
  const std::string dir = run.root().dir().string();
  const ShellResult grab =
      runInRoot(run.root(), dir + "/usr/bin/fbgrab " + dir + "/tmp/screen.png");
  ASSERT_EQ(grab.status, 0) << grab.err;

  const std::optional<RgbImage> image = readPng(run.root().under("/tmp/screen.png"));
  ASSERT_TRUE(image);
  ASSERT_EQ(image->width, kFbWidth);
  ASSERT_EQ(image->height, kFbHeight);
  const std::vector<uint8_t>& px = image->rgb;
  EXPECT_EQ((std::vector<uint8_t>{px[0], px[1], px[2]}), (std::vector<uint8_t>{0x30, 0x20, 0x10}));
  const size_t end = px.size();
  EXPECT_EQ((std::vector<uint8_t>{px[end - 3], px[end - 2], px[end - 1]}),
            (std::vector<uint8_t>{0x80, 0x00, 0xFF}));
  EXPECT_EQ((std::vector<uint8_t>{px[3], px[4], px[5]}), (std::vector<uint8_t>{0, 0, 0}));

  TempFolder elsewhere;
  const fs::path outside = elsewhere.path() / "outside.png";
  EXPECT_EQ(runInRoot(run.root(), dir + "/usr/bin/fbgrab " + outside.string()).status, 1);
  EXPECT_FALSE(fs::exists(outside));
}

TEST(StandinPrograms, UpdateScriptsServiceShellAndTheKeyboardsCommands) {
  CorvidRun run({.faults = {}, .answers = {{"getpack2.sh", std::string(kGetpackError)}}});
  ASSERT_TRUE(run.prepared());
  const std::string dir = run.root().dir().string();
  run.writeFile("/opt/set/good", "");

  // The commands as the controller runs them, its absolute paths taken under the root.
  const ShellResult update = runInRoot(run.root(), dir + "/opt/Corvid/getpack.sh");
  EXPECT_EQ(update.status, 0) << update.err;
  EXPECT_EQ(update.out, kGetpackDefault);
  const ShellResult service = runInRoot(run.root(), dir + "/opt/Corvid/getpack2.sh");
  EXPECT_EQ(service.status, 0) << service.err;
  EXPECT_EQ(service.out, kGetpackError);
  const ShellResult shell = runInRoot(run.root(), dir + "/opt/sshshell");
  EXPECT_EQ(shell.status, 0) << shell.err;
  EXPECT_EQ(shell.out, "");
  const ShellResult keyboard =
      runInRoot(run.root(), "stty -echo && " + dir + "/usr/bin/fbgrab " + dir +
                                "/tmp/screen.png >/dev/null 2>&1 </dev/null && " + dir +
                                "/bin/stty sane && " + dir + "/usr/bin/tput clear && rm -f " + dir +
                                "/opt/set/good >/dev/null 2>&1 && rm -f " + dir +
                                "/opt/set/good >/dev/null 2>&1");
  EXPECT_EQ(keyboard.status, 0) << keyboard.err;
  EXPECT_TRUE(readPng(run.root().under("/tmp/screen.png")));
  EXPECT_FALSE(fs::exists(run.root().under("/opt/set/good")));
  EXPECT_EQ(run.calls(), (std::vector<std::string>{
                             dir + "/opt/Corvid/getpack.sh", dir + "/opt/Corvid/getpack2.sh",
                             dir + "/opt/sshshell", "stty -echo",
                             dir + "/usr/bin/fbgrab " + dir + "/tmp/screen.png",
                             dir + "/bin/stty sane", dir + "/usr/bin/tput clear",
                             "rm -f " + dir + "/opt/set/good", "rm -f " + dir + "/opt/set/good"}));
}

// "corvid-bench key ..." (under the emulator of a cross build).
ShellResult benchKey(const std::vector<std::string>& words) {
  ChildOptions options;
  options.argv = emulatorWords();
  options.argv.push_back(CORVID_BENCH_BINARY);
  options.argv.push_back("key");
  options.argv.insert(options.argv.end(), words.begin(), words.end());
  return runToEnd(std::move(options));
}

TEST(BenchKeyCommand, TypesOneKeyWhereItIsReadAndSaysWhyItCannot) {
  CorvidRun run;
  ASSERT_TRUE(run.prepared());
  const fs::path fifo = run.root().serviceKeyboard();
  const std::string dir = run.root().dir().string();
  // The controller's side: a reader of the FIFO.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);

  const ShellResult typed = benchKey({"F12", "--dir", dir});
  EXPECT_EQ(typed.status, 0) << typed.err;
  std::string bytes;
  std::array<char, 1024> buffer{};
  for (ssize_t n; (n = ::read(reader, buffer.data(), buffer.size())) > 0;) {
    bytes.append(buffer.data(), static_cast<size_t>(n));
  }
  ASSERT_EQ(bytes.size(), 4 * sizeof(input_event));
  std::vector<std::array<int, 3>> records;
  for (size_t at = 0; at < bytes.size(); at += sizeof(input_event)) {
    input_event e{};
    std::memcpy(&e, bytes.data() + at, sizeof e);
    records.push_back({e.type, e.code, e.value});
  }
  EXPECT_EQ(records, (std::vector<std::array<int, 3>>{{EV_KEY, KEY_F12, 1},
                                                      {EV_SYN, SYN_REPORT, 0},
                                                      {EV_KEY, KEY_F12, 0},
                                                      {EV_SYN, SYN_REPORT, 0}}));

  struct Refusal {
    std::vector<std::string> words;
    std::string_view reason;
  };
  TempFolder elsewhere;
  const std::vector<Refusal> refusals = {
      {{"F5", "--dir", dir}, "no key named F5"},
      {{"--dir", dir}, "which key?"},
      {{"F12", "--dir", elsewhere.path().string()}, "is no bench root"},
  };
  for (const Refusal& r : refusals) {
    const ShellResult refused = benchKey(r.words);
    EXPECT_EQ(refused.status, 2) << r.reason;
    EXPECT_NE(refused.err.find(r.reason), std::string::npos) << refused.err;
  }
  ::close(reader);
  const ShellResult unread = benchKey({"F12", "--dir", dir});
  EXPECT_EQ(unread.status, 2);
  EXPECT_NE(unread.err.find("nobody reads"), std::string::npos) << unread.err;
  fs::remove(fifo);
  const ShellResult missing = benchKey({"SysRq", "--dir", dir});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("no service keyboard FIFO"), std::string::npos) << missing.err;
}

TEST(StandinPrograms, TheBuildsOwnBinaryActsOnNothing) {
  TempFolder temp;
  const fs::path victim = temp.path() / "keep.txt";
  std::ofstream(victim) << "keep\n";
  CorvidRun run;  // a root nearby changes nothing: the binary is not its copy
  ASSERT_TRUE(run.prepared());

  ChildOptions options;
  options.argv = {CORVID_STANDIN_BINARY, "rm", "-f", victim.string()};
  std::string error;
  std::optional<ChildProcess> child = ChildProcess::start(options, error);
  ASSERT_TRUE(child) << error;
  EXPECT_EQ(child->wait().code, 126);
  EXPECT_TRUE(fs::exists(victim));
}

}  // namespace
}  // namespace corvid::bench::test

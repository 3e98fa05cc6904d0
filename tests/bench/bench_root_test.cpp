// The bench's own logic: the calls-log format, the faults file, the root preparation,
// the stand-ins' rules, the scenarios' answers and the service keyboard's records,
// called directly without a controller.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "sim/calls_log.h"
#include "sim/faults.h"
#include "sim/framebuffer_png.h"
#include "sim/scenarios.h"
#include "sim/service_keyboard.h"
#include "sim/standins.h"
#include "tests/bench/bench_harness.h"

namespace corvid::bench::test {
namespace {

namespace fs = std::filesystem;

std::string slurp(const std::filesystem::path& path) {
  return readWholeFile(path).value_or("");
}

void spit(const fs::path& path, std::string_view content) {
  std::ofstream(path, std::ios::binary) << content;
}

TEST(CallsLog, PlainWordsAreWrittenAsTheyAre) {
  const std::vector<std::string> argv = {"mount", "-o", "remount", "defaults,rw", "/r/opt/set"};
  EXPECT_EQ(formatCall(argv), "mount -o remount defaults,rw /r/opt/set");
}

TEST(CallsLog, AwkwardWordsAreQuotedAndReadBack) {
  const std::vector<std::string> argv = {"stty",
                                         "",
                                         "two words",
                                         "say \"hi\"",
                                         "back\\slash",
                                         "line\nfeed\ttab\rcr",
                                         std::string("nul\0x", 5),
                                         "\x7f",
                                         "caf\xc3\xa9"};
  const std::string line = formatCall(argv);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_EQ(line,
            "stty \"\" \"two words\" \"say \\\"hi\\\"\" \"back\\\\slash\" "
            "\"line\\nfeed\\ttab\\rcr\" \"nul\\x00x\" \"\\x7F\" caf\xc3\xa9");
  EXPECT_EQ(splitCallLine(line), argv);
}

TEST(CallsLog, MalformedLinesAreRejected) {
  EXPECT_FALSE(splitCallLine("a \"open"));
  EXPECT_FALSE(splitCallLine("a \"bad\\q\""));
  EXPECT_FALSE(splitCallLine("a \"\\x4\""));
  EXPECT_FALSE(splitCallLine("a  b"));
  EXPECT_FALSE(splitCallLine("a "));
  EXPECT_FALSE(splitCallLine("\"a\"b"));
}

TEST(CallsLog, AppendedCallsFollowEachOther) {
  TempFolder temp;
  const fs::path log = temp.path() / "calls.log";
  EXPECT_EQ(appendCall(log, std::vector<std::string>{"reboot"}), 0);
  EXPECT_EQ(appendCall(log, std::vector<std::string>{"rm", "-f", "/r/x"}), 0);
  EXPECT_EQ(readCallsLog(log), (std::vector<std::string>{"reboot", "rm -f /r/x"}));
  EXPECT_NE(appendCall(temp.path() / "missing/calls.log", std::vector<std::string>{"x"}), 0);
}

TEST(Faults, WordsCommentsAndStatuses) {
  std::vector<std::string> errors;
  const Faults faults =
      Faults::parse("mount-rw   my_temp=7 # lsusb\n\n\tfuture-sim=255\r\n", &errors);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(faults.status("mount-rw"), 1);
  EXPECT_EQ(faults.status("my_temp"), 7);
  EXPECT_EQ(faults.status("future-sim"), 255);
  EXPECT_FALSE(faults.status("lsusb")) << "commented out";
  EXPECT_FALSE(faults.status("mount")) << "a variant does not fail every call";
  EXPECT_FALSE(faults.status("mount-r"));
}

TEST(Faults, BadStatusesAreReportedAndStillFail) {
  for (const char* word :
       {"mount-ro=0", "mount-ro=256", "mount-ro=x", "mount-ro=", "mount-ro=3x"}) {
    std::vector<std::string> errors;
    const Faults faults = Faults::parse(word, &errors);
    EXPECT_EQ(errors.size(), 1u) << word;
    EXPECT_EQ(faults.status("mount-ro"), 1) << word;
  }
}

TEST(Faults, MissingFileMeansNone) {
  EXPECT_TRUE(Faults::load("/nonexistent/bench/faults").all().empty());
}

TEST(Faults, MountCallsAreToldApart) {
  using V = std::vector<std::string>;
  EXPECT_EQ(mountFaultWord(V{"mount", "-o", "remount", "defaults,rw", "/r/opt/set"}), "mount-rw");
  EXPECT_EQ(mountFaultWord(V{"mount", "-v", "-n", "-o", "remount", "-r", "/r/opt/set"}),
            "mount-ro");
  EXPECT_EQ(mountFaultWord(V{"/r/bin/mount", "-o", "remount", "defaults,ro", "/r/"}), "mount-ro");
  EXPECT_EQ(mountFaultWord(V{"mount", "/r/opt/set/rwdata"}), "");
  EXPECT_EQ(mountFaultWord(V{"mount"}), "");
}

class PreparedRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    standin_ = temp_.path() / "standin";
    spit(standin_, "#!/bin/sh\n");
    dir_ = temp_.path() / "root";
  }
  PrepareResult prepare(SettingsStart settings = SettingsStart::Keep,
                        std::vector<std::string> faults = {},
                        std::map<std::string, std::string> answers = {}) {
    PrepareOptions options{dir_, standin_, settings, std::move(faults), std::move(answers)};
    return prepareRoot(options);
  }
  TempFolder temp_;
  fs::path standin_;
  fs::path dir_;
};

TEST_F(PreparedRoot, LaysOutFoldersDevicesFontsAndStandins) {
  const PrepareResult result = prepare();
  ASSERT_TRUE(result.root) << result.error;
  for (std::string_view folder : rootFolders()) {
    EXPECT_TRUE(fs::is_directory(dir_ / folder)) << folder;
  }
  EXPECT_EQ(fs::file_size(dir_ / "dev/fb0"), 800u * 480u * 4u);
  const std::string mem = slurp(dir_ / "dev/mem");
  ASSERT_EQ(mem.size(), 4096u);
  // Level word, little endian: bits 22 to 27 set, every key released.
  EXPECT_EQ(mem.substr(0x34, 4), std::string("\x00\x00\xC0\x0F", 4));
  EXPECT_EQ(mem.find_first_not_of('\0', 0x38), std::string::npos);
  EXPECT_EQ(mem.substr(0, 0x34), std::string(0x34, '\0'));

  EXPECT_EQ(fs::read_symlink(dir_ / "opt/fonts/PTS55F_W.ttf"),
            "/usr/share/fonts/truetype/paratype/PTS55F.ttf");
  EXPECT_EQ(fs::read_symlink(dir_ / "usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"),
            "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf");
  for (const StandinRow& row : kStandins) {
    const fs::path link = dir_ / row.folder / row.name;
    EXPECT_EQ(fs::canonical(link), fs::canonical(dir_ / "bench/bin/corvid-standin")) << link;
  }
  EXPECT_EQ(::access((dir_ / "bench/bin/corvid-standin").c_str(), X_OK), 0);
  EXPECT_TRUE(fs::exists(dir_ / "bin/grep"));
  EXPECT_TRUE(fs::exists(dir_ / "bin/wc"));
  EXPECT_EQ(BenchRoot::ofStandin(dir_ / "bench/bin/corvid-standin")->dir(), dir_);
  EXPECT_FALSE(BenchRoot::ofStandin(temp_.path() / "bin/x/corvid-standin"));
}

TEST_F(PreparedRoot, ReuseKeepsTheSettingsAndRenewsTheRest) {
  ASSERT_TRUE(prepare(SettingsStart::Keep, {"mount-rw"}, {{"lsusb", "x\n"}}).root);
  spit(dir_ / "opt/set/setup.txt", "EnableKeyb: 0\n");
  spit(dir_ / "var/log/bench-calls.log", "mount\n");
  spit(dir_ / "dev/mem", "pressed");

  ASSERT_TRUE(prepare().root);
  EXPECT_EQ(slurp(dir_ / "opt/set/setup.txt"), "EnableKeyb: 0\n");
  EXPECT_EQ(slurp(dir_ / "var/log/bench-calls.log"), "");
  EXPECT_EQ(slurp(dir_ / "bench/faults"), "");
  EXPECT_FALSE(fs::exists(dir_ / "bench/answers/lsusb"));
  EXPECT_EQ(fs::file_size(dir_ / "dev/mem"), 4096u);

  ASSERT_TRUE(prepare(SettingsStart::Fresh).root);
  EXPECT_TRUE(fs::is_directory(dir_ / "opt/set"));
  // A factory start: nothing of the operator's is left, only the factory network file.
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir_ / "opt/set")) {
    left.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(left, std::vector<std::string>{"interfaces"});
}

TEST_F(PreparedRoot, MakesTheKeyboardFifoAndTheFactoryNetworkFileWhenMissing) {
  ASSERT_TRUE(prepare().root);
  const BenchRoot root(dir_);
  struct stat st {};
  ASSERT_EQ(::lstat(root.serviceKeyboard().c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  // Only the keyboard lies where the controller looks for "*-event-kbd".
  std::vector<fs::path> inputs;
  for (const auto& entry : fs::directory_iterator(dir_ / "dev/input/by-id")) {
    inputs.push_back(entry.path());
  }
  EXPECT_EQ(inputs, std::vector<fs::path>{root.serviceKeyboard()});
  EXPECT_TRUE(root.serviceKeyboard().filename().string().ends_with("-event-kbd"));
  EXPECT_EQ(slurp(root.interfacesFile()), kFactoryInterfaces);

  // The operator's network file is his; the keyboard is renewed, whatever lies there.
  spit(root.interfacesFile(), "auto eth0\niface eth0 inet dhcp\n");
  fs::remove(root.serviceKeyboard());
  spit(root.serviceKeyboard(), "stale events");
  ASSERT_TRUE(prepare().root);
  EXPECT_EQ(slurp(root.interfacesFile()), "auto eth0\niface eth0 inet dhcp\n");
  ASSERT_EQ(::lstat(root.serviceKeyboard().c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  fs::remove(root.interfacesFile());
  ASSERT_TRUE(prepare().root);
  EXPECT_EQ(slurp(root.interfacesFile()), kFactoryInterfaces);
  spit(root.interfacesFile(), "address 10.0.0.7\n");
  ASSERT_TRUE(prepare(SettingsStart::Fresh).root);
  EXPECT_EQ(slurp(root.interfacesFile()), kFactoryInterfaces);
}

TEST_F(PreparedRoot, RefusesFoldersThatAreNotBenchRoots) {
  fs::create_directories(dir_);
  spit(dir_ / "notes.txt", "mine");
  const PrepareResult foreign = prepare();
  EXPECT_FALSE(foreign.root);
  EXPECT_NE(foreign.error.find("not a bench root"), std::string::npos) << foreign.error;
  EXPECT_EQ(fs::directory_iterator(dir_)->path().filename(), "notes.txt");

  PrepareOptions other;
  other.standin = standin_;
  other.dir = "/";
  EXPECT_FALSE(prepareRoot(other).root);
  other.dir = "";
  EXPECT_FALSE(prepareRoot(other).root);
}

TEST_F(PreparedRoot, RefusesBadFaultsAndAMissingStandin) {
  EXPECT_FALSE(prepare(SettingsStart::Keep, {"mount-rw=999"}).root);
  standin_ = temp_.path() / "missing";
  const PrepareResult result = prepare();
  EXPECT_FALSE(result.root);
  EXPECT_NE(result.error.find("stand-in"), std::string::npos) << result.error;
}

TEST_F(PreparedRoot, ContainsOnlyWhatLiesStrictlyInside) {
  ASSERT_TRUE(prepare().root);
  const BenchRoot root(dir_);
  EXPECT_TRUE(root.contains(dir_ / "opt/set/info.txt"));
  EXPECT_TRUE(root.contains(dir_ / "opt/set/../good"));
  EXPECT_TRUE(root.contains(dir_ / "tmp/"));
  EXPECT_FALSE(root.contains(dir_));
  EXPECT_FALSE(root.contains(dir_ / "."));
  EXPECT_FALSE(root.contains(dir_ / ".."));
  EXPECT_FALSE(root.contains(dir_ / "opt/../../outside"));
  EXPECT_FALSE(root.contains("/etc/hostname"));
  EXPECT_FALSE(root.contains(dir_.string() + "-sibling/x"));
  // A folder link leading out of the root does not take a path with it...
  fs::create_directory_symlink(temp_.path(), dir_ / "tmp/escape");
  EXPECT_FALSE(root.contains(dir_ / "tmp/escape/standin"));
  // ...but a link at the end of a path is the link itself, which lies inside.
  EXPECT_TRUE(root.contains(dir_ / "tmp/escape"));
}

class Standins : public PreparedRoot {
 protected:
  void SetUp() override {
    PreparedRoot::SetUp();
    const PrepareResult result = prepare();
    ASSERT_TRUE(result.root) << result.error;
  }
  StandinOutcome run(std::vector<std::string> argv) {
    return runStandin({BenchRoot(dir_), std::move(argv)});
  }
};

TEST_F(Standins, RmRemovesInsideTheRootAndRefusesOutside) {
  const fs::path inside = dir_ / "opt/set/info.txt";
  const fs::path outside = temp_.path() / "keep.txt";
  spit(inside, "info");
  spit(outside, "keep");

  StandinOutcome refused = run({"rm", "-f", outside.string(), inside.string()});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("outside the bench root"), std::string::npos) << refused.err;
  EXPECT_TRUE(fs::exists(outside));
  EXPECT_FALSE(fs::exists(inside)) << "the path inside is still removed";

  EXPECT_EQ(run({"rm", inside.string()}).status, 1) << "missing without -f";
  EXPECT_EQ(run({"rm", "-f", inside.string()}).status, 0);
  EXPECT_EQ(run({"rm", "-f"}).status, 0);
  EXPECT_EQ(run({"rm"}).status, 1);
  EXPECT_EQ(run({"rm", "-x", inside.string()}).status, 1);
}

TEST_F(Standins, RmTakesFoldersOnlyWhenRecursiveAndLinksAsLinks) {
  fs::create_directories(dir_ / "opt/Corvid/pack/sub");
  EXPECT_EQ(run({"rm", (dir_ / "opt/Corvid/pack").string()}).status, 1);
  EXPECT_TRUE(fs::exists(dir_ / "opt/Corvid/pack/sub"));
  EXPECT_EQ(run({"rm", "-rf", "--", (dir_ / "opt/Corvid/pack").string()}).status, 0);
  EXPECT_FALSE(fs::exists(dir_ / "opt/Corvid/pack"));

  // A link inside the root to a file outside: the link goes, the file stays.
  const fs::path target = temp_.path() / "target.txt";
  spit(target, "keep");
  fs::create_symlink(target, dir_ / "tmp/link");
  EXPECT_EQ(run({"rm", (dir_ / "tmp/link").string()}).status, 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "tmp/link")));
  EXPECT_TRUE(fs::exists(target));
}

TEST_F(Standins, EveryCallIsRecordedFirstAndFaultsApply) {
  spit(dir_ / "bench/faults", "mount-rw=4 lsusb\n");
  const std::string set = (dir_ / "opt/set").string();
  const StandinOutcome rw = run({"mount", "-o", "remount", "defaults,rw", set});
  EXPECT_EQ(rw.status, 4);
  EXPECT_EQ(rw.err, "mount: bench fault mount-rw\n");
  EXPECT_EQ(run({"mount", "-v", "-n", "-o", "remount", "-r", set}).status, 0);
  EXPECT_EQ(run({"lsusb"}).status, 1);
  EXPECT_EQ(run({"no_such_tool", "a b"}).status, 127);
  EXPECT_EQ(readCallsLog(dir_ / "var/log/bench-calls.log"),
            (std::vector<std::string>{"mount -o remount defaults,rw " + set,
                                      "mount -v -n -o remount -r " + set, "lsusb",
                                      "no_such_tool \"a b\""}));
}

TEST_F(Standins, AnswerFilesReplaceTheDefaultOutput) {
  EXPECT_EQ(run({"my_temp"}).out, kMyTempDefault);
  spit(dir_ / "bench/answers/my_temp", "61\ntemp=58.0'C\n");
  EXPECT_EQ(run({"my_temp"}).out, "61\ntemp=58.0'C\n");
  EXPECT_EQ(lsusbLine(1, 4, 0x0d8c, 0x01af, "C-Media"),
            "Bus 001 Device 004: ID 0d8c:01af C-Media\n");
}

TEST_F(Standins, SudoHandsOverToTheRootsProgram) {
  const StandinOutcome ifdown = run({"sudo", "ifdown", "--exclude=lo", "-a"});
  EXPECT_EQ(ifdown.status, 0);
  EXPECT_EQ(ifdown.execPath, (dir_ / "sbin/ifdown").string());
  EXPECT_EQ(ifdown.execArgv, (std::vector<std::string>{"ifdown", "--exclude=lo", "-a"}));
  EXPECT_TRUE(run({"sudo", "/sbin/ifdown"}).execPath.empty());
  EXPECT_EQ(run({"sudo"}).status, 1);
}

TEST_F(Standins, FbgrabNeedsAFileInsideTheRoot) {
  EXPECT_EQ(run({"fbgrab"}).status, 1);
  EXPECT_EQ(run({"fbgrab", "-d"}).status, 1);
  EXPECT_EQ(run({"fbgrab", "-d", "/dev/fb0", (dir_ / "tmp/s.png").string()}).status, 1)
      << "the host's framebuffer is not read";
  EXPECT_EQ(run({"fbgrab", "-i", (dir_ / "tmp/s.png").string()}).status, 0);
  EXPECT_TRUE(readPng(dir_ / "tmp/s.png"));
}

TEST_F(Standins, UpdateScriptsAnswerTheirFilesAndTheShellPrintsNothing) {
  EXPECT_EQ(run({"getpack.sh"}).out, kGetpackDefault);
  EXPECT_EQ(run({"getpack2.sh"}).out, kGetpackDefault);
  spit(dir_ / "bench/answers/getpack2.sh", kGetpackError);
  EXPECT_EQ(run({"getpack2.sh"}).out, kGetpackError);
  EXPECT_EQ(run({"getpack.sh"}).out, kGetpackDefault) << "each script has its own answer";
  const StandinOutcome shell = run({(dir_ / "opt/sshshell").string()});
  EXPECT_EQ(shell.status, 0);
  EXPECT_EQ(shell.out, "");
  EXPECT_EQ(shell.err, "");
  // A fault word gives the status, and no output: an update run without a result line.
  spit(dir_ / "bench/faults", "getpack.sh=3\n");
  const StandinOutcome failed = run({"getpack.sh"});
  EXPECT_EQ(failed.status, 3);
  EXPECT_EQ(failed.out, "");
  EXPECT_EQ(readCallsLog(dir_ / "var/log/bench-calls.log"),
            (std::vector<std::string>{"getpack.sh", "getpack2.sh", "getpack2.sh", "getpack.sh",
                                      (dir_ / "opt/sshshell").string(), "getpack.sh"}));
}

// The update scripts' output as the controller reads it: a line starting "ALLOK" is
// success (0); a line starting "VORNE" is an error whose number starts at its 11th
// character, the line before it the error text; neither is no result (-1).
struct UpdateRun {
  int result = -1;
  std::string errorText;
  bool operator==(const UpdateRun&) const = default;
};
UpdateRun readUpdateRun(std::string_view output) {
  UpdateRun run;
  std::istringstream lines{std::string(output)};
  std::string previous;
  for (std::string line; std::getline(lines, line); previous = line) {
    if (line.starts_with("ALLOK")) return {0, run.errorText};
    if (line.starts_with("VORNE")) {
      run.errorText = previous;
      run.result = line.size() > 10 ? std::atoi(line.c_str() + 10) : 0;
    }
  }
  return run;
}

TEST(StandinAnswers, UpdateScriptOutcomesReadAsTheyAreMeant) {
  EXPECT_EQ(readUpdateRun(kGetpackDefault), (UpdateRun{0, ""}));
  EXPECT_EQ(readUpdateRun(kGetpackError), (UpdateRun{12, "Package checksum mismatch"}));
  EXPECT_EQ(readUpdateRun(kGetpackNoResult), (UpdateRun{-1, ""}));
}

TEST(StandinAnswers, MyVornOffersAndConnectionStates) {
  // Line 1: software major at characters 0-1, minor at 3-5; line 2: the state, read as
  // no connection when it starts with 'N' or has 'o' second.
  struct Case {
    std::string_view answer;
    bool connected;
    bool newerThanInstalled;  // the controller's 01.046
  };
  const std::vector<Case> cases = {
      {kMyVornDefault, true, false},
      {kMyVornNoConn, false, false},
      {kMyVornUpdateOffered, true, true},
  };
  for (const Case& c : cases) {
    const std::string text(c.answer);
    const size_t nl = text.find('\n');
    ASSERT_NE(nl, std::string::npos) << text;
    const std::string offer = text.substr(0, nl);
    const std::string state = text.substr(nl + 1, text.find('\n', nl + 1) - nl - 1);
    ASSERT_EQ(offer.size(), 14u) << offer;
    EXPECT_EQ(offer[2], '.');
    EXPECT_EQ(offer[6], ' ');
    EXPECT_EQ(offer[10], '.');
    const bool offline = state.starts_with('N') || (state.size() > 1 && state[1] == 'o');
    EXPECT_EQ(!offline, c.connected) << state;
    const int major = std::stoi(offer.substr(0, 2));
    const int minor = std::stoi(offer.substr(3, 3));
    EXPECT_EQ(major > 1 || (major == 1 && minor > 46), c.newerThanInstalled) << offer;
  }
}

TEST(Scenarios, StandinScenariosWriteTheirAnswers) {
  using Answers = std::map<std::string, std::string>;
  struct Case {
    std::string_view name;
    Answers answers;
  };
  const std::vector<Case> cases = {
      {"lan-offline", {{"my_vorn", std::string(kMyVornNoConn)}}},
      {"update-offered", {{"my_vorn", std::string(kMyVornUpdateOffered)}}},
      {"update-error",
       {{"my_vorn", std::string(kMyVornUpdateOffered)},
        {"getpack.sh", std::string(kGetpackError)},
        {"getpack2.sh", std::string(kGetpackError)}}},
  };
  for (const Case& c : cases) {
    const Scenario* scenario = findScenario(c.name);
    ASSERT_NE(scenario, nullptr) << c.name;
    PrepareOptions options;
    scenario->configure(options);
    EXPECT_EQ(options.answers, c.answers) << c.name;
    EXPECT_TRUE(options.faults.empty()) << c.name;
    EXPECT_EQ(scenario->measure.count(), 0) << c.name;
  }
}

// Reads what the FIFO holds now: whole records of this machine's input_event.
std::vector<input_event> readEvents(int fd, std::string* rest = nullptr) {
  std::string bytes;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
    bytes.append(buffer, static_cast<size_t>(n));
  }
  std::vector<input_event> events(bytes.size() / sizeof(input_event));
  if (!events.empty())
    std::memcpy(events.data(), bytes.data(), events.size() * sizeof(input_event));
  if (rest != nullptr) *rest = bytes.substr(events.size() * sizeof(input_event));
  return events;
}

struct Ev {
  uint16_t type;
  uint16_t code;
  int32_t value;
  bool operator==(const Ev&) const = default;
};
std::vector<Ev> fieldsOf(const std::vector<input_event>& events) {
  std::vector<Ev> out;
  for (const input_event& e : events) out.push_back({e.type, e.code, e.value});
  return out;
}

class KeyboardFifo : public ::testing::Test {
 protected:
  void SetUp() override {
    fifo_ = temp_.path() / "usb-Test-event-kbd";
    ASSERT_EQ(::mkfifo(fifo_.c_str(), 0600), 0);
  }
  TempFolder temp_;
  fs::path fifo_;
};

TEST_F(KeyboardFifo, PressRepeatAndReleaseAreWholeRecordsWithTheirSyncs) {
  ServiceKeyboard keyboard(fifo_);
  ASSERT_TRUE(keyboard.ok()) << keyboard.error();
  const int reader = ::open(fifo_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  struct Case {
    std::string_view what;
    bool (ServiceKeyboard::*call)(uint16_t);
    uint16_t code;
    std::vector<Ev> records;
  };
  const std::vector<Case> cases = {
      {"press", &ServiceKeyboard::press, KEY_F12, {{1, 88, 1}, {0, 0, 0}, {1, 88, 0}, {0, 0, 0}}},
      {"press", &ServiceKeyboard::press, KEY_SYSRQ, {{1, 99, 1}, {0, 0, 0}, {1, 99, 0}, {0, 0, 0}}},
      {"repeat", &ServiceKeyboard::repeat, KEY_F1, {{1, 59, 2}, {0, 0, 0}}},
      {"release", &ServiceKeyboard::release, KEY_F4, {{1, 62, 0}, {0, 0, 0}}},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE((keyboard.*c.call)(c.code)) << c.what << ": " << keyboard.error();
    std::string rest;
    const std::vector<input_event> events = readEvents(reader, &rest);
    EXPECT_EQ(fieldsOf(events), c.records) << c.what << " " << c.code;
    EXPECT_EQ(rest, "") << "a record cut short";
    for (const input_event& e : events) EXPECT_GT(e.input_event_sec, 0) << "no time stamp";
  }
  EXPECT_TRUE(keyboard.event(EV_MSC, MSC_SCAN, 0x70045));
  EXPECT_EQ(fieldsOf(readEvents(reader)), (std::vector<Ev>{{EV_MSC, MSC_SCAN, 0x70045}}));
  ::close(reader);
}

TEST_F(KeyboardFifo, AFullFifoRefusesWholeKeysWithoutBlocking) {
  ServiceKeyboard keyboard(fifo_);
  ASSERT_TRUE(keyboard.ok()) << keyboard.error();
  EXPECT_TRUE(hasReader(fifo_)) << "the keyboard itself holds the FIFO for reading";
  // Nobody reads: the FIFO fills (64 KiB on Linux) and then refuses, never blocks.
  int typed = 0;
  while (typed < 100000 && keyboard.press(KEY_F11)) ++typed;
  ASSERT_LT(typed, 100000);
  EXPECT_GT(typed, 0);
  EXPECT_NE(keyboard.error().find("full"), std::string::npos) << keyboard.error();
  const int reader = ::open(fifo_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  std::string rest;
  const std::vector<input_event> events = readEvents(reader, &rest);
  EXPECT_EQ(events.size(), 4u * static_cast<size_t>(typed)) << "only whole keys went in";
  EXPECT_EQ(rest, "");
  EXPECT_TRUE(keyboard.press(KEY_F11)) << "read again: room again";
  EXPECT_EQ(keyboard.error(), "");
  ::close(reader);
}

TEST_F(KeyboardFifo, OnlyAFifoIsAKeyboard) {
  const fs::path file = temp_.path() / "file-event-kbd";
  spit(file, "keep");
  for (const fs::path& path : {file, temp_.path() / "missing-event-kbd"}) {
    ServiceKeyboard keyboard(path);
    EXPECT_FALSE(keyboard.ok()) << path;
    EXPECT_NE(keyboard.error(), "") << path;
    EXPECT_FALSE(keyboard.press(KEY_F12)) << path;
    EXPECT_FALSE(hasReader(path)) << path;
  }
  EXPECT_EQ(slurp(file), "keep");
  EXPECT_FALSE(hasReader(fifo_)) << "nobody holds it";
}

TEST(ServiceKeys, NamesGiveTheInputLayersCodes) {
  const std::vector<std::pair<std::string_view, std::optional<uint16_t>>> cases = {
      {"SysRq", 99}, {"F1", 59},  {"F2", 60},  {"F3", 61},  {"F4", 62},
      {"F10", 68},   {"F11", 87}, {"F12", 88}, {"f12", 88}, {"SYSRQ", 99},
      {"F5", {}},    {"F1 ", {}}, {"", {}},    {"Esc", {}}, {"F", {}},
  };
  for (const auto& [name, code] : cases) EXPECT_EQ(keyCode(name), code) << "\"" << name << "\"";
  EXPECT_EQ(serviceKeys().size(), 8u);
  EXPECT_EQ(serviceKeyNames(), "SysRq, F1, F2, F3, F4, F10, F11, F12");
}

TEST(Scenarios, DefaultIsKnownAndAddsNothing) {
  const Scenario* scenario = findScenario("default");
  ASSERT_NE(scenario, nullptr);
  PrepareOptions options;
  scenario->configure(options);
  EXPECT_TRUE(options.faults.empty());
  EXPECT_TRUE(options.answers.empty());
  EXPECT_EQ(findScenario("nonexistent"), nullptr);
}

}  // namespace
}  // namespace corvid::bench::test

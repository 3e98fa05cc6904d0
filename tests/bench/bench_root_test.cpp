// The bench's own logic: the calls-log format, the faults file, the root preparation
// and the stand-ins' rules, called directly without a controller.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "sim/calls_log.h"
#include "sim/faults.h"
#include "sim/framebuffer_png.h"
#include "sim/scenarios.h"
#include "sim/standins.h"
#include "tests/bench/bench_harness.h"

namespace corvid::bench::test {
namespace {

namespace fs = std::filesystem;

std::string slurp(const std::filesystem::path& path) { return readWholeFile(path).value_or(""); }

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
  EXPECT_TRUE(fs::is_empty(dir_ / "opt/set"));
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

// Power cuts: the real controller killed (SIGKILL, as a cut at the wall leaves it) at
// random moments while it rewrites its files: settings from the service keyboard's F11,
// the main screen and the menu; band tables from the memory-table editor and the tune
// screen's bypass; tune memories from a save and a bank copy; the plotter; the filters;
// the information file (written at each start) and the temperature log (while the
// amplifier transmits). After each cut every file under /opt/set must be wholly its old
// version or a whole new one, at most one temporary file may be left per file, and the
// next start must read them all.
//
// CORVID_POWER_CUTS (4, 2 under an emulator) cuts in all, shared by CORVID_POWER_CUT_BENCHES (2) benches that
// run side by side, each cutting and restarting its own controller; CORVID_POWER_CUT_SEED
// repeats a run. tools/power-cuts.sh runs a thousand. To see that an action does write
// what it should: CORVID_POWER_CUT_ACTION=N (its row below) and CORVID_POWER_CUT_DELAY_MS
// long enough for it to end before the cut.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/service_keyboard.h"
#include "tests/bench/bench_harness.h"
#include "tests/bench/panel_driver.h"

namespace corvid::bench::test {
namespace {

namespace fs = std::filesystem;

int envNumber(const char* name, int fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  return std::max(1, std::atoi(text));
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> fieldsOf(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

bool isInteger(const std::string& word) {
  size_t at = word.starts_with('-') ? 1 : 0;
  return at < word.size() &&
         std::all_of(word.begin() + static_cast<long>(at), word.end(), [](char c) {
           return c >= '0' && c <= '9';
         });
}

// A rewrite's temporary file: the file's name, a dot and six letters or digits.
std::optional<std::string> tempTarget(const std::string& name) {
  if (name.size() < 8 || name[name.size() - 7] != '.') return std::nullopt;
  const std::string suffix = name.substr(name.size() - 6);
  if (!std::all_of(suffix.begin(), suffix.end(), [](char c) { return std::isalnum(c) != 0; })) {
    return std::nullopt;
  }
  return name.substr(0, name.size() - 7);  // "setup.txt.XXXXXX", "interfaces.XXXXXX"
}

using Files = std::map<std::string, std::string>;  // name under /opt/set, content

struct Folder {
  Files files;
  std::map<std::string, int> temps;  // per target file
};

Folder readFolder(const fs::path& folder) {
  Folder out;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = entry.path().filename().string();
    if (const std::optional<std::string> target = tempTarget(name)) {
      ++out.temps[*target];
      continue;
    }
    out.files[name] = readWholeFile(entry.path()).value_or("");
  }
  return out;
}

// Why content cannot be a whole version of the file name (empty: it can). old is the
// version before the cut, when there was one. What a torn file shows: a missing line
// end, a line cut short, lines missing at the end.
std::string notWhole(const std::string& name, const std::string& content,
                     const std::optional<std::string>& old, const std::set<std::string>& setupKeys) {
  const bool tuneMemory = name.starts_with("atu_ant");
  if (content.empty()) return tuneMemory ? "" : "empty";
  if (content.back() != '\n') return "no line end at the end";
  const std::vector<std::string> lines = linesOf(content);
  if (name == "setup.txt") {
    std::set<std::string> keys;
    for (const std::string& line : lines) {
      const size_t colon = line.find(": ");
      if (colon == std::string::npos) return "a line without \"key: value\": " + line;
      keys.insert(line.substr(0, colon));
    }
    if (keys != setupKeys) return "not every key";
    return "";
  }
  if (name.starts_with("antenna")) {
    if (lines.empty() || !lines[0].starts_with("!")) return "no interface line";
    const size_t rows = old ? linesOf(*old).size() - 1 : 11;
    if (lines.size() - 1 != rows) return "rows missing";
    for (size_t i = 1; i < lines.size(); ++i) {
      if (fieldsOf(lines[i]).size() != 8) return "a row cut short: " + lines[i];
    }
    return "";
  }
  if (tuneMemory) {
    long last = -1;
    for (const std::string& line : lines) {
      const std::vector<std::string> f = fieldsOf(line);
      if (f.size() != 6 || !std::all_of(f.begin(), f.end(), isInteger)) {
        return "a cell cut short: " + line;
      }
      const long index = std::stol(f[0]);
      if (index <= last) return "cells out of order";
      last = index;
    }
    return "";
  }
  if (name == "LOGtemp.txt") {
    if (lines[0] != ";TX,Temp1,Temp2,FDD,SWR") return "no header";
    for (size_t i = 1; i < lines.size(); ++i) {
      if (std::count(lines[i].begin(), lines[i].end(), ',') < 7) return "half a line: " + lines[i];
    }
    // Appended to, or begun anew at the first transmission of a run.
    if (old && !content.starts_with(*old) && lines.size() > 3) return "neither appended nor anew";
    return "";
  }
  // The other tables keep their shape when rewritten.
  if (old && linesOf(*old).size() != lines.size()) return "lines missing";
  return "";
}

// What a cut interrupts: an operator's action on the panel or the service keyboard.
enum class Action {
  SaveKey,         // F11 a few times: setup.txt
  MainView,        // the main screen's view key: setup.txt
  MenuSetting,     // the long-press time in the menu: setup.txt
  MemoryTableEdit, // an antenna changed in the memory table and saved: the band table
  TuneBypass,      // the tune screen's bypass, on or off: the band table
  TuneSave,        // a manual tune saved: a tune memory
  BankCopy,        // bank 0 copied: three tune memories and a band table
  PlotterSave,     // the spectrum settings saved: plotter.txt
  FilterSave,      // the filters saved: filter.txt
  LanSave,         // the address changed in the menu: interfaces
  InfoFile,        // none: the information file, every two minutes (the cut falls on it)
  Count
};
// How long each takes on this machine, roughly (a press is about 0.3 s): the cut falls
// anywhere in it.
constexpr int kActionMs[] = {1000, 1000, 4000, 4000, 1500, 3000, 3500, 8000, 5000, 9000, 0};
constexpr const char* kActionNames[] = {
    "F11",       "main view", "menu setting", "memory table", "tune bypass", "tune save",
    "bank copy", "plotter",   "filters",      "LAN address",  "information file"};
static_assert(std::size(kActionMs) == static_cast<size_t>(Action::Count));
static_assert(std::size(kActionNames) == static_cast<size_t>(Action::Count));

// Runs action on the panel; stops at the first press the controller no longer answers
// (it has been cut).
void perform(Action action, CorvidRun& run, Panel& panel, int round) {
  switch (action) {
    case Action::SaveKey: {
      ServiceKeyboard keyboard(run.root().serviceKeyboard());
      for (int i = 0; i < 4 && keyboard.press(KEY_F11); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
      }
      return;
    }
    case Action::MainView:
      panel.tap(6) && panel.tap(6);
      return;
    case Action::MenuSetting:
      // Up on even rounds, down on odd ones: the time stays near its factory value.
      panel.tapTo(5, "menu") && panel.taps(4, 4) && panel.tapTo(6, "menu-edit") &&
          panel.tap(round % 2 == 0 ? 5 : 4) && panel.tapTo(6, "menu") && panel.tapTo(1, "main");
      return;
    case Action::MemoryTableEdit:
      // The input power of the first row, a tenth up or down.
      panel.holdTo(1, "memory-table") && panel.tapTo(6, "memory-edit") &&
          panel.tap(round % 2 == 0 ? 5 : 4) && panel.tap(6) && panel.tapTo(1, "memory-table") && panel.tapTo(1, "main");
      return;
    case Action::TuneBypass:
      panel.tapTo(4, "tune") && panel.tap(4) && panel.tapTo(1, "main");
      return;
    case Action::TuneSave:
      // Manual tuning, one step of L, then saved to the bank and antenna in use.
      panel.tapTo(4, "tune") && panel.tap(6) && panel.tap(3) && panel.tap(1) && panel.tap(6) &&
          panel.tapTo(1, "main");
      return;
    case Action::BankCopy:
      panel.holdTo(1, "memory-table") && panel.tapTo(5, "bank-choice") && panel.tap(2) &&
          panel.tap(3) && panel.tap(6) && panel.tapTo(1, "main");
      return;
    case Action::PlotterSave:
      panel.tapTo(5, "menu") && panel.taps(4, 17) && panel.tapTo(6, "menu-edit") &&
          panel.tap(5) && panel.tapTo(6, "spectrum-settings") && panel.tap(2) &&
          panel.tapTo(1, "menu") && panel.tapTo(1, "main");
      return;
    case Action::FilterSave:
      panel.tapTo(5, "menu") && panel.taps(4, 1) && panel.tapTo(6, "menu-edit") &&
          panel.tap(5) && panel.tap(6) && panel.tap(6) && panel.tap(6) && panel.tap(1) &&
          panel.tap(1) && panel.tapTo(1, "main");
      return;
    case Action::LanSave:
      panel.tapTo(5, "menu") && panel.taps(4, 23) && panel.tapTo(6, "menu-edit") &&
          panel.tap(round % 2 == 0 ? 5 : 4) && panel.tapTo(6, "menu") && panel.tapTo(1, "main");
      return;
    case Action::InfoFile:
    case Action::Count:
      return;
  }
}

// The second LAN check of a run, two minutes after the first: the information file is
// written right after it.
bool waitForInfoFile(CorvidRun& run, size_t from) {
  const std::optional<size_t> first = run.waitForLogFrom(from, "!!!myvorn", std::chrono::seconds(60));
  return first && run.waitForLogFrom(*first, "!!!myvorn", std::chrono::seconds(180)).has_value();
}

struct Tally {
  std::mutex mutex;
  int cuts = 0;
  int cutsAtStart = 0;     // during the start-up, before the panel answered
  int filesChecked = 0;
  int filesNew = 0;        // a new version found after a cut
  int cutsMidWrite = 0;    // a temporary file left: the cut fell inside a rewrite
  int startsChecked = 0;
  std::map<std::string, int> newByFile;
  std::map<std::string, int> cutsByAction;
  std::vector<std::string> faults;
};

class CutBench {
 public:
  CutBench(int index, unsigned seed, Tally& tally, std::atomic<int>& remaining)
      : index_(index), random_(seed), tally_(tally), remaining_(remaining) {}

  void run() {
    MicroRun bench;
    CorvidRun& run = bench.corvid();
    if (!run.prepared()) return fault("the bench root could not be prepared");
    run.writeFile("/opt/set/setup.txt", withValues(goldenSetup(), {{"AutoTuneMode", "1"}, {"EnableLOGTemp", "1"}}));
    writeBandTables(run, factoryBandTable("!Gen", "1 1 0 0 0.0"));
    setupKeys_ = keysOf(goldenSetup());
    // The amplifier transmits throughout: the temperature log is written every 5 s.
    bench.micro().withMicro([](AmpMicro& m) { m.key(40.0); });
    if (!bench.start()) return fault("the bench did not start");
    const fs::path folder = run.root().under("/opt/set");
    int round = 0;
    bool running = true;  // the controller started by bench.start() is up
    while (remaining_.fetch_sub(1) > 0) {
      if (!running) {
        const size_t from = run.logSize();
        if (!run.start()) return fault("the controller did not start again");
        checkStart(run, from);
      }
      running = true;
      const Folder before = readFolder(folder);
      cut(run, round);
      running = false;
      check(folder, before);
      ++round;
    }
    // The last cut's files, read by one more start.
    const size_t from = run.logSize();
    if (run.start()) {
      checkStart(run, from);
      if (!waitStarted(run, from)) fault("the last start did not finish:\n" + run.logFrom(from));
    }
    run.stop();
  }

 private:
  static std::set<std::string> keysOf(const std::string& setup) {
    std::set<std::string> keys;
    for (const std::string& line : linesOf(setup)) keys.insert(line.substr(0, line.find(": ")));
    return keys;
  }

  void fault(const std::string& text) {
    std::scoped_lock lock(tally_.mutex);
    tally_.faults.push_back("bench " + std::to_string(index_) + ": " + text);
  }

  // One cut: now and then during the start-up, mostly inside an action.
  void cut(CorvidRun& run, int round) {
    const size_t from = run.logSize();
    const bool atStart = std::uniform_int_distribution<int>(0, 9)(random_) == 0;
    std::optional<Action> action;
    if (atStart) {
      std::this_thread::sleep_for(
          std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 14000)(random_)));
    } else {
      if (!waitStarted(run, from)) {
        fault("a start did not finish:\n" + run.logFrom(from));
      }
      // The information file wants two minutes of running: one cut in forty waits for it.
      action = std::uniform_int_distribution<int>(0, 39)(random_) == 0
                   ? Action::InfoFile
                   : static_cast<Action>(std::uniform_int_distribution<int>(
                         0, static_cast<int>(Action::InfoFile) - 1)(random_));
      if (const char* chosen = std::getenv("CORVID_POWER_CUT_ACTION")) {
        action = static_cast<Action>(std::atoi(chosen) % static_cast<int>(Action::Count));
      }
      Panel panel(run);
      std::thread acting([&] { perform(*action, run, panel, round); });
      const int delay = envNumber("CORVID_POWER_CUT_DELAY_MS", 0);
      int cutAfterMs =
          delay > 1 ? delay
                    : std::uniform_int_distribution<int>(
                          0, kActionMs[static_cast<int>(*action)])(random_);
      if (*action == Action::InfoFile) {
        if (!waitForInfoFile(run, from)) fault("no second LAN check:\n" + run.logFrom(from));
        cutAfterMs = std::uniform_int_distribution<int>(0, 40)(random_);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(cutAfterMs));
      ::kill(run.pid(), SIGKILL);
      acting.join();
    }
    if (atStart) ::kill(run.pid(), SIGKILL);
    run.stop();  // reaps it
    std::scoped_lock lock(tally_.mutex);
    ++tally_.cuts;
    if (atStart) ++tally_.cutsAtStart;
    if (action) ++tally_.cutsByAction[kActionNames[static_cast<int>(*action)]];
  }

  void check(const fs::path& folder, const Folder& before) {
    const Folder after = readFolder(folder);
    std::scoped_lock lock(tally_.mutex);
    bool midWrite = false;
    for (const auto& [target, count] : after.temps) {
      midWrite = true;
      if (count > 1) {
        tally_.faults.push_back("bench " + std::to_string(index_) + ": " +
                                std::to_string(count) + " temporary files of " + target);
      }
    }
    if (midWrite) ++tally_.cutsMidWrite;
    for (const auto& [name, content] : before.files) {
      if (!after.files.contains(name) && name != "LOGtemp.txt") {
        tally_.faults.push_back("bench " + std::to_string(index_) + ": " + name + " is gone");
      }
    }
    for (const auto& [name, content] : after.files) {
      ++tally_.filesChecked;
      const auto old = before.files.find(name);
      if (old != before.files.end() && old->second == content) continue;
      ++tally_.filesNew;
      ++tally_.newByFile[name];
      const std::optional<std::string> oldContent =
          old == before.files.end() ? std::nullopt : std::optional<std::string>(old->second);
      const std::string why = notWhole(name, content, oldContent, setupKeys_);
      if (!why.empty()) {
        tally_.faults.push_back("bench " + std::to_string(index_) + ": " + name + " torn (" +
                                why + "):\n" + content);
      }
    }
  }

  // A start reads every file the cut left: none is missing or refused.
  void checkStart(CorvidRun& run, size_t from) {
    const bool up = run.waitForLogFrom(from, "GPIO loop start", std::chrono::seconds(30)).has_value();
    const std::string log = run.logFrom(from);
    std::scoped_lock lock(tally_.mutex);
    ++tally_.startsChecked;
    if (!up) tally_.faults.push_back("bench " + std::to_string(index_) + ": no start:\n" + log);
    for (const char* refused : {"Init Setup!", "can't open /opt/set/setup.txt",
                                "can't open /opt/set/antenna", "Error Reinit antenna",
                                "LoadTabAtu Errore"}) {
      if (log.find(refused) != std::string::npos) {
        tally_.faults.push_back("bench " + std::to_string(index_) + ": the start after a cut: " +
                                refused);
      }
    }
  }

  int index_;
  std::mt19937 random_;
  Tally& tally_;
  std::atomic<int>& remaining_;
  std::set<std::string> setupKeys_;
};

TEST(PowerCutBench, EveryFileIsWhollyOldOrNewAfterEachCut) {
  // Under an emulator (the armhf build's tests) every start takes long: fewer cuts.
  const bool emulated = std::getenv("CORVID_EMULATOR") != nullptr;
  const int cuts = envNumber("CORVID_POWER_CUTS", emulated ? 2 : 4);
  const int benches = std::min(envNumber("CORVID_POWER_CUT_BENCHES", 2), cuts);
  const unsigned seed = static_cast<unsigned>(
      envNumber("CORVID_POWER_CUT_SEED", static_cast<int>(std::random_device{}() & 0x7FFFFFFF)));
  std::printf("power cuts: %d on %d benches, seed %u\n", cuts, benches, seed);
  Tally tally;
  std::atomic<int> remaining{cuts};
  std::vector<std::thread> threads;
  const auto began = std::chrono::steady_clock::now();
  for (int i = 0; i < benches; ++i) {
    threads.emplace_back([&, i] { CutBench(i, seed + static_cast<unsigned>(i), tally, remaining).run(); });
  }
  for (std::thread& t : threads) t.join();
  const auto took = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::steady_clock::now() - began);

  std::printf("cuts %d (%d in the start-up, %d inside a rewrite) in %lld s; files checked %d, "
              "new versions %d, starts after a cut %d\n",
              tally.cuts, tally.cutsAtStart, tally.cutsMidWrite,
              static_cast<long long>(took.count()), tally.filesChecked, tally.filesNew,
              tally.startsChecked);
  for (const auto& [name, n] : tally.cutsByAction) std::printf("  cut in %s: %d\n", name.c_str(), n);
  for (const auto& [name, n] : tally.newByFile) std::printf("  new %s: %d\n", name.c_str(), n);
  EXPECT_EQ(tally.cuts, cuts);
  for (const std::string& fault : tally.faults) ADD_FAILURE() << fault;
  EXPECT_TRUE(tally.faults.empty()) << tally.faults.size() << " faults";
}

}  // namespace
}  // namespace corvid::bench::test

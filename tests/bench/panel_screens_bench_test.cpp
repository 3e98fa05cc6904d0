// The operator's panel of the real controller on the bench: the six keys pressed in the
// GPIO block file DIR/dev/mem, followed through what the controller does with them:
// its log ("key N short", "key N long" for each event, "panel NAME" for each change of
// the panel state), the frames on the amplifier line, the settings and band table files,
// the stand-in calls and the power controller's exchanges.
//
// Two runs of the controller take the panel through its screens in order (each start-up
// costs about 14 s, so one run serves several checks):
//
//   1. the attenuator and antenna keys of the main screen, the antenna key refused while
//      the amplifier reports a locked state, the tuner bypass of the tune screen, and
//      two menu edits that reach setup.txt only on ENTER;
//   2. after a restart on the same root: the edited settings in force, a memory table
//      cell edit, the reset of all banks, "Turn Off Hardware" and a software update.
//
// A third run takes a few thousand random keys and checks that the panel still answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sim/gpio_keys.h"
#include "sim/panel_state.h"
#include "sim/root_settings.h"
#include "sim/standins.h"
#include "tests/bench/bench_harness.h"
#include "tests/bench/panel_driver.h"

namespace corvid::bench::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;


std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// The factory band rows, one "name start end" each, as a band table file holds them.
constexpr const char* kBands[11] = {
    "160m 1800000 2000000",  "80m 3500000 4000000",   "60m 5330500 5450000",
    "40m 7000000 7300000",   "30m 10100000 10150000", "20m 14000000 14350000",
    "17m 18068000 18168000", "15m 21000000 21450000", "12m 24890000 24990000",
    "10m 28000000 29700000", "6m 50000000 54000000"};

// A band table on the amplifier's own frequency counter (14.07 MHz on the micro: the
// 20 m row) with the factory choices, but the amplifier in and the tuner in line on 20 m.
std::string bandTable() {
  std::string text = "!Gen\n";
  for (int row = 0; row < 11; ++row) {
    text += kBands[row];
    text += row == 5 ? " 1 1 0 0 0.0\n" : " 0 1 1 0 0.0\n";
  }
  return text;
}

// The line of a band table that starts with the band's name.
std::string bandLine(const std::optional<std::string>& table, std::string_view band) {
  for (const std::string& line : linesOf(table.value_or(""))) {
    if (line.starts_with(std::string(band) + " ")) return line;
  }
  return {};
}

std::vector<std::string> callsWith(const std::vector<std::string>& calls, std::string_view text) {
  std::vector<std::string> found;
  for (const std::string& call : calls) {
    if (call.find(text) != std::string::npos) found.push_back(call);
  }
  return found;
}

// The texts of the controller's frames from wire entry from on that begin with prefix.
std::vector<std::string> framesStarting(const AmpSimulator& micro, size_t from,
                                        std::string_view prefix) {
  std::vector<std::string> found;
  for (const std::string& frame : framesSince(micro, from)) {
    if (frame.starts_with(prefix)) found.push_back(frame);
  }
  return found;
}

// The tune value of a "MT1XXXXXXXX;" frame.
std::optional<uint32_t> tuneValueOf(std::string_view frame) {
  if (frame.size() != 12 || !frame.starts_with("MT1") || frame.back() != ';') return std::nullopt;
  return static_cast<uint32_t>(std::stoul(std::string(frame.substr(3, 8)), nullptr, 16));
}
constexpr uint32_t kBypassBit = 0x10000;

// How many of the micro's status replies from wire entry from on report statusC bit 3.
size_t lockedReplies(const AmpSimulator& micro, size_t from) {
  size_t n = 0;
  for (const WireEntry& entry : micro.wire().since(from)) {
    const std::string_view text = entry.text();
    if (!entry.fromController() && text.starts_with("ST") && text.size() > 30 && text[30] == '8') {
      ++n;
    }
  }
  return n;
}

std::string setting(const CorvidRun& run, std::string_view key) {
  return rootSetting(run.root(), key).value_or("(none)");
}

// The files of one bank: the band table and the tune memories of its three antennas.
std::vector<std::string> bankFiles(int bank) {
  const std::string suffix = bank == 0 ? "" : "_b" + std::to_string(bank);
  std::vector<std::string> files = {bank == 0 ? "/opt/set/antenna.txt"
                                              : "/opt/set/antenna" + suffix + ".txt"};
  for (int antenna = 1; antenna <= 3; ++antenna) {
    files.push_back("/opt/set/atu_ant" + std::to_string(antenna) + suffix + ".txt");
  }
  return files;
}

TEST(PanelScreensBench, MainTuneAndMenuKeysThenTablesBanksAndServiceItemsAfterARestart) {
  MicroRun bench({.faults = {},
                  .answers = {{"my_vorn", std::string(kMyVornUpdateOffered)}},
                  .workingDir = {}});
  CorvidRun& run = bench.corvid();
  ASSERT_TRUE(run.prepared());
  // Tuning enabled, so that the tune screen's bypass key acts.
  run.writeFile("/opt/set/setup.txt", withValues(goldenSetup(), {{"AutoTuneMode", "1"}}));
  run.writeFile("/opt/set/antenna.txt", bandTable());
  // Only the software is offered as newer than what is installed.
  bench.micro().withMicro([](AmpMicro& m) { m.setFirmwareVersion(std::string(kOfferedFirmware)); });
  ASSERT_TRUE(bench.start());
  AmpSimulator& micro = bench.micro();
  Panel panel(run);
  ASSERT_TRUE(panel.ok()) << panel.error();
  ASSERT_TRUE(waitStarted(run)) << run.log();
  // The band follow has applied the 20 m row: the amplifier switched in.
  ASSERT_TRUE(waitForFrame(micro, "AB0;")) << run.log();
  std::this_thread::sleep_for(500ms);

  // A main-screen key sends its command and the 20 m row of the band table remembers it.
  auto keyChangesTheRow = [&](int key, const std::string& frame, const std::string& row) {
    const size_t wire = micro.wire().size();
    ASSERT_TRUE(panel.tap(key)) << run.log();
    EXPECT_TRUE(waitForFrame(micro, frame, wire, 5s))
        << testing::PrintToString(framesSince(micro, wire));
    EXPECT_TRUE(
        waitUntil([&] { return bandLine(run.readFile("/opt/set/antenna.txt"), "20m") == row; }, 5s))
        << bandLine(run.readFile("/opt/set/antenna.txt"), "20m");
  };
  {
    SCOPED_TRACE("IN-ATT: the next attenuator step, remembered in the band row");
    keyChangesTheRow(2, "AT01;", "20m 14000000 14350000 1 1 0 1 0.0");
  }
  {
    SCOPED_TRACE("ANT: the next antenna, remembered in the band row");
    keyChangesTheRow(3, "SA2;", "20m 14000000 14350000 1 2 0 1 0.0");
  }
  {
    SCOPED_TRACE("ANT while the amplifier reports a locked state: refused");
    const size_t before = micro.wire().size();
    MicroFaults locked;
    locked.statusCBits = 0x08;
    micro.setFaults(locked);
    // Two status replies with the bit: the controller has decoded at least one.
    ASSERT_TRUE(waitUntil([&] { return lockedReplies(micro, before) >= 2; })) << "no locked status";
    const std::optional<std::string> table = run.readFile("/opt/set/antenna.txt");
    const size_t wire = micro.wire().size();
    ASSERT_TRUE(panel.tap(3)) << run.log();
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(framesStarting(micro, wire, "SA").empty())
        << testing::PrintToString(framesSince(micro, wire));
    EXPECT_EQ(run.readFile("/opt/set/antenna.txt"), table);
    micro.setFaults({});
    const size_t unlocked = micro.wire().size();
    ASSERT_TRUE(waitUntil([&] {
      const std::vector<WireEntry> since = micro.wire().since(unlocked);
      return std::count_if(since.begin(), since.end(), [](const WireEntry& e) {
               return !e.fromController() && e.text().starts_with("ST");
             }) >= 2;
    }));
  }
  {
    SCOPED_TRACE("the tune screen's bypass key: on with the bypass value, then off");
    ASSERT_TRUE(panel.tapTo(4, "tune")) << run.log();
    size_t wire = micro.wire().size();
    ASSERT_TRUE(panel.tap(4)) << run.log();
    EXPECT_TRUE(micro.wire().waitFor(
        wire,
        [](std::span<const WireEntry> entries) {
          return std::any_of(entries.begin(), entries.end(), [](const WireEntry& e) {
            const std::optional<uint32_t> value = tuneValueOf(e.text());
            return e.fromController() && value && (*value & kBypassBit) != 0;
          });
        },
        5s))
        << "no tune value with the bypass bit: "
        << testing::PrintToString(framesStarting(micro, wire, "MT"));
    EXPECT_TRUE(waitUntil(
        [&] {
          return bandLine(run.readFile("/opt/set/antenna.txt"), "20m") ==
                 "20m 14000000 14350000 1 2 1 1 0.0";
        },
        5s))
        << bandLine(run.readFile("/opt/set/antenna.txt"), "20m");

    wire = micro.wire().size();
    ASSERT_TRUE(panel.tap(4)) << run.log();
    // Back in line: the value for the frequency (no memory: the default, CL, L 0, C 0).
    EXPECT_TRUE(waitForFrame(micro, "MT100800000;", wire, 5s))
        << testing::PrintToString(framesStarting(micro, wire, "MT"));
    EXPECT_TRUE(waitUntil(
        [&] {
          return bandLine(run.readFile("/opt/set/antenna.txt"), "20m") ==
                 "20m 14000000 14350000 1 2 0 1 0.0";
        },
        5s))
        << bandLine(run.readFile("/opt/set/antenna.txt"), "20m");
    ASSERT_TRUE(panel.tapTo(1, "main")) << run.log();
  }
  {
    SCOPED_TRACE("menu edits reach setup.txt on ENTER only");
    ASSERT_TRUE(panel.tapTo(5, "menu")) << run.log();
    // Item 4, "Long Press Time": 0.5 s up to 0.8 s.
    ASSERT_TRUE(panel.taps(4, 4));
    ASSERT_TRUE(panel.tapTo(6, "menu-edit")) << run.log();
    ASSERT_TRUE(panel.taps(5, 3));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(setting(run, "BTN_longpress_Time"), "5") << "written before ENTER";
    ASSERT_TRUE(panel.tapTo(6, "menu")) << run.log();
    EXPECT_TRUE(waitUntil([&] { return setting(run, "BTN_longpress_Time") == "8"; }, 5s))
        << setting(run, "BTN_longpress_Time");
    // Item 0, "Max Banks Number": 3 up to 4.
    ASSERT_TRUE(panel.taps(3, 4));
    ASSERT_TRUE(panel.tapTo(6, "menu-edit")) << run.log();
    ASSERT_TRUE(panel.tap(5));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(setting(run, "MAXbank"), "3") << "written before ENTER";
    ASSERT_TRUE(panel.tapTo(6, "menu")) << run.log();
    EXPECT_TRUE(waitUntil([&] { return setting(run, "MAXbank") == "4"; }, 5s))
        << setting(run, "MAXbank");
    EXPECT_EQ(setting(run, "BTN_longpress_Time"), "8");
    ASSERT_TRUE(panel.tapTo(1, "main")) << run.log();
  }
  if (HasFatalFailure()) return;

  // The restart: every bank has files of its own now, up to the fourth.
  run.stop();
  for (int bank = 1; bank <= 3; ++bank) {
    std::string table = bandTable();
    run.writeFile(bankFiles(bank)[0], table);
  }
  for (int bank = 0; bank <= 3; ++bank) {
    for (size_t kind = 1; kind < 4; ++kind) {
      run.writeFile(bankFiles(bank)[kind], ";Cell,Freq,Valid,Mode,L,C\n");
    }
  }
  const size_t restarted = run.logSize();
  ASSERT_TRUE(run.start());
  ASSERT_TRUE(waitStarted(run, restarted)) << run.logFrom(restarted);
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(setting(run, "BTN_longpress_Time"), "8");
  EXPECT_EQ(setting(run, "MAXbank"), "4");

  {
    SCOPED_TRACE("the long-press time of the menu, in force after the restart");
    const std::optional<Clock::duration> took = panel.hold(1);
    ASSERT_TRUE(took) << run.logFrom(restarted);
    EXPECT_GE(*took, 750ms) << "the long press came before the 0.8 s set in the menu";
    ASSERT_TRUE(panel.waitState("memory-table", restarted)) << run.logFrom(restarted);
  }
  {
    SCOPED_TRACE("a memory table cell: Att of the selected row, one step up, saved");
    const std::optional<std::string> before = run.readFile("/opt/set/antenna.txt");
    ASSERT_TRUE(panel.tapTo(6, "memory-edit")) << run.logFrom(restarted);
    ASSERT_TRUE(panel.tap(3));  // column 0 (PwrIn) to 1 (Att)
    ASSERT_TRUE(panel.tap(5));  // up
    EXPECT_EQ(run.readFile("/opt/set/antenna.txt"), before) << "saved before SAVE";
    ASSERT_TRUE(panel.tap(6));
    ASSERT_TRUE(waitUntil([&] { return run.readFile("/opt/set/antenna.txt") != before; }, 5s));
    const std::vector<std::string> old = linesOf(before.value_or(""));
    const std::vector<std::string> now = linesOf(run.readFile("/opt/set/antenna.txt").value_or(""));
    ASSERT_EQ(now.size(), old.size());
    size_t changed = 0;
    for (size_t i = 0; i < now.size(); ++i) {
      if (now[i] == old[i]) continue;
      ++changed;
      std::vector<std::string> a = words(old[i]);
      std::vector<std::string> b = words(now[i]);
      ASSERT_EQ(a.size(), 8u) << old[i];
      ASSERT_EQ(b.size(), 8u) << now[i];
      EXPECT_EQ((std::stoi(a[6]) + 1) % 4, std::stoi(b[6])) << old[i] << " -> " << now[i];
      a[6] = b[6];
      EXPECT_EQ(a, b) << "only the Att column changes: " << old[i] << " -> " << now[i];
    }
    EXPECT_EQ(changed, 1u);
    ASSERT_TRUE(panel.tapTo(1, "memory-table")) << run.logFrom(restarted);
  }
  {
    SCOPED_TRACE("the reset of all banks (four of them since the menu edit)");
    for (int bank = 0; bank <= 3; ++bank) {
      for (const std::string& file : bankFiles(bank)) {
        ASSERT_TRUE(run.readFile(file)) << file << " is missing before the reset";
      }
    }
    ASSERT_TRUE(panel.tapTo(5, "bank-choice")) << run.logFrom(restarted);
    ASSERT_TRUE(panel.tapTo(3, "bank-reset")) << run.logFrom(restarted);
    // From bank 0 to "ALL" (the value MAXbank).
    ASSERT_TRUE(panel.taps(2, 4));
    ASSERT_TRUE(panel.tapTo(6, "memory-table")) << run.logFrom(restarted);
    for (int bank = 0; bank <= 3; ++bank) {
      for (const std::string& file : bankFiles(bank)) {
        EXPECT_FALSE(run.readFile(file)) << file << " is still there";
        EXPECT_FALSE(callsWith(run.calls(), run.root().under(file).string()).empty()) << file;
      }
    }
    ASSERT_TRUE(panel.tapTo(1, "main")) << run.logFrom(restarted);
  }
  {
    SCOPED_TRACE("Turn Off Hardware: the power controller's off command");
    ASSERT_TRUE(panel.tapTo(5, "menu")) << run.logFrom(restarted);
    ASSERT_TRUE(panel.tap(3));  // up from item 0 to the last, 35
    ASSERT_TRUE(panel.tapTo(6, "menu-edit")) << run.logFrom(restarted);
    ASSERT_TRUE(panel.tap(5));  // "ON"
    const size_t sent = linesOf(run.readFile("/var/log/power-controller.log").value_or("")).size();
    ASSERT_TRUE(panel.tapTo(6, "menu")) << run.logFrom(restarted);
    EXPECT_TRUE(waitUntil(
        [&] {
          const std::vector<std::string> lines =
              linesOf(run.readFile("/var/log/power-controller.log").value_or(""));
          return std::any_of(
              lines.begin() + static_cast<std::ptrdiff_t>(std::min(sent, lines.size())),
              lines.end(), [](const std::string& l) { return l.starts_with("85 "); });
        },
        5s))
        << "no 0x85 exchange";
  }
  {
    SCOPED_TRACE("a software update armed from the menu: the update script, then a reboot");
    ASSERT_TRUE(panel.taps(3, 2));  // up from 35 to 33
    ASSERT_TRUE(panel.tapTo(6, "menu-edit")) << run.logFrom(restarted);
    ASSERT_TRUE(panel.tap(5));  // armed
    const size_t from = run.logSize();
    const size_t wire = micro.wire().size();
    ASSERT_TRUE(panel.tap(6));
    EXPECT_TRUE(run.waitForLogFrom(from, "!!!!!!!!!!!!!!!!!!!Start AGG UI...\n"))
        << run.logFrom(from);
    EXPECT_TRUE(run.waitForLogFrom(from, "!!!!!!!!!!!!!!!!!!!AGG SW end: exit 0\n"))
        << run.logFrom(from);
    EXPECT_EQ(callsWith(run.calls(), "opt/Corvid/getpack.sh").size(), 1u);
    EXPECT_TRUE(run.waitForLogFrom(from, "!!!!!!!!!!!!!!!!!!!AGG SW Wait 5s to exit... 0\n"))
        << run.logFrom(from);
    EXPECT_TRUE(waitForFrame(micro, "MR1;", wire, 10s));
    EXPECT_TRUE(waitUntil([&] { return !callsWith(run.calls(), "reboot").empty(); }, 15s))
        << "no reboot after the update";
  }
}

// The whole log of a failed run, kept for a look.
void keepLog(const CorvidRun& run, uint32_t seed) {
  const fs::path file =
      fs::path(::testing::TempDir()) / ("panel-random-" + std::to_string(seed) + ".log");
  std::ofstream(file, std::ios::binary) << run.log();
  std::printf("the controller's log: %s\n", file.c_str());
}

// Random keys, short and long, on every screen they lead to. The power-off of a long key
// 1 on the memory table and status pages is left out (the key thread then ignores every
// key by design); should one still happen (a short press stretched by a stalled
// machine), the controller is started again and the keys go on. The menu's service
// items run as they do on the bench: their stand-ins record the calls, the modelled
// power controller takes the off command, nothing reboots.
TEST(PanelScreensBench, ThousandsOfRandomKeysLeaveThePanelAnswering) {
  const char* seedText = std::getenv("CORVID_PANEL_SEED");
  const char* countText = std::getenv("CORVID_PANEL_KEYS");
  const uint32_t seed = seedText != nullptr
                            ? static_cast<uint32_t>(std::strtoul(seedText, nullptr, 10))
                            : std::random_device{}();
  const int count = countText != nullptr ? std::atoi(countText) : 2000;
  std::printf("random keys: %d, seed %u (CORVID_PANEL_SEED=%u repeats them)\n", count, seed, seed);
  RecordProperty("seed", std::to_string(seed));

  MicroRun bench;
  CorvidRun& run = bench.corvid();
  ASSERT_TRUE(run.prepared());
  // The shortest long-press time of the menu.
  run.writeFile("/opt/set/setup.txt", withValues(goldenSetup(), {{"BTN_longpress_Time", "3"}}));
  ASSERT_TRUE(bench.start());
  Panel panel(run);
  ASSERT_TRUE(panel.ok()) << panel.error();
  ASSERT_TRUE(waitStarted(run)) << run.log();

  // The panel state as the log tells it, read up to its last whole line.
  PanelStateWatch watch;
  size_t scanned = 0;
  bool poweredOff = false;
  const auto refresh = [&] {
    const std::string text = run.logFrom(scanned);
    const size_t end = text.rfind('\n');
    if (end == std::string::npos) return;
    for (const std::string& line : linesOf(text.substr(0, end + 1))) {
      watch.feed(line);
      if (line.starts_with("SHUT DOWN> SEND TINY CMD")) poweredOff = true;
    }
    scanned += end + 1;
  };
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> anyKey(1, 6);
  std::uniform_int_distribution<int> percent(0, 99);
  int longs = 0;
  int restarts = 0;
  std::set<std::string> visited;
  for (int i = 0; i < count; ++i) {
    ASSERT_TRUE(run.alive()) << "the controller ended after " << i << " keys (seed " << seed
                             << ")\n"
                             << run.logFrom(run.logSize() > 20000 ? run.logSize() - 20000 : 0);
    refresh();
    if (poweredOff) {
      std::printf("power-off after %d keys: starting again\n", i);
      ++restarts;
      ASSERT_LT(restarts, 4) << "power-off again and again (seed " << seed << ")";
      run.stop();
      const size_t from = run.logSize();
      ASSERT_TRUE(run.start());
      ASSERT_TRUE(waitStarted(run, from));
      refresh();
      poweredOff = false;
      watch.feed("panel main");
    }
    const int key = anyKey(random);
    bool longPress = percent(random) < 4;
    if (longPress && key == 1) {
      // Only with the state known: the last key's change of screen is in the log.
      std::this_thread::sleep_for(250ms);
      refresh();
      const std::string state = watch.name();
      if (state == "memory-table" || state == "status") longPress = false;
    }
    if (longPress) {
      ++longs;
      const auto held = std::min<std::chrono::milliseconds>(longPressTime(run.root()), 1500ms);
      runKeySteps(panel.keys(), {{key, true, held + 100ms}, {key, false, 25ms}});
    } else {
      // Five times the debounce: most are taken, a few fall into a busy key thread.
      runKeySteps(panel.keys(), {{key, true, 20ms}, {key, false, 25ms}});
    }
    visited.insert(watch.name());
    if ((i + 1) % 500 == 0) std::printf("%d keys, panel %s\n", i + 1, watch.name().c_str());
  }
  panel.keys().releaseAll();
  std::this_thread::sleep_for(2s);
  refresh();
  const std::string all = run.log();
  size_t taken = 0;
  for (size_t at = all.find("\nkey "); at != std::string::npos; at = all.find("\nkey ", at + 1)) {
    ++taken;
  }
  std::string states;
  for (const std::string& name : visited) states += " " + name;
  std::printf("%d keys (%d long), %zu events taken, %d restarts after a power-off; screens:%s\n",
              count, longs, taken, restarts, states.c_str());
  ASSERT_TRUE(run.alive()) << "seed " << seed;
  ASSERT_FALSE(poweredOff) << "seed " << seed;

  // Back to the main screen: key 1 leaves every screen but two. The menu's editing is
  // left by ENTER (after disarming a software update, which holds it there); the tune
  // screen keeps key 1 while a tune runs, which its tune key aborts, and its key 6 opens
  // the manual tuning screen, which key 1 leaves by the save screen.
  for (int tries = 0; tries < 40 && watch.name() != "main"; ++tries) {
    const std::string state = watch.name();
    int key = 1;
    if (state == "menu-edit") key = tries % 2 == 0 ? 6 : 5;
    if (state == "tune") key = tries % 3 == 0 ? 1 : tries % 3 == 1 ? 2 : 6;
    // A press not taken (a menu action still running in the background ignores keys) is
    // tried again in the next round; the panel must still reach the main screen.
    if (!panel.tap(key)) {
      std::printf("seed %u: key %d not taken on %s\n", static_cast<unsigned>(seed), key,
                  state.c_str());
    }
    // ENTER of an armed software update waits 2 s in the background, and keys pressed
    // meanwhile are ignored: the next key (+, which disarms it) waits for its end.
    std::this_thread::sleep_for(state == "menu-edit" && key == 6 ? 3000ms : 300ms);
    refresh();
  }
  if (watch.name() != "main") keepLog(run, seed);
  ASSERT_EQ(watch.name(), "main") << "seed " << seed;
  // SET opens the menu (a first key may only close the status page), BACK leaves it.
  size_t from = run.logSize();
  if (!panel.tapTo(5, "menu")) {
    from = run.logSize();
    if (!panel.tapTo(5, "menu")) keepLog(run, seed);
    ASSERT_TRUE(run.waitForLogFrom(from, "panel menu\n", 0s)) << "seed " << seed;
  }
  if (!panel.tapTo(1, "main")) keepLog(run, seed);
  ASSERT_TRUE(run.waitForLogFrom(from, "panel main\n", 0s)) << "seed " << seed;
  EXPECT_TRUE(run.alive());
}

}  // namespace
}  // namespace corvid::bench::test

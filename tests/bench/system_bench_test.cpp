// The system services and the service keyboard on the bench: the real controller reads
// the network file at start, asks my_vorn for the LAN state, removes the last-good
// marker after 30 s, writes the information file two minutes in, and obeys the keys of
// the bench's keyboard. The network file's rewrite, the update check and the update
// scripts run in this process against the bench's root and stand-ins (no key of the
// controller reaches them before the menus).
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/works.h"
#include "platform/root.h"
#include "sim/service_keyboard.h"
#include "sim/standins.h"
#include "system/network.h"
#include "system/updates.h"
#include "tests/bench/bench_harness.h"

namespace corvid::bench::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The calls of the log that mention text, in order.
std::vector<std::string> callsWith(const std::vector<std::string>& calls, std::string_view text) {
  std::vector<std::string> found;
  for (const std::string& call : calls) {
    if (call.find(text) != std::string::npos) found.push_back(call);
  }
  return found;
}

size_t indexOf(const std::vector<std::string>& calls, std::string_view text, size_t from = 0) {
  for (size_t i = from; i < calls.size(); ++i) {
    if (calls[i].find(text) != std::string::npos) return i;
  }
  return calls.size();
}

TEST(SystemBench, NetworkFileLanStateMarkerAndInformationFile) {
  RunOptions options;
  options.answers["my_vorn"] = std::string(kMyVornUpdateOffered);
  MicroRun run(options);
  run.corvid().writeFile("/opt/set/good", "last good\n");
  ASSERT_TRUE(run.start());
  CorvidRun& corvid = run.corvid();

  // The factory network file, read before the threads start.
  for (const char* line :
       {"ip: 192.168.1.200\n", "NetMask: 255.255.255.0\n", "gateway: 192.168.1.1\n",
        "DNS: 192.168.1.1\n", "ReadLanParam DNS_none=0 Gateway_none=0\n"}) {
    EXPECT_TRUE(corvid.waitForLog(line)) << line << corvid.log();
  }
  ASSERT_TRUE(corvid.waitForLog("!!!myvorn: 2 01.047 001.012 LAN OK\n")) << corvid.log();

  // 30 s after the start the marker goes, inside a window of /opt/set.
  ASSERT_TRUE(waitUntil([&] { return !fs::exists(corvid.root().under("/opt/set/good")); }, 60s))
      << corvid.log();
  {
    ASSERT_TRUE(corvid.waitForLog("END AGG FW 0..\n")) << corvid.log();
    const std::vector<std::string> calls = corvid.calls();
    const size_t rm = indexOf(calls, "rm -f " + corvid.root().under("/opt/set/good").string());
    ASSERT_LT(rm, calls.size());
    // Other threads run their commands meanwhile (my_temp): the mounts around the removal
    // are the nearest ones.
    size_t rw = rm;
    while (rw > 0 && !calls[rw - 1].starts_with("mount ")) --rw;
    ASSERT_GT(rw, 0u);
    EXPECT_EQ(calls[rw - 1],
              "mount -o remount defaults,rw " + corvid.root().settingsDir().string());
    const size_t ro = indexOf(calls, "mount ", rm);
    ASSERT_LT(ro, calls.size());
    EXPECT_EQ(calls[ro], "mount -v -n -o remount -r " + corvid.root().settingsDir().string());
  }

  // Two minutes after the first LAN run: the next one, and the information file.
  ASSERT_TRUE(waitUntil([&] { return fs::exists(corvid.root().under("/opt/set/info.txt")); }, 180s))
      << corvid.log();
  ASSERT_TRUE(waitUntil([&] { return callsWith(corvid.calls(), "my_vorn").size() >= 2; }));
  const std::vector<std::string> info = linesOf(corvid.readFile("/opt/set/info.txt").value_or(""));
  ASSERT_EQ(info.size(), 17u) << corvid.readFile("/opt/set/info.txt").value_or("");
  const char* prefixes[] = {
      "TIME: 20",  "SW ver. 01.046", "FW ver. 1.02.03", "HW ver. ", "Serial Number: ",
      "Company: ", "TYPE: ",         "MAXPOWER: ",      "FWD:",     "RFL:",
      "PW:",       "SWR:",           "Current:",        "CPU:",     "Set Point Alarm ",
      "State 0x",  "ver. "};
  for (size_t i = 0; i < info.size(); ++i) {
    EXPECT_TRUE(info[i].starts_with(prefixes[i])) << "line " << i + 1 << ": " << info[i];
  }
  EXPECT_NE(info[12].find("°C, Thsk:"), std::string::npos) << info[12];
  EXPECT_NE(info[14].find("°C, FAN: "), std::string::npos) << info[14];
}

// An indented address line and no gateway, as an operator may have edited the file.
TEST(SystemBench, AnIndentedAddressAndNoGatewayAreReadAsTheyStand) {
  CorvidRun run;
  run.writeFile("/opt/set/interfaces",
                "auto eth0\niface eth0 inet static\n    address 10.0.0.7\nnetmask 255.0.0.0\n");
  ASSERT_TRUE(run.start());
  EXPECT_TRUE(run.waitForLog("ip: 10.0.0.7\n")) << run.log();
  EXPECT_TRUE(run.waitForLog("ReadLanParam DNS_none=1 Gateway_none=1\n")) << run.log();
}

// The rest runs in this process, against a prepared bench root and its stand-ins.
class SystemOnBenchRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(run.prepared());
    platform::setRoot(run.root().dir().string());
    InitGlobalVar(*works);
    works->core.version = kVersion;
  }
  void TearDown() override { platform::setRoot(""); }
  void answer(const std::string& standin, std::string_view text) {
    run.writeFile("/bench/answers/" + standin, text);
  }

  CorvidRun run;
  std::unique_ptr<Works> works = std::make_unique<Works>();
};

TEST_F(SystemOnBenchRoot, SaveLanParamRewritesTheFileByteForByteAndRestartsTheInterfaces) {
  ASSERT_EQ(ReadLanParam(*works), 0);
  LanAddresses lan = works->system.lan.get();
  lan.IP_v = {192, 168, 1, 77};
  lan.Gateway_v = {192, 168, 1, 254};
  lan.DNS_v = {9, 9, 9, 9};
  works->system.lan.set(lan);
  works->system.lanInfoRunning = 1;  // no LAN run from this process
  EXPECT_EQ(SaveLanParam(*works), 0);
  std::string expected(kFactoryInterfaces);
  for (const auto& [from, to] : {std::pair{"address 192.168.1.200", "address 192.168.1.77"},
                                 {"gateway 192.168.1.1", "gateway 192.168.1.254"},
                                 {"dns-nameservers 192.168.1.1", "dns-nameservers 9.9.9.9"}}) {
    expected.replace(expected.find(from), std::string_view(from).size(), to);
  }
  EXPECT_EQ(run.readFile("/opt/set/interfaces"), expected);
  const std::vector<std::string> calls = run.calls();
  const std::string set = run.root().settingsDir().string();
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "mount -o remount defaults,rw " + set, "sudo ifdown --exclude=lo -a",
                       "ifdown --exclude=lo -a", "sudo ifup --exclude=lo -a",
                       "ifup --exclude=lo -a", "mount -v -n -o remount -r " + set}));

  // Indented, and without a gateway: the indented line stays, no gateway is made up.
  const std::string edited = "iface eth0 inet static\n  address 10.0.0.7\nnetmask 255.0.0.0\n";
  run.writeFile("/opt/set/interfaces", edited);
  ASSERT_EQ(ReadLanParam(*works), 0);
  lan = works->system.lan.get();
  EXPECT_EQ(lan.Gateway_none, 1);
  lan.NetMask_v = {255, 255, 0, 0};
  works->system.lan.set(lan);
  EXPECT_EQ(SaveLanParam(*works), 0);
  EXPECT_EQ(run.readFile("/opt/set/interfaces"),
            "iface eth0 inet static\n  address 10.0.0.7\nnetmask 255.255.0.0\n");
}

TEST_F(SystemOnBenchRoot, UpdateCheckAgainstTheBenchsOffers) {
  struct Case {
    std::string_view myVorn;
    const char* firmware;
    uint8_t expected;
    const char* state;
  };
  const Case cases[] = {
      {kMyVornDefault, "001.000", kUpdateNone, "LAN OK"},
      {kMyVornUpdateOffered, "001.012", kUpdateSoftware, "LAN OK"},
      {kMyVornUpdateOffered, "001.011", kUpdateSoftwareAndFw, "LAN OK"},
      {kMyVornNoConn, "001.000", kUpdateNone, "No Conn"},
  };
  for (const Case& c : cases) {
    answer("my_vorn", c.myVorn);
    works->amp.ampFwVersion.set(c.firmware);
    ReadLANconnection(*works);
    EXPECT_EQ(works->system.updateAvailable, c.expected) << c.myVorn << " with " << c.firmware;
    EXPECT_EQ(works->system.lanStatusText.get(), c.state);
  }
}

TEST_F(SystemOnBenchRoot, UpdateScriptsOfTheBench) {
  EXPECT_EQ(ReadSystemGetpack(*works), 0);
  answer("getpack2.sh", kGetpackError);
  EXPECT_EQ(ReadSystemGetpack2(*works), 12);
  EXPECT_EQ(works->system.updateErrorText.get(), "Package checksum mismatch");
  answer("getpack.sh", kGetpackNoResult);
  EXPECT_EQ(ReadSystemGetpack(*works), -1);
  EXPECT_EQ(callsWith(run.calls(), "getpack").size(), 3u);
}

// The bench's keyboard on the real controller: releases and repeats do nothing, each
// function key its action, and F12 ends the whole program with every thread joined.
TEST(SystemBench, ServiceKeyboardKeysOnTheController) {
  MicroRun run;
  ASSERT_TRUE(run.start());
  CorvidRun& corvid = run.corvid();
  ServiceKeyboard keyboard(corvid.root().serviceKeyboard());
  ASSERT_TRUE(keyboard.ok()) << keyboard.error();
  ASSERT_TRUE(corvid.waitForLog("Continuous keyboard loop started")) << corvid.log();

  ASSERT_TRUE(keyboard.release(KEY_F12));
  ASSERT_TRUE(keyboard.repeat(KEY_F12));
  ASSERT_TRUE(keyboard.press(KEY_SYSRQ));
  ASSERT_TRUE(corvid.waitForLog("launched screenshot")) << corvid.log();
  EXPECT_TRUE(corvid.alive()) << "a release or a repeat of F12 does nothing";
  const std::optional<std::string> png = readWholeFile(corvid.root().under("/tmp/screen.png"));
  ASSERT_TRUE(png);
  EXPECT_EQ(png->substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));

  const size_t before = corvid.calls().size();
  ASSERT_TRUE(keyboard.press(KEY_F11));
  ASSERT_TRUE(corvid.waitForLog("Save setup")) << corvid.log();
  ASSERT_TRUE(waitUntil([&] {
    const std::vector<std::string> calls = corvid.calls();
    return indexOf(calls, "mount -v -n -o remount -r", before) < calls.size();
  })) << "the settings are written inside a window";

  for (int key : {KEY_F1, KEY_F2, KEY_F3, KEY_F4}) {
    ASSERT_TRUE(keyboard.press(static_cast<uint16_t>(key)));
  }
  ASSERT_TRUE(corvid.waitForLog("KEY_F4: no CAT port open")) << corvid.log();
  for (const char* line : {"Activated KEY_F1", "Activated KEY_F2", "Activated KEY_F3"}) {
    EXPECT_NE(corvid.log().find(line), std::string::npos) << line;
  }

  ASSERT_TRUE(keyboard.press(KEY_F10));
  ASSERT_TRUE(corvid.waitForLog("launched ssh")) << corvid.log();
  EXPECT_FALSE(callsWith(corvid.calls(), "opt/sshshell").empty());
  EXPECT_TRUE(corvid.alive());

  ASSERT_TRUE(keyboard.press(KEY_F12));
  ASSERT_TRUE(waitUntil([&] { return !corvid.alive(); }, 30s)) << corvid.log();
  const std::optional<ExitStatus> status = corvid.exitStatus();
  ASSERT_TRUE(status);
  EXPECT_EQ(status->signal, 0) << status->describe();
  EXPECT_EQ(status->code, 0) << status->describe();
  const std::string log = corvid.log();
  const size_t exited = log.find("Exited by KEY_F12");
  ASSERT_NE(exited, std::string::npos) << log;
  size_t at = exited;
  for (const char* join : {"Communicator joined Key end", "Communicator joined Linear end",
                           "Communicator joined Time end", "Communicator joined GPIO end"}) {
    const size_t next = log.find(join, at);
    EXPECT_NE(next, std::string::npos) << join << " after the last\n" << log.substr(exited);
    if (next != std::string::npos) at = next;
  }
  const std::vector<std::string> calls = corvid.calls();
  EXPECT_LT(indexOf(calls, "stty sane"), calls.size());
  EXPECT_LT(indexOf(calls, "tput clear"), calls.size());
}

}  // namespace
}  // namespace corvid::bench::test

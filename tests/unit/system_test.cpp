// Network settings, the LAN state and update check, the update scripts, the last-good
// marker and the information file.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/settings.h"
#include "core/threads.h"
#include "core/works.h"
#include "system/network.h"
#include "system/updates.h"
#include "tests/unit/test_support.h"

namespace corvid {
namespace {

namespace fs = std::filesystem;
using testing::InstantSleep;
using testing::LogCatcher;
using testing::TempRoot;

class SystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitGlobalVar(w());
    w().core.version = kVersion;
    root.addProgram("rm", "for f; do case \"$f\" in -*) ;; *) /bin/rm -f \"$f\";; esac; done\n");
  }
  // A program at an absolute path of the unit.
  void program(const std::string& unitPath, const std::string& script) {
    fs::create_directories(root.path(unitPath).parent_path());
    root.write(unitPath, "#!/bin/sh\n" + script);
    fs::permissions(root.path(unitPath), fs::perms::owner_all);
  }
  Works& w() { return *works_; }

  TempRoot root;
  InstantSleep instant;
  LogCatcher log;
  std::unique_ptr<Works> works_ = std::make_unique<Works>();
};

TEST(SplitAddr, DottedTextToFourNumbers) {
  struct Case {
    const char* text;
    std::array<uint8_t, 4> bytes;
  };
  const Case cases[] = {
      {"192.168.1.200", {192, 168, 1, 200}},
      {" 10.0.0.1", {10, 0, 0, 1}},       // blanks before a part, as atoi reads it
      {"8.8.8.8 8.8.4.4", {8, 8, 8, 8}},  // a second server is left out
      {"1.2.3.4.5", {1, 2, 3, 4}},        // at most four parts
      {"300.1.2.999", {255, 1, 2, 255}},  // no part beyond what a byte holds
      {"a.b.c.d", {0, 0, 0, 0}},
      {"10.1", {10, 1, 7, 7}},  // the parts not given keep their value
  };
  for (const Case& c : cases) {
    std::array<uint8_t, 4> bytes = {7, 7, 7, 7};
    SplitAddr(c.text, bytes);
    EXPECT_EQ(bytes, c.bytes) << c.text;
  }
  EXPECT_EQ(addressText({192, 168, 1, 1}), "192.168.1.1");
}

TEST_F(SystemTest, ReadLanParamTakesKeywordsWhereverTheyStand) {
  root.write("/opt/set/interfaces",
             "auto eth0\niface eth0 inet static\n    address 10.1.2.3\nnetmask 255.255.0.0\n"
             "gateway\nnameserver 9.9.9.9\r\n");
  EXPECT_EQ(ReadLanParam(w()), 0);
  const LanAddresses lan = w().system.lan.get();
  EXPECT_EQ(lan.IP, "10.1.2.3");
  EXPECT_EQ(lan.IP_v, (std::array<uint8_t, 4>{10, 1, 2, 3}));
  EXPECT_EQ(lan.NetMask_v, (std::array<uint8_t, 4>{255, 255, 0, 0}));
  EXPECT_EQ(lan.Gateway, "") << "a keyword with nothing after it is ignored";
  EXPECT_EQ(lan.Gateway_none, 1);
  EXPECT_EQ(lan.DNS, "9.9.9.9");
  EXPECT_EQ(lan.DNS_none, 0);
  EXPECT_TRUE(log.contains("ip: 10.1.2.3\n"));
  EXPECT_TRUE(log.contains("ReadLanParam DNS_none=0 Gateway_none=1\n"));
}

TEST_F(SystemTest, ReadLanParamWithoutAFileLeavesTheFieldsEmpty) {
  LanAddresses before;
  before.IP = "1.1.1.1";
  w().system.lan.set(before);
  EXPECT_EQ(ReadLanParam(w()), -1);
  EXPECT_EQ(w().system.lan.get().IP, "");
  EXPECT_TRUE(log.contains("Error opening network connection configuration file. CODE: 2\n"));
}

TEST(RewriteInterfaces, OnlyColumnZeroKeywordsChangeAndEveryOtherLinePassesWhole) {
  LanAddresses lan;
  lan.IP_v = {192, 168, 5, 9};
  lan.NetMask_v = {255, 255, 255, 0};
  lan.Gateway_v = {192, 168, 5, 1};
  lan.DNS_v = {1, 1, 1, 1};
  const std::string longComment = "# " + std::string(300, 'x') + "\n";
  std::string many;
  for (int i = 0; i < 200; ++i) many += "# line " + std::to_string(i) + "\n";
  const std::string in = "auto eth0\n" + longComment + "address 10.0.0.1\n  address 10.0.0.2\n" +
                         "netmask 255.0.0.0\ngateway 10.0.0.254\nnameserver 8.8.8.8\n" + many +
                         "dns-nameservers 8.8.4.4";
  const std::string out = rewriteInterfaces(in, lan);
  EXPECT_EQ(out, "auto eth0\n" + longComment + "address 192.168.5.9\n  address 10.0.0.2\n" +
                     "netmask 255.255.255.0\ngateway 192.168.5.1\ndns-nameservers 1.1.1.1\n" +
                     many + "dns-nameservers 1.1.1.1\n");
  lan.Gateway_none = 1;
  lan.DNS_none = 1;
  EXPECT_EQ(rewriteInterfaces("gateway 1.2.3.4\nnameserver 5.6.7.8\n", lan),
            "gateway \ndns-nameservers \n");
}

TEST_F(SystemTest, SaveLanParamRewritesInsideTheWindowAndRestartsTheInterfaces) {
  root.write("/opt/set/interfaces", "iface eth0 inet static\naddress 10.0.0.1\ngateway 10.0.0.9\n");
  ReadLanParam(w());
  LanAddresses lan = w().system.lan.get();
  lan.IP_v = {10, 0, 0, 42};
  lan.Gateway_none = 1;
  w().system.lan.set(lan);
  root.addProgram("sudo", "echo \"sudo $*\" >> \"" + root.dir().string() + "/calls.log\"\n");
  w().system.lanInfoRunning = 1;  // a LAN run going on: none is started
  EXPECT_EQ(SaveLanParam(w()), 0);
  EXPECT_EQ(root.read("/opt/set/interfaces"),
            "iface eth0 inet static\naddress 10.0.0.42\ngateway \n");
  EXPECT_EQ(root.calls(), (std::vector<std::string>{
                              "mount -o remount defaults,rw DIR/opt/set",
                              "sudo ifdown --exclude=lo -a",
                              "sudo ifup --exclude=lo -a",
                              "mount -v -n -o remount -r DIR/opt/set",
                          }));
  EXPECT_TRUE(log.contains("--->new ip: 10.0.0.42 \n"));
}

TEST_F(SystemTest, SaveLanParamWritesNothingWithoutTheWindowOrTheFile) {
  EXPECT_EQ(SaveLanParam(w()), -1) << "no file";
  root.write("/opt/set/interfaces", "address 10.0.0.1\n");
  root.failMount("rw");
  EXPECT_EQ(SaveLanParam(w()), -1);
  EXPECT_EQ(root.read("/opt/set/interfaces"), "address 10.0.0.1\n");
}

TEST(UpdateCheck, OffersAgainstTheInstalledVersions) {
  struct Case {
    const char* offer;
    const char* software;
    const char* firmware;
    uint8_t expected;
  };
  const Case cases[] = {
      {"01.006 001.012", "01.005", "001.012", kUpdateSoftware},
      {"01.006 001.012", "01.005", "001.011", kUpdateSoftwareAndFw},
      {"01.006 001.012", "01.006", "001.011", kUpdateNone},
      {"01.006 001.012", "01.007", "000.001", kUpdateNone},
      {"02.000 002.000", "01.999", "001.999", kUpdateSoftwareAndFw},
      {"01.047    001.013", "01.046", "001.012", kUpdateSoftwareAndFw},  // blanks between
      {"10.047 001.000", "01.046", "001.000", kUpdateSoftware},          // major 10 counts as 1
      {"", "01.046", "001.000", kUpdateNone},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(compareOffer(parseOffer(c.offer), c.software, c.firmware), c.expected)
        << c.offer << " against " << c.software << " " << c.firmware;
  }
  const VersionOffer v = parseOffer("01.006 001.012");
  EXPECT_EQ(v.firmwareMajor, 1);
  EXPECT_EQ(v.firmwareMinor, 12);
  for (const char* state : {"No Conn", "NET DOWN", "xo", "No"}) EXPECT_TRUE(lanDisconnected(state));
  for (const char* state : {"LAN OK", "", "x"}) EXPECT_FALSE(lanDisconnected(state)) << state;
}

TEST_F(SystemTest, ReadLanConnectionFromMyVorn) {
  w().amp.ampFwVersion.set("001.011");
  root.addProgram("my_vorn", "echo '01.047 001.012'\necho 'LAN OK\tnoise'\n");
  LANInfoThread(w());
  EXPECT_EQ(w().system.lanStatusText.get(), "LAN OK");
  EXPECT_EQ(w().system.updateAvailable, kUpdateSoftwareAndFw);
  EXPECT_EQ(w().system.offeredFwMinor, 12);
  EXPECT_EQ(w().system.lanInfoRunning, 0);
  EXPECT_GT(w().system.lanInfoTime, 0);
  EXPECT_TRUE(log.contains("!!!myvorn: 2 01.047 001.012 LAN OK\n"));

  // No connection: no update is announced, whatever is on offer.
  root.addProgram("my_vorn", "echo '01.047 001.012'\necho 'No Conn'\n");
  ReadLANconnection(w());
  EXPECT_EQ(w().system.lanStatusText.get(), "No Conn");
  EXPECT_EQ(w().system.updateAvailable, kUpdateNone);

  // A my_vorn that prints nothing (or is missing: the shell answers 127) leaves "No Conn".
  fs::remove(root.path("/bin/my_vorn"));
  ReadLANconnection(w());
  EXPECT_EQ(w().system.lanStatusText.get(), "No Conn");
  EXPECT_EQ(w().core.running, 1) << "the program goes on";
}

TEST(UpdateOutput, ResultsOfTheScriptsLines) {
  struct Case {
    std::vector<std::string> lines;
    int result;
    std::string errorText;
  };
  const Case cases[] = {
      {{"Downloading", "ALLOK"}, 0, ""},
      {{"Downloading", "checksum mismatch", "VORNE ERR 12"}, 12, "checksum mismatch"},
      {{"VORNE ERR 3"}, 3, ""},  // no line before it: an empty text
      {{"bad", "VORNE ERR 12", "ALLOK"}, 0, "bad"},
      {{"VORNE"}, 0, ""},  // too short for a number
      {{"Downloading", "Installing"}, -1, ""},
      {{}, -1, ""},
  };
  for (const Case& c : cases) {
    UpdateOutput output;
    for (const std::string& line : c.lines) {
      if (!output.take(line)) break;
    }
    EXPECT_EQ(output.result(), c.result) << ::testing::PrintToString(c.lines);
    EXPECT_EQ(output.errorText(), c.errorText) << ::testing::PrintToString(c.lines);
  }
  UpdateOutput stops;
  EXPECT_FALSE(stops.take("ALLOK and more"));
}

TEST_F(SystemTest, UpdateScriptsRunAndReportTheirResult) {
  program("/opt/Corvid/getpack.sh", "echo start\necho 'no space left'\necho 'VORNE ERR 28'\n");
  program("/opt/Corvid/getpack2.sh", "echo start\necho ALLOK\necho never read\n");
  EXPECT_EQ(ReadSystemGetpack(w()), 28);
  EXPECT_EQ(w().system.updateErrorText.get(), "no space left");
  EXPECT_EQ(ReadSystemGetpack2(w()), 0);
  EXPECT_EQ(w().system.updateErrorText.get(), "0");
  fs::remove(root.path("/opt/Corvid/getpack.sh"));
  EXPECT_EQ(ReadSystemGetpack(w()), -1) << "a missing script has no result line";
}

TEST_F(SystemTest, LastGoodMarkerRemovedInsideTheWindow) {
  root.write("/opt/set/good", "x");
  DeleteLastGoodLink();
  EXPECT_FALSE(fs::exists(root.path("/opt/set/good")));
  EXPECT_EQ(root.calls(), (std::vector<std::string>{"mount -o remount defaults,rw DIR/opt/set",
                                                    "mount -v -n -o remount -r DIR/opt/set"}));
  EXPECT_TRUE(log.contains("END AGG FW 0..\n"));

  // With /opt/good there, the same marker is removed while the root is writable too.
  root.write("/opt/good", "x");
  root.write("/opt/set/good", "x");
  DeleteLastGoodLink();
  EXPECT_FALSE(fs::exists(root.path("/opt/set/good")));
  EXPECT_TRUE(fs::exists(root.path("/opt/good"))) << "nothing but the documented marker";
  EXPECT_TRUE(log.contains("**** DELETE /OPT/GOOD EXIST !!\n"));

  // No window: the marker stays.
  root.write("/opt/set/good", "x");
  fs::remove(root.path("/opt/good"));
  root.failMount("rw");
  DeleteLastGoodLink();
  EXPECT_TRUE(fs::exists(root.path("/opt/set/good")));
}

TEST_F(SystemTest, TheMarkerGoesOnlyAfterThirtySecondsOfRunning) {
  root.write("/opt/set/good", "x");
  w().core.running = 0;
  AggFWThread(w());
  EXPECT_TRUE(fs::exists(root.path("/opt/set/good"))) << "a program that stopped keeps it";
  w().core.running = 1;
  AggFWThread(w());
  EXPECT_FALSE(fs::exists(root.path("/opt/set/good")));
  EXPECT_GE(instant.total(), std::chrono::milliseconds(30000));
}

class InfoFileTest : public SystemTest {
 protected:
  void SetUp() override {
    SystemTest::SetUp();
    AmpState& amp = w().amp;
    w().ui.dateTimeText.set("2026-12-08 10:00:00");
    amp.ampFwVersion.set("001.012");
    {
      std::scoped_lock lock(amp.eepromMutex);
      const std::string serial = "SN-000123", company = "Corvid\x01Labs", hw = "02.01";
      std::copy(serial.begin(), serial.end(), amp.eeprom.page0.begin());
      std::copy(company.begin(), company.end(), amp.eeprom.page1.begin());
      std::copy(hw.begin(), hw.end(), amp.eeprom.page2.begin());
    }
    amp.ampModelAux = '1';
    amp.ampModel = '0';
    amp.pwrFwd = 50.0f;
    amp.pwrRefl = 1.25f;
    amp.pwrIn = 2.5f;
    amp.swr = 1.4f;
    amp.ampCurrentRaw = 2048.0f;
    amp.temp1 = 35.5f;
    amp.temp2 = 41.0f;
    amp.cpuTemp = 50.0f;
    amp.gpuTemp = 48.5f;
    w().set.MaxTemperature = 70.0f;
    amp.fanPercent = 80;
    amp.statusA = 0x12;
    amp.statusB = 0x05;
    amp.retryTotal = 3;
    amp.linkRestarts = 1;
    w().core.tinyVersion = 0x0A;
    w().ui.tinyV12 = 100;
    w().ui.tinyV15 = 120;
    w().ui.tinyVamp = 200;
  }
};

TEST_F(InfoFileTest, SeventeenLinesInCelsiusAndFahrenheit) {
  const std::string head =
      "TIME: 2026-12-08 10:00:00\nSW ver. 01.046\nFW ver. 001.012\nHW ver. 02.01\n"
      "Serial Number: SN-000123 \nCompany: Corvid.Labs\nTYPE: USA\nMAXPOWER: 60W\n"
      "FWD:50.0 \nRFL:1.2 \nPW:2.5 \nSWR:1.4\n";
  const std::string tail =
      "State 0x12 0x05,ES:3,ER:1 \nver. a, V12: 8.5V, V15: 10.2V, Vamp: 17.0V\n";
  EXPECT_EQ(infoFileText(w()), head +
                                   "Current:007.0A (2048.0), Tbrd:35.50°C, Thsk:41.00°C\n"
                                   "CPU:50.0°C, GPU:48.5°C\n"
                                   "Set Point Alarm 70.00°C, FAN: 80% \n" +
                                   tail);
  w().set.TempMode = 1;
  EXPECT_EQ(infoFileText(w()), head +
                                   "Current:007.0A (2048.0), Tbrd:95.90°F, Thsk:105.80°F\n"
                                   "CPU:122.0°F, GPU:119.3°F\n"
                                   "Set Point Alarm 158.0°F, FAN: 80% \n" +
                                   tail);
}

TEST_F(InfoFileTest, WrittenWholeInsideTheWindowOrNotAtAll) {
  WrInfoFile(w());
  EXPECT_EQ(root.read("/opt/set/info.txt"), infoFileText(w()));
  EXPECT_EQ(root.calls(), (std::vector<std::string>{"mount -o remount defaults,rw DIR/opt/set",
                                                    "mount -v -n -o remount -r DIR/opt/set"}));
  root.write("/opt/set/info.txt", "old\n");
  root.failMount("rw");
  WrInfoFile(w());
  EXPECT_EQ(root.read("/opt/set/info.txt"), "old\n");
}

TEST_F(SystemTest, OneLanRunAtATime) {
  static std::atomic<int> runs;
  runs = 0;
  w().core.threads.setBody(ThreadId::LANInfoThread, [](Works& works) {
    ++runs;
    works.system.lanInfoRunning = 0;
  });
  w().system.lanInfoRunning = 1;
  StartThreadLANinfo(w());
  EXPECT_FALSE(w().core.threads.started(ThreadId::LANInfoThread)) << "one is still running";
  w().system.lanInfoRunning = 0;
  StartThreadLANinfo(w());
  for (int i = 0; i < 5000 && w().system.lanInfoRunning.load() != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  StartThreadLANinfo(w());  // the first run is joined, the second starts
  w().core.threads.join(ThreadId::LANInfoThread);
  EXPECT_EQ(runs, 2);
}

}  // namespace
}  // namespace corvid

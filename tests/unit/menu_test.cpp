// The menu (value texts, the keys of every item, the service actions), the remote checks
// and the plotter file.
#include "ui/menu.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "amp/link.h"
#include "core/settings.h"
#include "core/works.h"
#include "errors/errors.h"
#include "platform/serial.h"
#include "remote/remote_checks.h"
#include "sim/pty.h"
#include "scope/plotter.h"
#include "tests/unit/fake_micro.h"
#include "tests/unit/test_support.h"
#include "ui/panel_keys.h"

namespace corvid {
namespace {

namespace fs = std::filesystem;
using testing::InstantSleep;
using testing::LogCatcher;
using testing::TempRoot;

constexpr const char* kRwMount = "mount -o remount defaults,rw DIR/opt/set";
constexpr const char* kRoMount = "mount -v -n -o remount -r DIR/opt/set";

class MenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    initSetup(w());
    testing::prepareLinkedWorks(w());
    InitMenuNova(w());
    // Programs the checks and the update scripts run, as the unit has them.
    root.addProgram("grep", "exec /bin/grep \"$@\"\n");
    root.addProgram("wc", "exec /usr/bin/wc \"$@\"\n");
    root.addProgram("rm", "for f; do case \"$f\" in -*) ;; *) /bin/rm -f \"$f\";; esac; done\n");
    addRootProgram("/sbin/reboot", "echo reboot >> \"" + root.dir().string() + "/calls.log\"\n");
    testing::drainQueue(w());
  }

  void addRootProgram(const std::string& absolute, const std::string& script) {
    const fs::path file = root.path(absolute);
    fs::create_directories(file.parent_path());
    root.write(absolute, "#!/bin/sh\n" + script);
    fs::permissions(file, fs::perms::owner_all);
  }

  int modify(int item, int code) {
    w().ui.menuSection = item;
    return ModifyParameter(w(), code);
  }
  std::string shown(int item) { return LoadParameterMenu(w(), item, 0); }
  // Whether setup.txt was written since the last look (the look removes it).
  bool setupWritten() const {
    const fs::path file = root.path("/opt/set/setup.txt");
    const bool written = fs::exists(file);
    fs::remove(file);
    return written;
  }
  bool called(const std::string& line) const {
    const auto calls = root.calls();
    return std::find(calls.begin(), calls.end(), line) != calls.end();
  }
  std::vector<std::string> queued() { return testing::drainQueue(w()); }
  std::vector<Err> errors() { return listedErrors(w()); }
  Works& w() { return *works_; }

  TempRoot root;
  InstantSleep instant;
  LogCatcher log;
  std::unique_ptr<Works> works_ = std::make_unique<Works>();
};

TEST_F(MenuTest, InitMenuNovaBuildsTheTables) {
  EXPECT_EQ(w().ui.menuSectionCount.load(), kMenuItems);
  EXPECT_EQ(lastMenuItem(w()), 35) << "Advanced Default only with the start-up keys";
  w().ui.startupKeysMenu = 1;
  EXPECT_EQ(lastMenuItem(w()), 36);
  EXPECT_FALSE(errorInfo(w(), Err::RemoteUsb).title.empty());
  EXPECT_EQ(menuPar[3].readOnly, 1);
  for (size_t i = 0; i < menuPar.size(); ++i) {
    EXPECT_EQ(menuPar[i].cursor, i >= 23 && i <= 26 ? 1 : 0) << i;
  }
}

// The range ends and wraps of the numeric items, seen through their value text.
TEST_F(MenuTest, RangeEndsAndWraps) {
  struct Case {
    const char* what;
    int item;
    std::function<void(Settings&)> start;
    int code;
    const char* shown;
    int repeat;
  };
  const int plus = kMenuPlus;
  const int minus = kMenuMinus;
  const Case cases[] = {
      {"banks top", 0, [](Settings& s) { s.MAXbank = 20; }, plus, "20", 0},
      {"banks up", 0, [](Settings& s) { s.MAXbank = 19; }, plus, "20", 0},
      {"banks bottom", 0, [](Settings& s) { s.MAXbank = 2; }, minus, "2", 0},
      {"long press top", 4, [](Settings& s) { s.TIME_LONG_PRESS = 5.0; }, plus, "5.0sec", 0},
      {"long press bottom", 4, [](Settings& s) { s.TIME_LONG_PRESS = 0.3; }, minus, "0.3sec", 0},
      {"long press step", 4, [](Settings& s) { s.TIME_LONG_PRESS = 0.5; }, plus, "0.6sec", 0},
      {"screensaver wraps up", 5, [](Settings& s) { s.SaveScreenIdx = 5; }, plus, "5min", 0},
      {"screensaver wraps down", 5, [](Settings& s) { s.SaveScreenIdx = 0; }, minus, "1min", 0},
      {"peak top", 7, [](Settings& s) { s.TimerPeakSec = 5000; }, plus, "5000ms", 1},
      {"peak bottom", 7, [](Settings& s) { s.TimerPeakSec = 0; }, minus, "0ms", 1},
      {"peak step", 7, [](Settings& s) { s.TimerPeakSec = 3000; }, minus, "2990ms", 1},
      {"peak repeats on >", 7, [](Settings& s) { s.TimerPeakSec = 3000; }, kMenuRight, "3000ms", 1},
      {"attenuator wraps", 9, [](Settings& s) { s.AttenuatorTune = 3; }, kMenuLeft, "0dB", 0},
      {"attenuator steps", 9, [](Settings& s) { s.AttenuatorTune = 0; }, minus, "2dB", 0},
      {"swr off to 1", 10, [](Settings& s) { s.swrTarget = 0; }, plus, "1.00", 1},
      {"swr 1 to off", 10, [](Settings& s) { s.swrTarget = 1; }, minus, "0.00", 1},
      {"swr step", 10, [](Settings& s) { s.swrTarget = 1.5f; }, plus, "1.51", 1},
      {"swr top", 10, [](Settings& s) { s.swrTarget = 10; }, plus, "10.00", 1},
      {"swr > changes nothing", 10, [](Settings& s) { s.swrTarget = 2; }, kMenuRight, "2.00", 1},
      {"timeout longest", 11, [](Settings& s) { s.AutoTuneMaxCicli = 0; }, plus, "25sec", 0},
      {"timeout shorter", 11, [](Settings& s) { s.AutoTuneMaxCicli = 2; }, minus, "10sec", 0},
      {"timeout shortest", 11, [](Settings& s) { s.AutoTuneMaxCicli = 4; }, minus, "5sec", 0},
      {"view top", 16, [](Settings& s) { s.ViewTX = 5; }, plus, "View 5", 0},
      {"view bottom", 16, [](Settings& s) { s.ViewTX = 0; }, minus, "Off", 0},
      {"wt max top", 21, [](Settings& s) { s.WTmaxVal = 200; }, plus, "200.0dBm", 1},
      {"wt max step", 21, [](Settings& s) { s.WTmaxVal = -40; }, plus, "-39.0dBm", 1},
      {"wt min bottom", 22, [](Settings& s) { s.WTminVal = -200; }, minus, "-200.0dBm", 1},
      {"p1 step", 27, [](Settings& s) { s.MaxTemperature = 60; }, plus, "60.10°C", 1},
      {"p1 at its allowed top", 27, [](Settings& s) { s.MaxTemperature = 75; }, plus, "75.00°C", 1},
      {"p2 at the bottom", 28, [](Settings& s) { s.MaxTemperature2 = 20; }, minus, "20.00°C", 1},
      {"fan + 0 to 1", 29, [](Settings& s) { s.FANmode = 0; }, plus, "SSB", 0},
      {"fan + 1 to 0", 29, [](Settings& s) { s.FANmode = 1; }, plus, "Hi Perf", 0},
      {"fan - 0 to 1", 29, [](Settings& s) { s.FANmode = 0; }, minus, "SSB", 0},
      {"fan - DIG to 1", 29, [](Settings& s) { s.FANmode = 2; }, minus, "SSB", 0},
      {"period top", 30, [](Settings& s) { s.FreqPeriodTime = 10000; }, plus, "10000ms", 1},
      {"period to the top", 30, [](Settings& s) { s.FreqPeriodTime = 9990; }, plus, "10000ms", 1},
      {"period bottom", 30, [](Settings& s) { s.FreqPeriodTime = 10; }, minus, "10ms", 1},
      {"period > no repeat", 30, [](Settings& s) { s.FreqPeriodTime = 100; }, kMenuRight, "100ms",
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.start(w().set);
    EXPECT_EQ(modify(c.item, c.code), c.repeat);
    EXPECT_EQ(shown(c.item), c.shown);
  }
  w().set.FANmode = 2;
  EXPECT_EQ(shown(29), "DIG") << "a stored 2 is shown, the menu never makes one";
}

// The switches: a change key toggles, and their text follows.
TEST_F(MenuTest, SwitchesToggleOnEveryChangeKey) {
  struct Case {
    int item;
    const char* off;
    const char* on;
  };
  const Case cases[] = {
      {6, "OFF", "ON"},
      {8, "OFF", "ON"},
      {12, "Yes", "No"},
      {13, "Not Force", "Force To No"},
      {14, "Watt", "dBm"},
      {15, "Celsius", "Fahrenheit"},
      {18, "OFF", "ON"},
      {19, "Bottom", "Top"},
      {20, "Up", "Down"},
      {31, "No Default", "Set Default"},
      {32, "OFF", "ON"},
      {33, "OFF", "ON"},
      {34, "OFF", "ON"},
      {35, "OFF", "ON"},
      {36, "No Default", "Set Default"},
  };
  Settings& s = w().set;
  s.EnablePwrPeak = 0;
  s.AutoTuneMode = 0;
  s.TUNEenabled = 0;
  s.TUNEpttout = 0;
  s.PowerUnits = 0;
  s.TempMode = 0;
  s.waterfallFlags = 0;
  s.WTscroll = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(menuPar[static_cast<size_t>(c.item)].label);
    EXPECT_EQ(shown(c.item), c.off);
    modify(c.item, kMenuPlus);
    EXPECT_EQ(shown(c.item), c.on);
    modify(c.item, kMenuLeft);
    EXPECT_EQ(shown(c.item), c.off);
  }
  EXPECT_FALSE(setupWritten()) << "changes stay in memory until ENTER";
  EXPECT_TRUE(log.contains("----------> SAVE ATU: 0x80"));
}

TEST_F(MenuTest, OnlyTheNamedCodesWriteTheSettings) {
  struct Case {
    int item;
    int code;
    bool writes;
  };
  const Case cases[] = {
      {0, kMenuRight, true},  {0, kMenuPlus, false},  {4, kMenuEnter, true},
      {5, kMenuRight, false}, {5, kMenuEnter, true},  {6, kMenuEnter, true},
      {7, kMenuLeft, true},   {10, kMenuEnter, true}, {10, kMenuLeft, false},
      {27, kMenuLeft, false}, {27, kMenuEnter, true}, {30, kMenuLeft, false},
      {3, kMenuEnter, false}, {1, kMenuEnter, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "item " << c.item << " code " << c.code);
    modify(c.item, c.code);
    EXPECT_EQ(setupWritten(), c.writes);
  }
}

TEST_F(MenuTest, FanModeStoredOnEnterAsksForTheFanCommand) {
  w().set.FANmode = 1;
  w().amp.fanModeChanged = 0;
  modify(29, kMenuEnter);
  EXPECT_EQ(w().amp.fanModeChanged.load(), 1);
  EXPECT_TRUE(setupWritten());
  EXPECT_TRUE(log.contains("works->FANmode 1"));
}

TEST_F(MenuTest, PeriodEnterQueuesTheFrequencyCounterSetting) {
  w().set.FreqSensIn = 1;
  w().set.FreqPeriodTime = 990;
  modify(30, kMenuPlus);
  EXPECT_TRUE(queued().empty());
  modify(30, kMenuEnter);
  EXPECT_EQ(queued(), std::vector<std::string>{"FS10100;"});
  EXPECT_TRUE(setupWritten());
}

TEST_F(MenuTest, WaterfallChoicesApplyOnEnter) {
  w().set.waterfallFlags = 0;
  modify(18, kMenuPlus);
  modify(19, kMenuPlus);
  EXPECT_EQ(w().set.waterfallFlags.load(), 0x30) << "only the pending copies change";
  modify(18, kMenuEnter);
  EXPECT_EQ(w().set.waterfallFlags.load(), 0x30 | 0x01 | 0x80);
  w().set.waterfallFlags = 0x30 | 0x01;
  modify(19, kMenuEnter);
  EXPECT_EQ(w().set.waterfallFlags.load(), 0x30 | 0x03 | 0x80);
  w().set.waterfallFlags = 0x03;  // pending copies clear: ENTER clears the bits
  modify(18, kMenuEnter);
  modify(19, kMenuEnter);
  EXPECT_EQ(w().set.waterfallFlags.load(), 0x80);
  w().set.waterfallFlags = 0;
  modify(20, kMenuEnter);
  EXPECT_EQ(w().set.waterfallFlags.load(), 0x80) << "scroll: a redraw";
}

TEST_F(MenuTest, PageItemsShowTheirChoiceOnlyWhileEdited) {
  UiState& ui = w().ui;
  ui.panelState = PanelState::MenuBrowse;
  ui.menuSection = 1;
  EXPECT_EQ(shown(1), " ");
  ui.panelState = PanelState::MenuEdit;
  EXPECT_EQ(shown(1), "Exit");
  EXPECT_EQ(shown(17), " ") << "the neighbour lines are not being edited";
  modify(1, kMenuMinus);
  EXPECT_EQ(shown(1), "Modify");
  modify(1, kMenuEnter);
  EXPECT_EQ(ui.pageFlags.load(), kPageFilters);
  modify(1, kMenuPlus);
  modify(1, kMenuEnter);
  EXPECT_EQ(ui.pageFlags.load(), 0);

  ui.plotRow = 5;
  ui.plotColumn = 2;
  ui.plotConfigType = 0x80;
  modify(17, kMenuRight);
  EXPECT_EQ(shown(17), "Modify");
  modify(17, kMenuEnter);
  EXPECT_EQ(ui.pageFlags.load(), kPageSpectrum);
  EXPECT_EQ(ui.plotRow.load(), 0);
  EXPECT_EQ(ui.plotColumn.load(), 0);
  EXPECT_EQ(ui.plotConfigType.load(), 0x81) << "the All/Single bit stays";
}

TEST(ModifyIP, BytesWrapAndTheCursorGoesRound) {
  struct Case {
    int code;
    int cursor;
    std::array<uint8_t, 4> before;
    int cursorAfter;
    std::array<uint8_t, 4> after;
  };
  const Case cases[] = {
      {kMenuPlus, 3, {192, 168, 1, 255}, 3, {192, 168, 1, 0}},
      {kMenuMinus, 0, {0, 168, 1, 2}, 0, {255, 168, 1, 2}},
      {kMenuPlus, 1, {10, 0, 0, 1}, 1, {10, 1, 0, 1}},
      {kMenuRight, 3, {10, 0, 0, 1}, 0, {10, 0, 0, 1}},
      {kMenuLeft, 0, {10, 0, 0, 1}, 3, {10, 0, 0, 1}},
      {kMenuRight, 1, {10, 0, 0, 1}, 2, {10, 0, 0, 1}},
      {kMenuEnter, 2, {10, 0, 0, 1}, 2, {10, 0, 0, 1}},
  };
  for (const Case& c : cases) {
    std::array<uint8_t, 4> a = c.before;
    EXPECT_EQ(ModifyIP(c.code, c.cursor, a), c.cursorAfter);
    EXPECT_EQ(a, c.after);
  }
  EXPECT_EQ(SplitAddrInv({192, 168, 0, 255}), "192.168.0.255");
  EXPECT_EQ(SplitAddrInv({0, 0, 0, 0}), "0.0.0.0");
}

TEST_F(MenuTest, LanItemsEditTheirAddressAndNameItForTheDrawing) {
  LanAddresses lan;
  lan.IP_v = {192, 168, 1, 255};
  lan.IP = "192.168.1.255";
  lan.DNS_v = {8, 8, 8, 8};
  w().system.lan.set(lan);
  w().ui.CntIP = 3;
  w().ui.CntDNS = 0;

  EXPECT_EQ(modify(23, kMenuPlus), 1);
  EXPECT_EQ(w().system.lan.get().IP_v, (std::array<uint8_t, 4>{192, 168, 1, 0}));
  EXPECT_EQ(w().system.lan.get().IP, "192.168.1.0") << "the text goes with the numbers";
  EXPECT_EQ(modify(23, kMenuRight), 1);
  EXPECT_EQ(w().ui.CntIP.load(), 0);
  EXPECT_EQ(modify(26, kMenuMinus), 1);

  EXPECT_EQ(shown(23), "192.168.1.0");
  EXPECT_EQ(w().ui.lanEditAddress.load(), 0);
  EXPECT_EQ(w().ui.lanEditIndex.load(), 0);
  EXPECT_EQ(shown(26), "7.8.8.8");
  EXPECT_EQ(w().ui.lanEditAddress.load(), 3);
  shown(30);
  EXPECT_EQ(w().ui.lanEditAddress.load(), -1);
}

TEST_F(MenuTest, LanEnterWritesTheNetworkFile) {
  root.write("/opt/set/interfaces", "iface eth0 inet static\naddress 10.0.0.2\n");
  root.addProgram("sudo", "echo \"sudo $*\" >> \"" + root.dir().string() + "/calls.log\"\n");
  LanAddresses lan;
  lan.IP_v = {10, 0, 0, 2};
  w().system.lan.set(lan);
  w().ui.CntIP = 3;
  modify(23, kMenuPlus);
  EXPECT_EQ(root.read("/opt/set/interfaces"), "iface eth0 inet static\naddress 10.0.0.2\n");
  EXPECT_EQ(modify(23, kMenuEnter), 0);
  EXPECT_NE(root.read("/opt/set/interfaces").find("address 10.0.0.3"), std::string::npos);
}

TEST_F(MenuTest, ValueTextsOfTheOtherItems) {
  Settings& s = w().set;
  s.MAXbank = 7;
  s.LocalRemote = 0;
  s.Passphrase.set("Abc1234");
  s.EnablePwrPeak = 1;
  s.AutoTuneMode = 3;
  s.AttenuatorTune = 2;
  s.swrTarget = 1.5f;
  s.AutoTuneMaxCicli = 1;
  s.TimerPeakSec = 3000;
  s.TIME_LONG_PRESS = 0.5;
  s.SaveScreenIdx = 1;
  s.ViewTX = 3;
  s.WTmaxVal = -40;
  s.MaxTemperature = 70;
  s.FreqPeriodTime = 10;
  const std::pair<int, const char*> cases[] = {
      {0, "7"},      {2, "Local"},   {3, "Abc1234"},   {4, "0.5sec"},   {5, "10min"},
      {6, "ON"},     {7, "3000ms"},  {8, "ON"},        {9, "3dB"},      {10, "1.50"},
      {11, "20sec"}, {16, "View 3"}, {21, "-40.0dBm"}, {27, "70.00°C"}, {30, "10ms"},
  };
  for (const auto& [item, text] : cases) EXPECT_EQ(shown(item), text) << item;
  s.LocalRemote = 1;
  EXPECT_EQ(shown(2), "Remote");
}

// ---- the remote switch ----

TEST_F(MenuTest, RemoteSwitchRegistersWhatIsMissing) {
  struct Case {
    int settings;
    int audio;
    char extIo;
    bool remote;
    std::vector<Err> errors;
  };
  const Case cases[] = {
      {0, 1, '1', true, {}},
      {1, 1, '1', false, {Err::RemoteUsb}},
      {2, 1, '1', false, {Err::RemoteCat}},
      {3, 1, '1', false, {Err::AudioRead}},
      {0, 0, '1', false, {Err::AudioMissing}},
      {0, 2, '0', false, {Err::PexModeOff}},
      {1, 0, '0', false, {Err::RemoteUsb, Err::AudioMissing, Err::PexModeOff}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.settings << " " << c.audio << " " << c.extIo);
    initErrorTable(w());
    w().errors.registry.list.clear();
    w().set.LocalRemote = 0;
    w().ui.remoteError = c.remote ? 1 : 0;  // whatever was before
    w().set.text.setFlag(Slot::extIoEnable, c.extIo);
    EXPECT_EQ(switchToRemote(w(), c.settings, c.audio), c.remote ? 1 : 0);
    EXPECT_EQ(w().set.LocalRemote.load(), c.remote ? 1 : 0);
    EXPECT_EQ(w().ui.remoteError.load(), c.remote ? 0 : 1);
    EXPECT_EQ(errors(), c.errors);
  }
  EXPECT_TRUE(log.contains("j=1 i=0 enaser=0"));
  EXPECT_TRUE(log.contains("Remote ERROR!"));
  EXPECT_TRUE(log.contains("Remote GO!"));
}

TEST_F(MenuTest, UseModeKeysOnTheBench) {
  Settings& s = w().set;
  // Remote to local needs no check.
  s.LocalRemote = 1;
  modify(2, kMenuPlus);
  EXPECT_EQ(s.LocalRemote.load(), 0);
  // With the IQ capture not stopped, the mode becomes remote without checks.
  s.text.setFlag(Slot::EnableFFT, '1');
  modify(2, kMenuPlus);
  EXPECT_EQ(s.LocalRemote.load(), 1);
  EXPECT_TRUE(errors().empty());

  // With the checks: no transceiver on this machine; lsusb shows the sound card.
  s.LocalRemote = 0;
  s.text.setFlag(Slot::EnableFFT, '0');
  s.text.setFlag(Slot::extIoEnable, '1');
  root.addProgram("lsusb", "echo 'Bus 001 Device 004: ID 0d8c:01af C-Media Audio'\n");
  modify(2, kMenuMinus);
  EXPECT_EQ(s.LocalRemote.load(), 0);
  EXPECT_EQ(w().ui.remoteError.load(), 1);
  EXPECT_EQ(errors(), std::vector<Err>{Err::RemoteUsb});
  EXPECT_TRUE(log.contains("j=1 i=1 enaser=1"));
}

TEST_F(MenuTest, UseModeEnterStartsOrStopsRemoteOperation) {
  Settings& s = w().set;
  s.LocalRemote = 1;
  s.text.setFlag(Slot::WebSocket, '0');
  modify(2, kMenuEnter);
  EXPECT_EQ(s.text.flag(Slot::WebSocket), '1');
  EXPECT_EQ(w().ui.tempflag_processextREMLOCOFF.load(), tinyByte(TinyCode::ForceRemote));

  s.LocalRemote = 0;
  modify(2, kMenuEnter);
  EXPECT_EQ(w().ui.tempflag_processextREMLOCOFF.load(), tinyByte(TinyCode::ForceLocal));
  for (Slot flag : {Slot::EnableWrite, Slot::EnableRead, Slot::EnableCAT, Slot::EnableFFT}) {
    EXPECT_EQ(s.text.flag(flag), '0');
  }
  EXPECT_TRUE(setupWritten());
}

// ---- service actions ----

TEST_F(MenuTest, TurnOffHardwareSendsThePowerOffByte) {
  w().ui.tinyTransfer = kTinyIdle;
  modify(35, kMenuEnter);
  EXPECT_EQ(w().ui.tinyTransfer.load(), kTinyIdle) << "not armed: nothing";
  modify(35, kMenuPlus);
  modify(35, kMenuEnter);
  EXPECT_EQ(w().ui.tinyTransfer.load(), 0x85);
  // The key thread's next pass exchanges it, without waiting for a slot.
  PowerLinkSchedule schedule;
  EXPECT_EQ(schedule.next(w()), 0x85);
}

TEST_F(MenuTest, FactoryDefaultOnlyWhenArmed) {
  w().set.MAXbank = 7;
  modify(31, kMenuEnter);
  EXPECT_EQ(w().set.MAXbank.load(), 7);
  EXPECT_FALSE(setupWritten());
  modify(31, kMenuPlus);
  modify(31, kMenuEnter);
  EXPECT_EQ(w().set.MAXbank.load(), 3) << "the factory value";
  EXPECT_TRUE(setupWritten());
}

TEST_F(MenuTest, RemoteServiceStartsTheShellWhenOn) {
  addRootProgram("/opt/sshshell", "echo sshshell >> \"" + root.dir().string() + "/calls.log\"\n");
  modify(32, kMenuEnter);
  EXPECT_FALSE(called("sshshell"));
  modify(32, kMenuPlus);
  modify(32, kMenuEnter);
  EXPECT_TRUE(called("sshshell"));
  EXPECT_TRUE(log.contains("Start REMOTE SRV"));
}

class MenuSoftwareUpdateTest : public MenuTest {
 protected:
  void SetUp() override {
    MenuTest::SetUp();
    script("/opt/Corvid/getpack.sh", "echo start\necho ALLOK\n");
    script("/opt/Corvid/getpack2.sh", "echo start\necho ALLOK\n");
  }
  void script(const std::string& path, const std::string& body) {
    addRootProgram(path,
                   "echo \"" + path + "\" >> \"" + root.dir().string() + "/calls.log\"\n" + body);
  }
  void arm() {
    w().ui.serviceFlags.fetch_and(~kServiceSoftwareUpdate);
    modify(33, kMenuPlus);
  }
};

TEST_F(MenuSoftwareUpdateTest, ArmingAndTheRefusals) {
  arm();
  EXPECT_NE(w().ui.serviceFlags.load() & kServiceSoftwareUpdate, 0u);
  modify(33, kMenuPlus);
  EXPECT_EQ(w().ui.serviceFlags.load() & kServiceSoftwareUpdate, 0u);

  w().ui.noticeFlags = kNoticeUpdate;
  modify(33, kMenuEnter);
  EXPECT_EQ(w().ui.noticeFlags.load(), 0u) << "not armed: the notice goes";

  arm();
  for (auto lock : {std::pair<uint8_t, uint8_t>{0x01, 0}, {0, 0x08}}) {
    w().amp.statusB = lock.first;
    w().amp.statusC = lock.second;
    w().ui.noticeFlags = 0;
    modify(33, kMenuEnter);
    EXPECT_EQ(w().ui.noticeFlags.load(), kNoticeLocked);
  }
  EXPECT_FALSE(called("/opt/Corvid/getpack.sh"));
}

TEST_F(MenuSoftwareUpdateTest, ASuccessfulUpdateResetsTheMicroAndReboots) {
  w().system.updateAvailable = kUpdateSoftware;
  w().system.updateResult = 7;
  arm();
  modify(33, kMenuEnter);
  EXPECT_TRUE(called("/opt/Corvid/getpack.sh"));
  EXPECT_FALSE(called("/opt/Corvid/getpack2.sh"));
  EXPECT_EQ(w().system.updateResult.load(), 0);
  EXPECT_NE(w().ui.noticeFlags.load() & kNoticeUpdate, 0u);
  EXPECT_EQ(queued(), std::vector<std::string>{"MR1;"});
  EXPECT_TRUE(called("reboot"));
  EXPECT_EQ(instant.total(), std::chrono::milliseconds(7000)) << "2 s before, 5 s after";
  EXPECT_TRUE(log.contains("!!!!!!!!!!!!!!!!!!!AGG SW end: exit 0"));
  EXPECT_TRUE(log.contains("!!!!!!!!!!!!!!!!!!!AGG SW Wait 5s to exit... 0"));
}

TEST_F(MenuSoftwareUpdateTest, AFailedUpdateKeepsTheUnitRunning) {
  w().system.updateAvailable = kUpdateSoftware;
  script("/opt/Corvid/getpack.sh", "echo 'no space left'\necho 'VORNE ERR 12'\n");
  arm();
  modify(33, kMenuEnter);
  EXPECT_EQ(w().system.updateResult.load(), 12);
  EXPECT_TRUE(queued().empty());
  EXPECT_FALSE(called("reboot"));
}

TEST_F(MenuSoftwareUpdateTest, TheServiceUpdateRunsWhateverIsOffered) {
  w().system.updateAvailable = kUpdateNone;
  w().ui.serviceFlags = kServiceRemoteShell;
  arm();
  modify(33, kMenuEnter);
  EXPECT_TRUE(called("/opt/Corvid/getpack2.sh"));
  EXPECT_FALSE(called("/opt/Corvid/getpack.sh"));
  EXPECT_TRUE(log.contains("!!!!!!!!!!!!!!!!!!!AGG SW SERVICE end: exit 0"));
  EXPECT_TRUE(called("reboot"));
}

TEST_F(MenuSoftwareUpdateTest, NothingOfferedRunsNothingAndDoesNotReboot) {
  for (uint8_t offer : {kUpdateNone, kUpdateSoftwareAndFw}) {
    w().system.updateAvailable = offer;
    arm();
    modify(33, kMenuEnter);
  }
  EXPECT_FALSE(called("/opt/Corvid/getpack.sh"));
  EXPECT_FALSE(called("reboot"));
  EXPECT_EQ(w().system.updateResult.load(), 0);
}

TEST_F(MenuTest, FirmwareUpdateHandsTheMicroToItsProgrammer) {
  w().ui.panelState = PanelState::MenuEdit;
  modify(34, kMenuPlus);
  EXPECT_EQ(w().ui.serviceFlags.load(), kServiceFirmwareUpdate);
  w().amp.statusC = 0x08;
  modify(34, kMenuEnter);
  EXPECT_EQ(w().ui.noticeFlags.load() & kNoticeLocked, kNoticeLocked);
  EXPECT_TRUE(queued().empty());
  w().amp.statusC = 0;
  modify(34, kMenuEnter);
  EXPECT_EQ(queued(), std::vector<std::string>{"MR1;"});
  EXPECT_EQ(w().ui.serviceFlags.load(), kServiceFirmwareUpdate | kServiceFirmwareStarted);
  EXPECT_EQ(w().ui.panelState.load(), PanelState::Main);
  modify(34, kMenuPlus);
  modify(34, kMenuEnter);
  EXPECT_EQ(w().ui.serviceFlags.load(), 0u);
}

TEST_F(MenuTest, AdvancedDefaultResetsEverythingAndSwitchesOff) {
  modify(36, kMenuEnter);
  EXPECT_FALSE(called("reboot"));
  w().set.TempMode = 1;
  modify(36, kMenuPlus);
  modify(36, kMenuEnter);
  EXPECT_EQ(w().set.TempMode.load(), 0);
  EXPECT_EQ(w().ui.shutdownState.load(), 3);
  const auto commands = queued();
  EXPECT_EQ(commands.back(), "MR1;");
  EXPECT_TRUE(called("reboot"));
  EXPECT_TRUE(log.contains("Init Clompete file setup + Var!"));
}

// ---- the remote checks ----

// A CAT port on a pseudo-terminal that answers "DT;" with a fixed reply (or stays silent).
class CatPortSim {
 public:
  CatPortSim(const TempRoot& root, const std::string& name, std::string reply)
      : reply_(std::move(reply)) {
    std::string error;
    pty_ = bench::openPty(error);
    if (!pty_) return;
    fs::create_directories(root.path("/dev"));
    fs::create_symlink(pty_->slavePath, root.path("/dev/" + name));
    thread_ = std::thread([this] { serve(); });
  }
  ~CatPortSim() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  bool ok() const { return pty_.has_value(); }
  std::string received() const {
    std::scoped_lock lock(mutex_);
    return received_;
  }

 private:
  void serve() {
    while (!stop_) {
      pollfd p{pty_->master.get(), POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      char buffer[64];
      const ssize_t n = ::read(pty_->master.get(), buffer, sizeof buffer);
      if (n <= 0) continue;
      std::scoped_lock lock(mutex_);
      received_.append(buffer, static_cast<size_t>(n));
      if (received_.ends_with("DT;") && !reply_.empty()) {
        [[maybe_unused]] const ssize_t w =
            ::write(pty_->master.get(), reply_.data(), reply_.size());
      }
    }
  }

  std::string reply_;
  std::optional<bench::Pty> pty_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::string received_;
};

TEST_F(MenuTest, RemoteChecksVerifyCatTriesTheLastPortFirst) {
  CatPortSim first(root, "ttyUSB0", "DT001x;");  // five bytes compared: accepted
  CatPortSim silent(root, "ttyUSB1", "");
  ASSERT_TRUE(first.ok() && silent.ok());
  platform::SerialPort port;
  EXPECT_EQ(VerifyCAT(w(), &port), 0);
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(silent.received(), "DT;");
  EXPECT_EQ(first.received(), "DT;");
  const int askedLast = log.find("Send \"DT;\" /dev/ttyUSB1");
  ASSERT_GE(askedLast, 0);
  EXPECT_GT(log.find("Cannot connect PEX using /dev/ttyUSB1"), askedLast);
  EXPECT_GT(log.find("Send \"DT;\" /dev/ttyUSB0"), askedLast);
  EXPECT_TRUE(log.contains("Received \"DT001\" /dev/ttyUSB0"));
  EXPECT_TRUE(log.contains("CAT serial found:  /dev/ttyUSB0"));
}

TEST_F(MenuTest, RemoteChecksVerifyCatFindsNothing) {
  EXPECT_EQ(VerifyCAT(w()), -1);
  EXPECT_TRUE(log.contains("No CAT serial port found"));

  // A file that is no terminal, and a terminal with the wrong answer.
  fs::create_directories(root.path("/dev"));
  root.write("/dev/ttyUSB9", "");
  CatPortSim other(root, "ttyUSB3", "DT002;");
  ASSERT_TRUE(other.ok());
  EXPECT_EQ(VerifyCAT(w()), -1);
  EXPECT_TRUE(log.contains("Cannot set /dev/ttyUSB9, error 25"));
  EXPECT_TRUE(log.contains("Cannot connect PEX using /dev/ttyUSB3"));
  EXPECT_TRUE(log.contains("Unable to open device /dev/VORNCAT"));
}

TEST_F(MenuTest, RemoteChecksCountTheSoundCards) {
  EXPECT_EQ(Find_Remote_Settings(w()), 1) << "no transceiver on USB here";
  EXPECT_EQ(Get_AudioPEX(w()), 0);
  EXPECT_EQ(VerifyAudioPEX(w()), 0);
  root.addProgram("lsusb",
                  "echo 'Bus 001 Device 004: ID 0d8c:01af C-Media Audio'\n"
                  "echo 'Bus 001 Device 005: ID 0d8c:0014 C-Media Other'\n"
                  "echo 'Bus 001 Device 006: ID 1721:061a Transceiver'\n");
  EXPECT_EQ(Get_AudioPEX(w()), 2);
  EXPECT_EQ(VerifyAudioPEX(w()), 1);
  EXPECT_TRUE(log.contains("----------------- Bus 001 Device 005: ID 0d8c:0014 C-Media Other"));
}

// ---- the plotter file ----

class PlotterFileTest : public ::testing::Test {
 protected:
  TempRoot root;
  LogCatcher log;
  std::unique_ptr<Works> works_ = std::make_unique<Works>();
  Works& w() { return *works_; }
};

TEST_F(PlotterFileTest, LoadsTwelveDataLinesPastComments) {
  std::string file = "; level position div offset\r\n";
  for (int i = 0; i < 13; ++i) {
    file += std::to_string(-10 - i) + " " + std::to_string(i % 10) + " " + std::to_string(5 + i) +
            " " + std::to_string(i) + ".5\r\n";
    if (i == 4) file += ";another comment\n";
  }
  root.write("/opt/set/plotter.txt", file);
  LoadPlotterFile(w());
  const PlotterTable::Rows rows = w().spectrum.plotter.get();
  for (int i = 0; i < kPlotterRows; ++i) {
    SCOPED_TRACE(i);
    const PlotterRow& r = rows[static_cast<size_t>(i)];
    EXPECT_EQ(r.refLevel, -10 - i);
    EXPECT_EQ(r.refPosition, i % 10);
    EXPECT_EQ(r.dbPerDiv, 5 + i);
    EXPECT_DOUBLE_EQ(r.plotOffset, i + 0.5);
  }
  EXPECT_TRUE(root.calls().empty()) << "a file that is there is not written";
}

TEST_F(PlotterFileTest, ShortOrBrokenLinesLeaveTheirRows) {
  InitPlotterTab(w(), 1, 2, 3, 4.0);
  root.write("/opt/set/plotter.txt", "-20 8 10 1.5\nnot numbers\n-30 7\n");
  LoadPlotterFile(w());
  const PlotterTable::Rows rows = w().spectrum.plotter.get();
  EXPECT_EQ(rows[0].refLevel, -20);
  EXPECT_EQ(rows[1].refLevel, 1);
  EXPECT_EQ(rows[2].refLevel, 1);
  EXPECT_EQ(rows[11].dbPerDiv, 3);
}

TEST_F(PlotterFileTest, AMissingFileIsMadeFromTheSettings) {
  w().set.RefLevelPlot = -30;
  w().set.RefPosPlot = 8;
  w().set.PointDivPlot = 10;
  w().set.OffsetPlot = 2.5;
  LoadPlotterFile(w());
  EXPECT_EQ(w().spectrum.plotter.row(11).refLevel, -30);
  std::string expected;
  for (int i = 0; i < 12; ++i) expected += "-30 8 10 2.5\n";
  EXPECT_EQ(root.read("/opt/set/plotter.txt"), expected);
  EXPECT_EQ(root.calls(), (std::vector<std::string>{kRwMount, kRoMount}));
}

TEST_F(PlotterFileTest, SavedWholeInsideTheWindowOrNotAtAll) {
  InitPlotterTab(w(), -10, 9, 5, -0.25);
  root.write("/opt/set/plotter.txt", "old\n");
  root.failMount("rw");
  EXPECT_FALSE(SavePlotterFile(w()));
  EXPECT_EQ(root.read("/opt/set/plotter.txt"), "old\n");
  EXPECT_TRUE(log.contains("can't mount rw /opt/set/ error 1"));

  fs::remove(root.dir() / "fail-mount-rw");
  EXPECT_TRUE(SavePlotterFile(w()));
  EXPECT_EQ(root.read("/opt/set/plotter.txt").substr(0, 13), "-10 9 5 -0.2\n");
  // Nothing but the file is left in the folder: it was replaced by a rename.
  int entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(root.path("/opt/set"))) ++entries;
  EXPECT_EQ(entries, 1);
}

}  // namespace
}  // namespace corvid

// The screens' edge cases: the texts of the info boxes, the memory table, the supply
// and temperature lines, the notices and the update line; the labels written at run
// time; and, on the drawn frame, what a screen leaves out.
#include "ui/screens.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/works.h"
#include "errors/errors.h"
#include "gfx/text.h"
#include "platform/log.h"
#include "tests/unit/screen_scenes.h"

namespace corvid {
namespace {

using S = PanelState;

class Screens : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static const bool loaded = [] {
      loadPanelFonts();
      return true;
    }();
    (void)loaded;
    platform::setLogSink([](platform::LogLevel, std::string_view) {});
  }
  static void TearDownTestSuite() { platform::setLogSink(nullptr); }
  Works& w() { return *works; }

  // The pixel (blue, green, red) of the back buffer after one overlay.
  struct Pixel {
    uint8_t b, g, r;
    bool operator==(const Pixel&) const = default;
  };
  Pixel at(int x, int y) {
    const uint8_t* p = w().gfx.fb->back.get() + y * w().gfx.fb->lineLength + x * 4;
    return {p[0], p[1], p[2]};
  }
  // Pixels of a box that differ from the background.
  int drawnIn(int x0, int y0, int x1, int y1) {
    int n = 0;
    const FrameBuffer& fb = *w().gfx.fb;
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x) {
        const size_t o = y * fb.lineLength + x * 4;
        for (int c = 0; c < 3; ++c) {
          if (fb.back[o + c] != fb.background[o + c]) {
            ++n;
            break;
          }
        }
      }
    }
    return n;
  }

  template <typename F>
  int countIn(int x0, int y0, int x1, int y1, F match) {
    int n = 0;
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x) n += match(at(x, y)) ? 1 : 0;
    }
    return n;
  }
  // Pixels of the label colour (blended over the key face).
  int orangeIn(int x0, int y0, int x1, int y1) {
    return countIn(x0, y0, x1, y1, [](Pixel p) { return p.r >= 120 && p.b <= 60; });
  }

  std::unique_ptr<Works> works = testing::baseWorks();
};

TEST_F(Screens, BandBoxShowsNopaFrom26To28MHzInclusive) {
  struct Case {
    uint32_t freq;
    const char* text;
  };
  for (const Case& c : std::vector<Case>{{25999999, "Band:---"},
                                         {26000000, "NOPA"},
                                         {27000000, "NOPA"},
                                         {28000000, "NOPA"},  // also the first Hz of 10 m
                                         {28000001, "Band:10m"},
                                         {14200000, "Band:20m"},
                                         {1800000, "Band:160m"},
                                         {60000000, "Band:---"}}) {
    w().ui.trxFreq = c.freq;
    EXPECT_EQ(infoBoxTexts(w())[2], c.text) << c.freq;
  }
}

TEST_F(Screens, InfoBoxTexts) {
  w().atu.attSelect = 3;
  w().atu.tunerBypassed = 1;
  w().amp.statusA = 0;
  auto t = infoBoxTexts(w());
  EXPECT_EQ(t[0], "QTRPEX");
  EXPECT_EQ(t[1], "  Coax:RTX");
  EXPECT_EQ(t[3], "Att 5dB");
  EXPECT_EQ(t[4], "Ant 2");
  EXPECT_EQ(t[5], "Atu: ByP");
  EXPECT_EQ(t[6], "Local");
  w().atu.attSelect = 4;
  w().bands.freqInterface = FreqInterface::Ft817;
  w().ui.remoteError = 1;  // a failed switch to remote
  t = infoBoxTexts(w());
  EXPECT_EQ(t[0], " FT-817");
  EXPECT_EQ(t[3], "Att StdBy");
  EXPECT_EQ(t[6], "Remote");
}

TEST_F(Screens, MemoryTableCells) {
  struct Case {
    BandRow row;
    std::array<std::string, 7> cells;
  };
  auto row = [](float pwr, uint8_t amp, uint8_t att, uint8_t ant, uint8_t atu) {
    BandRow r{};
    std::strncpy(r.name, "40m", sizeof r.name - 1);
    r.PwrIn = pwr;
    r.AmpEnable = amp;
    r.Att = att;
    r.Ant = ant;
    r.Atu = atu;
    return r;
  };
  const std::vector<Case> cases{
      {row(0.05f, 1, 1, 2, 0), {"4", "40m", "---", "2", "On", "2", "On"}},
      {row(0.1f, 1, 3, 3, 1), {"4", "40m", "0.1", "5", "On", "3", "Off"}},
      {row(5.0f, 0, 2, 1, 0), {"4", "40m", "5.0", "---", "Off (StdBy)", "1", "On"}},
      {row(2.5f, 1, 200, 1, 0), {"4", "40m", "2.5", "---", "On", "1", "On"}},  // bad byte
  };
  for (const Case& c : cases) EXPECT_EQ(memoryTableCells(c.row, 3), c.cells);
}

TEST_F(Screens, TemperatureAndSupplyLines) {
  w().set.MaxTemperature = 55.0f;
  EXPECT_EQ(temperatureBoxText(w()), "PA1:31.5°C   P2:29.0°C    CPU:48.3°C");
  auto status = statusPageValues(w());
  EXPECT_EQ(status[4], "Current:007.0A (2048.0), Tbrd:31.50°C, Thsk:29.00°C");
  EXPECT_EQ(status[5], "CPU:48.3°C, GPU:47.2°C");
  EXPECT_EQ(status[6], "Set Point Alarm 55.00°C, FAN: 40%");
  w().set.TempMode = 1;
  EXPECT_EQ(temperatureBoxText(w()), "PA1:88.7°F   P2:84.2°F    CPU:118.9°F");
  status = statusPageValues(w());
  EXPECT_EQ(status[4], "Current:007.0A (2048.0), Tbrd:88.70°F, Thsk:84.20°F");
  EXPECT_EQ(status[5], "CPU:118.9°F, GPU:117.0°F");
  EXPECT_EQ(status[6], "Set Point Alarm 131.0°F, FAN: 40%");

  struct Case {
    uint8_t model;
    uint8_t reading;
    const char* text;
  };
  for (const Case& c : std::vector<Case>{
           {'0', 200, "PA Voltage: 17.0V       Current: 07.0A"},
           {'0', 255, "PA Voltage: -----       Current: 07.0A"},  // above 20 V: not valid
           {'1', 255, "PA Voltage: 63.8V       Current: 07.0A"},
       }) {
    w().amp.ampModel = c.model;
    w().ui.tinyVamp = c.reading;
    EXPECT_EQ(supplyBoxText(w()), c.text) << c.model << " " << int{c.reading};
  }
}

TEST_F(Screens, StatusPageRows) {
  const auto v = statusPageValues(w());
  EXPECT_EQ(v[0], "SW ver. 1.46, FW ver. 1.12, HW ver. 2.3");
  EXPECT_EQ(v[1], "VN2201-0042 (BENCH), TYPE: EU, MAXPOWER: 60W");
  EXPECT_EQ(v[3], "14200000Hz(14199870)");
  EXPECT_EQ(v[7], "IP:192.168.1.77, NetMask:255.255.255.0 ");
  EXPECT_EQ(v[10], "EXT IO connected");
  AddErrore(w(), Err::ExtIoLost);
  w().bands.freqInterface = FreqInterface::Generic;
  const auto lost = statusPageValues(w());
  EXPECT_EQ(lost[10], "No EXT IO data");
  EXPECT_EQ(lost[3], "14199870Hz(14200000)");
}

TEST_F(Screens, NoticeLineTakesTheFirstBit) {
  struct Case {
    uint32_t flags;
    TuneState tune;
    const char* text;
  };
  for (const Case& c : std::vector<Case>{
           {0, TuneState::Idle, ""},
           {0, TuneState::Tuning, "Press Tune Key to abort"},
           {kNoticeWaitingForTune, TuneState::Tuning, "Waiting for Tune..."},
           {kNoticeBypassNotSaved | kNoticeWaitingForTune, TuneState::Idle,
            "ATU ByPass not saved!"},
           {kNoticeLongPress | kNoticeLocked, TuneState::Idle, "Entering second function..."},
           {kNoticeUpdate, TuneState::Idle, ""},  // the menu's, not shown here
       }) {
    w().ui.noticeFlags = c.flags;
    w().atu.tuneState = c.tune;
    EXPECT_EQ(noticeText(w()), c.text) << c.flags;
  }
}

TEST_F(Screens, UpdateLine) {
  struct Case {
    int result;
    uint8_t available;
    uint32_t service;
    const char* text;
  };
  w().system.offeredFwMajor = 1;
  w().system.offeredFwMinor = 13;
  for (const Case& c : std::vector<Case>{
           {12, kUpdateSoftware, 0, "Update UI error 12 "},
           {-1, kUpdateSoftware, 0, "Update UI error -1 "},  // no result line: a failure too
           {0, kUpdateSoftware, 0, "Update UI in progress: Wait for reset (max 5 min)"},
           {0, kUpdateNone, kServiceRemoteShell,
            "Update UI in progress: Wait for reset (max 5 min)"},
           {0, kUpdateSoftwareAndFw, 0, "UI update: please first update the FW version at 1.13"},
           {0, kUpdateNone, 0, "UI is running last version"},
       }) {
    w().system.updateResult = c.result;
    w().system.updateAvailable = c.available;
    w().ui.serviceFlags = c.service;
    EXPECT_EQ(updateNoticeText(w()), c.text) << c.result << " " << int{c.available};
  }
}

TEST_F(Screens, ErrorBoxSlots) {
  struct Case {
    int count;
    std::vector<int> slots;  // by list position, oldest first
  };
  for (const Case& c : std::vector<Case>{{1, {5}},
                                         {2, {5, 4}},
                                         {6, {5, 4, 3, 2, 1, 0}},
                                         {7, {-1, 5, 4, 3, 2, 1, 0}},
                                         {9, {-1, -1, -1, 5, 4, 3, 2, 1, 0}}}) {
    for (int i = 0; i < c.count; ++i) {
      EXPECT_EQ(errorBoxSlot(c.count, i), c.slots[static_cast<size_t>(i)]) << c.count << " " << i;
    }
    EXPECT_EQ(errorBoxSlot(c.count, c.count), -1);
  }
}

TEST_F(Screens, ErrorBoxesAreDrawnInTheirSlots) {
  AddErrore(w(), Err::HighSwr);  // red, oldest: rightmost
  AddErrore(w(), Err::Comm);     // orange
  testing::drawOverlay(w());
  EXPECT_EQ(at(780, 373), (Pixel{0, 30, 255}));
  EXPECT_EQ(at(650, 373), (Pixel{0, 150, 250}));
  EXPECT_EQ(at(665, 372), (Pixel{255, 255, 255}));  // frame
  EXPECT_EQ(drawnIn(5, 370, 529, 415), 0);

  // Seven: the newest leftmost; the oldest (HighSwr, red) is not drawn.
  for (Err e :
       {Err::RemoteUsb, Err::AudioMissing, Err::PexModeOff, Err::TuneTimeout, Err::MicroReset}) {
    AddErrore(w(), e);
  }
  testing::drawOverlay(w());
  for (int x : {120, 250, 380, 510, 650, 780}) EXPECT_EQ(at(x, 373), (Pixel{0, 150, 250})) << x;
}

TEST_F(Screens, RunTimeLabelsOnlyInTheirState) {
  KeyLabels& labels = w().ui.Novamenu;
  w().ui.resetTarget = 4;  // MAXbank: every bank
  LblRESET(w());
  EXPECT_EQ(labels.get(S::BankReset, 2, 2), " ") << "written outside its state";
  w().ui.panelState = S::BankReset;
  LblRESET(w());
  EXPECT_EQ(labels.get(S::BankReset, 2, 2), "  ALL");
  w().ui.resetTarget = 3;
  LblRESET(w());
  EXPECT_EQ(labels.get(S::BankReset, 2, 2), "    3");

  w().ui.panelState = S::Tune;
  w().atu.fineTuneRequest = 1;
  w().atu.tuneState = TuneState::Tuning;
  testing::drawOverlay(w());
  EXPECT_EQ(labels.get(S::Tune, 2, 2), "    On");
  EXPECT_EQ(labels.get(S::Tune, 3, 2), "   Off");
  EXPECT_EQ(labels.get(S::Tune, 4, 2), "   On");
  w().atu.tuneState = TuneState::Idle;
  w().set.TUNEenabled = 0x80;  // no tuner: the labels stay
  testing::drawOverlay(w());
  EXPECT_EQ(labels.get(S::Tune, 2, 2), "    On");

  w().ui.panelState = S::FilterEdit;
  w().ui.filterStepIndex = 3;
  testing::drawOverlay(w());
  EXPECT_EQ(labels.get(S::FilterEdit, 3, 2), " 10MHz");
  w().ui.panelState = S::MemoryTable;
  w().bands.freqInterface = FreqInterface::Generic;
  testing::drawOverlay(w());
  EXPECT_EQ(labels.get(S::MemoryTable, 2, 2), "Generic");
  EXPECT_EQ(GetLblInterface(3), "");
  EXPECT_EQ(GetLblInterface(-1), "");
}

TEST_F(Screens, ReadOnlyItemHidesEnter) {
  constexpr int kItemLongPress = 4;
  w().ui.panelState = S::MenuBrowse;
  w().ui.menuSection = kItemLongPress;
  testing::drawOverlay(w());
  EXPECT_GT(orangeIn(667, 425, 797, 475), 0);
  w().ui.menuSection = 3;  // "Remote Password"
  testing::drawOverlay(w());
  EXPECT_EQ(orangeIn(667, 425, 797, 475), 0);
  EXPECT_GT(orangeIn(534, 425, 660, 475) + orangeIn(401, 425, 527, 475), 0) << "the other keys";
}

TEST_F(Screens, PagesHideTheMainScreen) {
  w().ui.panelState = S::MemoryTable;
  w().ui.pageFlags = kPageMemoryTable;
  w().ui.noticeFlags = kNoticeLocked;
  w().atu.tuneInfoText.set("Antenna Tuner Bypassed");
  AddErrore(w(), Err::Comm);
  w().amp.statusB = 0x01;  // no TX marker either
  testing::drawOverlay(w());
  // The table's rows reach down to y 350 between x 50 and 600.
  EXPECT_EQ(drawnIn(0, 360, 799, 419), 0) << "error boxes";
  EXPECT_EQ(drawnIn(0, 278, 45, 359), 0) << "notice line, info and supply boxes";
  EXPECT_EQ(drawnIn(700, 278, 799, 359), 0) << "tune information, info and supply boxes";
  EXPECT_EQ(countIn(375, 175, 429, 209,
                    [](Pixel p) {
                      return p == Pixel{0, 0, 250};
                    }),
            0)
      << "TX marker";
  EXPECT_GT(drawnIn(0, 30, 799, 60), 0) << "the table's title";
}

TEST_F(Screens, NothingButTheKeysWhileTheLinkHasFailed) {
  w().amp.linkFailed = 1;
  testing::drawOverlay(w());
  EXPECT_EQ(drawnIn(0, 0, 799, 360), 0);
}

}  // namespace
}  // namespace corvid

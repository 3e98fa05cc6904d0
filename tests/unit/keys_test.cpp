// The key decoder: what each key does on each screen.
#include "ui/keys.h"

#include <gtest/gtest.h>

#include <memory>

#include "amp/link.h"
#include "app/wiring.h"
#include "atu/atu.h"
#include "bands/bands.h"
#include "core/settings.h"
#include "core/works.h"
#include "errors/errors.h"
#include "tests/unit/fake_micro.h"
#include "tests/unit/test_support.h"
#include "scope/plotter.h"
#include "ui/menu.h"

namespace corvid {
namespace {

using S = PanelState;
using testing::InstantSleep;
using testing::LogCatcher;
using testing::TempRoot;

constexpr int kShort = 0;
int held(int key) {
  return 1 << (key - 1);
}

class KeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    initSetup(w());
    testing::prepareLinkedWorks(w());
    wireHooks(w());
    w().ui.menuSectionCount = kMenuItems;
    w().set.MAXbank = 3;
    w().set.ViewType = 1;
    w().set.AutoTuneMode = 1;
    w().core.lastActivity = 0;
    root.addProgram("rm", "for f; do case \"$f\" in -*) ;; *) /bin/rm -f \"$f\";; esac; done\n");
    LoadAllBankTable(w(), 0);
    queued();
  }
  int press(int key, bool longPress = false) {
    return DecodeTasto(w(), key, longPress ? held(key) : kShort);
  }
  S state() { return w().ui.panelState.load(); }
  bool notice(uint32_t bit) { return (w().ui.noticeFlags.load() & bit) != 0; }
  std::vector<std::string> queued() { return testing::drainQueue(w()); }
  Works& w() { return *works_; }

  TempRoot root;
  InstantSleep instant;
  LogCatcher log;
  std::unique_ptr<Works> works_ = std::make_unique<Works>();
};

TEST_F(KeysTest, EventsDuringPowerOffOrScreensaverDoNothingElse) {
  w().ui.shutdownState = 2;
  EXPECT_EQ(press(5), 0);
  EXPECT_EQ(state(), S::Main);

  w().ui.shutdownState = 0;
  w().ui.screenSaverOn = 1;
  w().ui.panelState = S::Tune;
  EXPECT_EQ(press(5), 0);
  EXPECT_EQ(w().ui.screenSaverOn, 0);
  EXPECT_EQ(state(), S::Main);  // the end of the screensaver returns to the main screen
  press(5);
  EXPECT_EQ(state(), S::MenuBrowse);

  // Bit 4 lasts until the next event; bit 0 is cleared at the end of every event.
  w().ui.noticeFlags = kNoticeLocked | kNoticeLongPress | kNoticeTuneNotEnabled;
  press(3);  // nothing in the menu
  EXPECT_FALSE(notice(kNoticeLocked));
  EXPECT_FALSE(notice(kNoticeLongPress));
  EXPECT_TRUE(notice(kNoticeTuneNotEnabled));
}

// Plain moves between screens: from a state (with pages open), a key goes to a state.
TEST_F(KeysTest, ScreenTransitions) {
  struct Row {
    S from;
    int pages;
    int key;
    bool longPress;
    S to;
    int pagesAfter;
  };
  const Row rows[] = {
      {S::Main, 0, 4, false, S::Tune, 0},
      {S::Main, 0, 5, false, S::MenuBrowse, 0},
      {S::Main, 0, 5, true, S::MenuBrowse, 0},
      {S::Main, 0, 1, true, S::MemoryTable, kPageMemoryTable},
      {S::Main, 0, 6, true, S::StatusPage, kPageStatus},
      {S::Main, kPageStatus, 5, false, S::Main, 0},  // a key only closes the status page
      {S::Main, kPageStatus, 6, false, S::Main, 0},  // the view key clears every page
      {S::Main, kPageMemoryTable, 1, true, S::Main, 0},
      {S::MenuBrowse, 0, 1, false, S::Main, 0},
      {S::MenuBrowse, 0, 6, false, S::MenuEdit, 0},
      {S::MenuEdit, 0, 6, false, S::MenuBrowse, 0},
      {S::MenuEdit, kPageFilters, 6, false, S::FilterList, kPageFilters},
      {S::MenuEdit, kPageSpectrum, 6, false, S::SpectrumList, kPageSpectrum},
      {S::Tune, 0, 1, false, S::Main, 0},
      {S::ManualTune, 0, 1, false, S::SaveTune, 0},
      {S::MemoryTable, kPageMemoryTable, 1, false, S::Main, 0},
      {S::MemoryTable, kPageMemoryTable, 5, false, S::BankChoice, kPageMemoryTable},
      {S::MemoryTable, kPageMemoryTable, 6, false, S::MemoryTableEdit, kPageMemoryTable},
      {S::MemoryTableEdit, kPageMemoryTable, 1, false, S::MemoryTable, kPageMemoryTable},
      {S::SaveTune, 0, 1, false, S::Main, 0},
      {S::BankChoice, kPageMemoryTable, 1, false, S::MemoryTable, kPageMemoryTable},
      {S::BankChoice, kPageMemoryTable, 2, false, S::BankCopy, kPageMemoryTable},
      {S::BankChoice, kPageMemoryTable, 3, false, S::BankReset, kPageMemoryTable},
      {S::BankCopy, kPageMemoryTable, 1, false, S::MemoryTable, kPageMemoryTable},
      {S::BankReset, kPageMemoryTable, 1, false, S::MemoryTable, kPageMemoryTable},
      {S::FilterList, kPageFilters, 1, false, S::MenuBrowse, 0},
      {S::FilterList, 0, 1, false, S::FilterList, 0},  // no page open: nothing
      {S::FilterList, kPageFilters, 6, false, S::FilterEdit, kPageFilters},
      {S::FilterEdit, kPageFilters, 1, false, S::FilterList, kPageFilters},
      {S::StatusPage, kPageStatus, 1, false, S::Main, 0},
      {S::SpectrumList, kPageSpectrum, 1, false, S::MenuBrowse, 0},
      {S::SpectrumList, kPageSpectrum, 6, false, S::SpectrumEdit, kPageSpectrum},
      {S::SpectrumEdit, kPageSpectrum, 1, false, S::SpectrumList, kPageSpectrum},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(::testing::Message() << "state " << static_cast<int>(r.from) << " key " << r.key
                                      << (r.longPress ? " long" : " short"));
    w().ui.panelState = r.from;
    w().ui.pageFlags = r.pages;
    w().ui.menuSection = 0;
    w().ui.serviceFlags = 0;
    w().atu.tuneState = TuneState::Idle;
    press(r.key, r.longPress);
    EXPECT_EQ(state(), r.to);
    EXPECT_EQ(w().ui.pageFlags.load(), r.pagesAfter);
  }
  // Key 1 long on the memory table and on the status page arms the power-off.
  for (S s : {S::MemoryTable, S::StatusPage}) {
    w().ui.shutdownState = 0;
    w().ui.panelState = s;
    press(1, true);
    EXPECT_EQ(w().ui.shutdownState, 1);
  }
}

TEST_F(KeysTest, MainScreenRefusesBankAndAntennaWhileLocked) {
  w().amp.statusB = 0x02;
  press(3);
  EXPECT_TRUE(notice(kNoticeLocked));
  EXPECT_EQ(w().set.NumAntenna, 0);
  EXPECT_TRUE(queued().empty());
  press(1);
  EXPECT_EQ(w().set.NumBanco, 0);
  EXPECT_TRUE(notice(kNoticeLocked));

  // The debug mode lets the antenna change all the same; it cycles 1, 2, 3, 1.
  w().set.EnableDebug = 1;
  for (int expected : {1, 2, 0}) {
    press(3);
    EXPECT_EQ(w().set.NumAntenna, expected);
    EXPECT_FALSE(notice(kNoticeLocked));
  }
  w().set.EnableDebug = 0;
  w().amp.statusB = 0;
  w().amp.statusC = 0x08;
  press(3);
  EXPECT_TRUE(notice(kNoticeLocked));
  w().amp.statusC = 0;
  press(1);
  EXPECT_EQ(w().set.NumBanco, 1);
  EXPECT_TRUE(log.contains("BANCO 0"));
}

TEST_F(KeysTest, AttenuatorAndViewKeys) {
  w().atu.attSelect = 0;
  press(2);
  EXPECT_EQ(w().atu.attSelect, 1);
  EXPECT_FALSE(queued().empty());
  press(2, true);  // long: nothing
  EXPECT_EQ(w().atu.attSelect, 1);

  for (int expected : {2, 3, 4, 5, 1}) {
    press(6);
    EXPECT_EQ(w().set.ViewType, expected);
  }
  EXPECT_TRUE(log.contains("type to 1"));
  EXPECT_NE(root.read("/opt/set/setup.txt").find("ViewType"), std::string::npos);

  // A pending error is handled by the same key instead.
  w().atu.fineTuneRequest = 1;
  AddErrore(w(), Err::Comm);
  w().errors.errorActions = 1;
  press(6);
  EXPECT_EQ(w().set.ViewType, 1);
  EXPECT_EQ(w().atu.fineTuneRequest, 0);
}

TEST_F(KeysTest, StatusPageLabelsFollowTheDebugMode) {
  press(6, true);
  EXPECT_EQ(w().ui.Novamenu.get(S::StatusPage, 3, 1), " ");
  press(1);
  w().set.EnableDebug = 1;
  press(6, true);
  EXPECT_EQ(w().ui.Novamenu.get(S::StatusPage, 6, 1), "Exit dbg");
  press(6);  // leaves the debug mode and writes it
  EXPECT_EQ(w().set.EnableDebug, 0);
  EXPECT_EQ(state(), S::StatusPage);
}

TEST_F(KeysTest, TuneScreenBypassKeyAndManualKey) {
  w().ui.panelState = S::Tune;
  w().atu.tunerBypassed = 0;
  w().ui.trxFreq = 14'100'000;
  press(4);
  EXPECT_EQ(w().atu.tunerBypassed, 1);
  const auto sent = queued();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent[0].substr(0, 3), "MT1");
  EXPECT_NE(std::stoul(sent[0].substr(3, 8), nullptr, 16) & kModeBypass, 0u);
  EXPECT_EQ(w().atu.tuneInfoText.get(), "Antenna Tuner Bypassed");
  EXPECT_TRUE(std::filesystem::exists(root.path("/opt/set/antenna.txt")));

  // Tuning while bypassed only says so; key 1 clears the notice.
  press(2);
  EXPECT_TRUE(notice(kNoticeBypassActive));
  press(1);
  EXPECT_FALSE(notice(kNoticeBypassActive));

  // With tuning disabled the bypass and manual keys are refused.
  w().ui.panelState = S::Tune;
  w().set.AutoTuneMode = 0;
  press(4);
  EXPECT_TRUE(notice(kNoticeTuneNotEnabled));
  press(6);
  EXPECT_EQ(state(), S::Tune);
  w().set.AutoTuneMode = 1;

  // Key 6 opens manual tuning, and the next time round it does nothing.
  press(6);
  EXPECT_EQ(state(), S::ManualTune);
  EXPECT_EQ(queued(), (std::vector<std::string>{"MT;"}));
  w().ui.panelState = S::Tune;
  press(6);
  EXPECT_EQ(state(), S::Tune);
  EXPECT_EQ(w().ui.manualTuneFlag, 0);
  press(6);
  EXPECT_EQ(state(), S::ManualTune);
}

TEST_F(KeysTest, TuneScreenLongKeySixSendsTheWholeSetUp) {
  w().ui.panelState = S::Tune;
  w().bands.freqInterface = FreqInterface::ExtIo;
  press(6, true);
  std::vector<std::string> words;
  for (const std::string& c : queued()) words.push_back(c.substr(0, 2));
  EXPECT_EQ(words, (std::vector<std::string>{"MP", "CP", "FA", "TS", "AB", "AN", "SA", "AT"}));
  w().bands.freqInterface = FreqInterface::Generic;
  press(6, true);
  words.clear();
  for (const std::string& c : queued()) words.push_back(c.substr(0, 2));
  EXPECT_EQ(words, (std::vector<std::string>{"MP", "CP", "TS", "AB", "AN", "SA", "AT"}));
}

TEST_F(KeysTest, ManualTuningStepsWithinTheRangeAndRepeats) {
  w().ui.panelState = S::ManualTune;
  w().atu.tuneL = 510;
  EXPECT_EQ(press(3), 0);
  EXPECT_EQ(w().atu.tuneL, 511);
  EXPECT_EQ(queued().size(), 1u);
  EXPECT_EQ(press(3, true), 1);  // long: repeat, but 511 is the end
  EXPECT_EQ(w().atu.tuneL, 511);
  EXPECT_TRUE(queued().empty());
  EXPECT_EQ(DecodeInduttanzaFromTuneval(w().atu.tuneValue), 511);

  w().atu.tuneC = 0;
  EXPECT_EQ(press(4, true), 1);
  EXPECT_EQ(w().atu.tuneC, 0);
  EXPECT_EQ(press(5, true), 1);
  EXPECT_EQ(w().atu.tuneC, 1);
  EXPECT_EQ(DecodeCapacitaFromTuneval(w().atu.tuneValue), 1);
  EXPECT_EQ(press(2), 0);
  EXPECT_EQ(w().atu.tuneL, 510);

  // Mode on key 1 long: 1, 2, 3, 1; a stored 0 becomes 1.
  w().atu.tuneMode = 0;
  for (int expected : {1, 2, 3, 1}) {
    press(1, true);
    EXPECT_EQ(w().atu.tuneMode, expected);
  }
  // No mode change while a tune runs.
  w().atu.tuneState = TuneState::Tuning;
  press(1, true);
  EXPECT_EQ(w().atu.tuneMode, 1);
  w().atu.tuneState = TuneState::Idle;
  EXPECT_FALSE(w().amp.tuneValueLock.load());  // the lock is always given back
}

TEST_F(KeysTest, CarrierTestKeyAlternatesItsLabelAndTakesTheAntennaOffCoax) {
  w().ui.panelState = S::ManualTune;
  w().amp.statusA = 0x01;
  w().atu.antennaInUse = 2;
  w().ui.txTestFlags = 0x04;
  press(6);
  EXPECT_EQ(w().ui.txTestFlags, 0x04 | 0x10 | 0x03);
  EXPECT_EQ(w().atu.antennaInUse, 0);
  EXPECT_EQ(queued(), (std::vector<std::string>{"AN0;"}));
  EXPECT_EQ(w().ui.Novamenu.get(S::ManualTune, 6, 1), "StopTX");
  press(6);
  EXPECT_EQ(w().ui.txTestFlags, 0x04 | 0x01);
  EXPECT_EQ(w().ui.Novamenu.get(S::ManualTune, 6, 1), "StartTX");
}

TEST_F(KeysTest, SaveTuneRefusesABypassedTunerAndReturnsToTheTuneScreen) {
  w().ui.panelState = S::SaveTune;
  SetMode(w(), 3);
  press(6);
  EXPECT_TRUE(notice(kNoticeBypassNotSaved));
  EXPECT_EQ(state(), S::Tune);

  w().ui.panelState = S::SaveTune;
  w().ui.saveBank = 2;
  press(2);
  EXPECT_EQ(w().ui.saveBank, 0);  // wraps at MAXbank (3)
  w().ui.saveAntenna = 2;
  press(3);
  EXPECT_EQ(w().ui.saveAntenna, 0);
}

TEST_F(KeysTest, MemoryTableCellsChangeWithinTheirRanges) {
  w().ui.panelState = S::MemoryTableEdit;
  w().ui.tableRow = 4;
  auto cell = [&] { return w().bands.bands.get().rows[4]; };
  auto set = [&](auto change) {
    BandTable::Snapshot t = w().bands.bands.get();
    change(t.rows[4]);
    w().bands.bands.set(t);
  };
  // PwrIn: tenths, 0..5.
  w().ui.tableColumn = 0;
  set([](BandRow& r) { r.PwrIn = 4.95f; });
  press(5);
  EXPECT_FLOAT_EQ(cell().PwrIn, 5.0f);
  set([](BandRow& r) { r.PwrIn = 0.05f; });
  press(4);
  EXPECT_FLOAT_EQ(cell().PwrIn, 0.0f);
  // Att: up from 3 gives 0, down from 0 stays 0.
  press(3);
  EXPECT_EQ(w().ui.tableColumn, 1);
  set([](BandRow& r) { r.Att = 3; });
  press(5);
  EXPECT_EQ(cell().Att, 0);
  press(4);
  EXPECT_EQ(cell().Att, 0);
  // AmpEnable and Atu toggle; Ant cycles 1..3 both ways.
  press(3);
  const uint8_t enable = cell().AmpEnable;
  press(5);
  EXPECT_NE(cell().AmpEnable, enable);
  press(3);
  set([](BandRow& r) { r.Ant = 3; });
  press(5);
  EXPECT_EQ(cell().Ant, 1);
  press(4);
  EXPECT_EQ(cell().Ant, 3);
  press(3);
  const uint8_t atu = cell().Atu;
  press(4);
  EXPECT_NE(cell().Atu, atu);
  // The columns wrap: > from 4 to 0, < from 0 to 4.
  press(3);
  EXPECT_EQ(w().ui.tableColumn, 0);
  press(2);
  EXPECT_EQ(w().ui.tableColumn, 4);

  // Key 6 saves the bank's table; key 1 throws unsaved edits away.
  press(6);
  EXPECT_NE(root.read("/opt/set/antenna.txt").find("!"), std::string::npos);
  const BandRow saved = cell();
  press(5);
  press(1);
  EXPECT_EQ(cell().Atu, saved.Atu);
  EXPECT_EQ(w().ui.tableColumn, -1);

  // Rows wrap within the bank's rows.
  w().ui.tableRow = 0;
  press(3);
  EXPECT_EQ(w().ui.tableRow, w().bands.bands.get().count - 1);
  press(4);
  EXPECT_EQ(w().ui.tableRow, 0);
}

TEST_F(KeysTest, ResetOfAllBanksDeletesEveryBanksFilesAndCopyCarriesTheTable) {
  // Copy bank 0 to bank 2: the band table and the three tune memories.
  w().ui.panelState = S::BankCopy;
  SaveTabConfig(w(), 0);
  w().ui.copySource = 0;
  w().ui.copyTarget = 1;
  press(3);
  EXPECT_EQ(w().ui.copyTarget, 2);
  press(6);
  EXPECT_EQ(state(), S::MemoryTable);
  EXPECT_EQ(root.read("/opt/set/antenna_b2.txt"), root.read("/opt/set/antenna.txt"));
  for (int antenna = 0; antenna < 3; ++antenna) {
    EXPECT_TRUE(std::filesystem::exists(root.path(tuneMemoryPath(2, antenna)))) << antenna;
  }

  // Reset: the target runs 0 .. MAXbank, MAXbank being all banks.
  w().ui.panelState = S::BankReset;
  w().ui.resetTarget = 2;
  press(2);
  EXPECT_EQ(w().ui.resetTarget, 3);
  press(2);
  EXPECT_EQ(w().ui.resetTarget, 0);
  w().ui.resetTarget = 3;
  w().atu.lastBandApplied = 4;
  press(6);
  EXPECT_EQ(state(), S::MemoryTable);
  EXPECT_EQ(w().atu.lastBandApplied, -1);
  for (int bank = 0; bank < 3; ++bank) {
    EXPECT_FALSE(std::filesystem::exists(root.path(bandTablePath(bank)))) << bank;
    for (int antenna = 0; antenna < 3; ++antenna) {
      EXPECT_FALSE(std::filesystem::exists(root.path(tuneMemoryPath(bank, antenna))));
    }
  }
}

TEST_F(KeysTest, FilterEditRefusesStopBelowStart) {
  {
    std::scoped_lock lock(w().bands.filterMutex);
    w().bands.filters[3] = {7'000'000, 7'010'000, 1};
  }
  w().ui.panelState = S::FilterList;
  w().ui.pageFlags = kPageFilters;
  w().ui.filterRow = 7;
  press(4);
  EXPECT_EQ(w().ui.filterRow, 0);
  press(3);
  EXPECT_EQ(w().ui.filterRow, 7);
  w().ui.filterRow = 3;
  press(6);
  EXPECT_EQ(w().ui.filterEditStart, 7'000'000);

  // Column 1 (stop) down by 100 kHz: below the start.
  press(2);
  press(3);
  EXPECT_EQ(w().ui.filterStepIndex, 1);
  press(4);
  EXPECT_EQ(w().ui.filterEditStop, 6'910'000);
  EXPECT_EQ(w().ui.filterEditStatus, 2);
  press(6);
  EXPECT_EQ(w().ui.filterEditStatus, 3);
  {
    std::scoped_lock lock(w().bands.filterMutex);
    EXPECT_EQ(w().bands.filters[3].Fstop, 7'010'000);
  }
  // The next change clears the status; a good edit is stored and saved.
  press(5);
  press(5);
  EXPECT_EQ(w().ui.filterEditStatus, 0);
  press(6);
  EXPECT_EQ(w().ui.filterEditStatus, 1);
  {
    std::scoped_lock lock(w().bands.filterMutex);
    EXPECT_EQ(w().bands.filters[3].Fstop, 7'110'000);
  }
  EXPECT_NE(root.read("/opt/set/filter.txt").find("7110000"), std::string::npos);
  // Start does not go below 0.
  press(2);
  press(2);
  EXPECT_EQ(w().ui.filterColumn, 0);
  for (int i = 0; i < 100; ++i) press(4);
  EXPECT_EQ(w().ui.filterEditStart, 0);
}

TEST_F(KeysTest, MenuCursorWrapsAtTheLastReachableItem) {
  w().ui.panelState = S::MenuBrowse;
  w().ui.menuSection = 35;
  press(4);
  EXPECT_EQ(w().ui.menuSection, 0);
  press(3);
  EXPECT_EQ(w().ui.menuSection, 35);
  w().ui.startupKeysMenu = 1;
  press(4);
  EXPECT_EQ(w().ui.menuSection, 36);
  press(4);
  EXPECT_EQ(w().ui.menuSection, 0);
  press(3);
  EXPECT_EQ(w().ui.menuSection, 36);
  // The read-only password item opens no editing.
  w().ui.menuSection = kItemPassword;
  press(6);
  EXPECT_EQ(state(), S::MenuBrowse);
  // An armed software update keeps the menu open.
  w().ui.serviceFlags = kServiceSoftwareUpdate;
  press(1);
  EXPECT_EQ(state(), S::MenuBrowse);

  // ENTER of an item that waits runs in the background; keys are ignored meanwhile and
  // the menu is back once it ends.
  w().ui.serviceFlags = 0;
  w().ui.menuSection = kItemRemoteService;
  w().ui.panelState = S::MenuEdit;
  press(6);
  EXPECT_TRUE(finishServiceTask(w(), true));
  EXPECT_EQ(w().ui.serviceTaskRunning, 0);
  EXPECT_EQ(state(), S::MenuBrowse);
  // ENTER of an armed firmware update leaves the menu for the main screen, which shows
  // the update notice.
  w().ui.menuSection = 34;
  w().ui.panelState = S::MenuEdit;
  w().ui.serviceFlags = kServiceFirmwareUpdate;
  press(6);
  EXPECT_EQ(state(), S::Main);
  EXPECT_NE(w().ui.serviceFlags.load() & kServiceFirmwareStarted, 0u);
  EXPECT_EQ(queued(), (std::vector<std::string>{"MR1;"}));
  w().ui.serviceFlags = 0;
  w().ui.panelState = S::MenuBrowse;

  w().ui.serviceTaskRunning = 1;
  press(1);
  EXPECT_EQ(state(), S::MenuBrowse);
  w().ui.serviceTaskRunning = 0;
}

TEST_F(KeysTest, SpectrumSettingsEditWithinTheirLimits) {
  w().ui.panelState = S::SpectrumList;
  w().ui.pageFlags = kPageSpectrum;
  InitPlotterTab(w(), 0, 10, 10, 0.0);
  w().ui.plotRow = 11;
  press(4);
  EXPECT_EQ(w().ui.plotRow, 0);
  press(3);
  EXPECT_EQ(w().ui.plotRow, 11);
  press(6);
  EXPECT_EQ(state(), S::SpectrumEdit);
  struct Limit {
    int column;
    int key;
    int presses;
    double expected;
  };
  const Limit limits[] = {{0, 4, 3, 0.0}, {0, 5, 2, 2.0},   {1, 4, 300, -200}, {1, 5, 500, 200},
                          {2, 5, 30, 10}, {2, 4, 30, 0},     {3, 4, 30, 1},     {3, 5, 30, 20}};
  for (const Limit& l : limits) {
    SCOPED_TRACE(::testing::Message() << "column " << l.column << " key " << l.key);
    w().ui.plotColumn = l.column;
    for (int i = 0; i < l.presses; ++i) press(l.key);
    const double got = l.column == 0   ? w().ui.plotEditOffset.load()
                       : l.column == 1 ? w().ui.plotEditLevel.load()
                       : l.column == 2 ? w().ui.plotEditPos.load()
                                       : w().ui.plotEditDiv.load();
    EXPECT_DOUBLE_EQ(got, l.expected);
  }
  press(2);
  EXPECT_EQ(w().ui.plotColumn, 0);  // from 3 to 0

  // "All" (bit 7 clear) writes every row; "Single" only the selected one.
  press(6);
  EXPECT_EQ(w().spectrum.plotter.row(0).dbPerDiv, 20);
  w().ui.plotEditDiv = 5;
  w().ui.plotConfigType = 0x80;
  press(6);
  EXPECT_EQ(w().spectrum.plotter.row(11).dbPerDiv, 5);
  EXPECT_EQ(w().spectrum.plotter.row(0).dbPerDiv, 20);
}

}  // namespace
}  // namespace corvid

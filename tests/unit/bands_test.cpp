// Band tables and banks, receive filters, and the frequency follow.
#include "bands/bands.h"

#include <gtest/gtest.h>

#include <memory>

#include "amp/amp.h"
#include "amp/link.h"
#include "app/wiring.h"
#include "atu/atu.h"
#include "atu/follow.h"
#include "core/settings.h"
#include "core/works.h"
#include "errors/errors.h"
#include "tests/unit/fake_micro.h"
#include "tests/unit/test_support.h"
#include "ui/follow_cycle.h"

namespace corvid {
namespace {

using testing::InstantSleep;
using testing::LogCatcher;
using testing::TempRoot;

class BandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    initSetup(w());
    initErrorTable(w());
    w().errors.errorsMuted = 0;
    wireHooks(w());
    root.addProgram("rm", "for f; do case \"$f\" in -*) ;; *) /bin/rm -f \"$f\";; esac; done\n");
  }
  std::vector<std::string> queued() { return testing::drainQueue(w()); }
  BandRow row(int i) { return w().bands.bands.get().rows[static_cast<size_t>(i)]; }
  Works& w() { return *works_; }

  TempRoot root;
  InstantSleep instant;
  LogCatcher log;
  std::unique_ptr<Works> works_ = std::make_unique<Works>();
};

TEST_F(BandsTest, MissingBandFileGivesTheFactoryTable) {
  EXPECT_EQ(LoadTabConfig(w(), 2), FreqInterface::ExtIo);
  const auto t = w().bands.bands.get();
  EXPECT_EQ(t.count, 11);
  EXPECT_STREQ(t.rows[2].name, "60m");
  EXPECT_EQ(t.rows[2].start, 5330500u);
  EXPECT_EQ(t.rows[3].Atu, 1);
  EXPECT_EQ(t.rows[3].Ant, 1);
  EXPECT_EQ(w().atu.lastBandApplied, -1);
}

TEST_F(BandsTest, BandFileReadsAndRoundTrips) {
  root.write("/opt/set/antenna_b2.txt",
             "; comment\n!817\n160m 1800000 2000000 1 2 0 1 2.5\n"
             "80m 0x3567E0 03641100 0 3 1 3 0.1\r\n"
             "40m 7000000 7300000 1 2 0 1\n");
  EXPECT_EQ(LoadTabConfig(w(), 2), FreqInterface::Ft817);
  const auto t = w().bands.bands.get();
  ASSERT_EQ(t.count, 3);
  EXPECT_EQ(t.rows[0].Ant, 2);
  EXPECT_FLOAT_EQ(t.rows[0].PwrIn, 2.5f);
  EXPECT_EQ(t.rows[1].start, 3500000u);  // hexadecimal
  EXPECT_EQ(t.rows[1].end, 03641100u);   // octal
  EXPECT_FLOAT_EQ(t.rows[2].PwrIn, 0.0f) << "missing numbers read as 0";
  w().bands.freqInterface = FreqInterface::Ft817;
  SaveTabConfig(w(), 2);
  EXPECT_EQ(root.read("/opt/set/antenna_b2.txt"),
            "!817\n160m 1800000 2000000 1 2 0 1 2.5\n80m 3500000 1000000 0 3 1 3 0.1\n"
            "40m 7000000 7300000 1 2 0 1 0.0\n");
}

TEST_F(BandsTest, DamagedAndHostileBandFiles) {
  root.write("/opt/set/antenna.txt", "!817\n");
  EXPECT_EQ(LoadTabConfig(w(), 0), FreqInterface::Ft817);
  EXPECT_EQ(w().bands.bands.get().count, 0);
  w().ui.trxFreq = 14200000;
  EXPECT_EQ(SearchBandaIdx(w()), -1);

  // A zero edge: factory names and edges, the choices kept.
  root.write("/opt/set/antenna.txt", "!Gen\nxx 0 5 1 3 0 2 1.0\n");
  EXPECT_EQ(LoadTabConfig(w(), 0), FreqInterface::Generic);
  EXPECT_TRUE(log.contains("Error Reinit antenna"));
  EXPECT_STREQ(row(0).name, "160m");
  EXPECT_EQ(row(0).Ant, 3);
  EXPECT_EQ(w().bands.bands.get().count, 11);

  // Garbage, negative numbers, overlong names and lines, more than eleven rows.
  std::string text = "!Pex\n";
  for (int i = 0; i < 14; ++i) text += "averyveryverylongname 1000 2000 300 -5 99 7 1e40\n";
  text += std::string(3000, 'q') + "\n\xff\xfe\n";
  root.write("/opt/set/antenna.txt", text);
  EXPECT_EQ(LoadTabConfig(w(), 0), FreqInterface::ExtIo);
  EXPECT_EQ(w().bands.bands.get().count, 11);
  EXPECT_STREQ(row(0).name, "averyve");
  EXPECT_FLOAT_EQ(row(0).PwrIn, 0.0f);
}

TEST_F(BandsTest, FrequencyToBand) {
  InitTabAntenna(w(), 0);
  w().ui.trxFreq = 2000000;
  EXPECT_EQ(SearchBandaIdx(w()), 0) << "the end belongs to the band";
  w().ui.trxFreq = 2000001;
  EXPECT_EQ(SearchBandaIdx(w()), -1);
  auto t = w().bands.bands.get();
  t.rows[1].start = 1900000;  // overlaps 160 m: the first row wins
  w().bands.bands.set(t);
  w().ui.trxFreq = 1950000;
  EXPECT_EQ(SearchBandaIdx(w()), 0);
}

TEST_F(BandsTest, BanksAndInterfaces) {
  w().set.MAXbank = 3;
  w().set.NumBanco = 0;
  std::vector<int> banks;
  for (int i = 0; i < 4; ++i) {
    ChangeBanco(w());
    banks.push_back(w().set.NumBanco);
  }
  EXPECT_EQ(banks, (std::vector<int>{1, 2, 0, 1}));

  w().set.text.setFlag(Slot::extIoEnable, '1');
  w().set.text.setFlag(Slot::catSerialEnable, '1');
  AddErrore(w(), Err::ExtIoLost);
  queued();
  w().bands.freqInterface = FreqInterface::Generic;
  SetModeWorkIDX(w());
  EXPECT_EQ(w().set.text.flag(Slot::extIoEnable), '0');
  EXPECT_EQ(w().set.text.flag(Slot::catSerialEnable), '0');
  EXPECT_EQ(ExistError(w(), Err::ExtIoLost), 0);
  w().amp.generalSettings.set("0000000000");
  EXPECT_EQ(queued(), std::vector<std::string>{"GS0200000000;"});

  // The interface change is remembered in the bank's file.
  w().set.NumBanco = 1;
  ChangeInterfaceBanco(w());
  EXPECT_EQ(w().bands.freqInterface, FreqInterface::ExtIo);
  EXPECT_EQ(root.read("/opt/set/antenna_b1.txt").rfind("!Pex\n", 0), 0u);
}

TEST_F(BandsTest, SaveToBankRemembersThePresentChoices) {
  InitTabAntenna(w(), 0);
  w().ui.trxFreq = 7100000;
  w().atu.attStep = 2;
  w().atu.attSelect = 4;
  w().atu.tunerBypassed = 0;
  SaveToBank(w(), 0, 1);
  EXPECT_EQ(row(3).AmpEnable, 0) << "standby chosen";
  EXPECT_EQ(row(3).Att, 2);
  EXPECT_EQ(row(3).Ant, 2);
  EXPECT_EQ(row(3).Atu, 0);
  EXPECT_NE(root.read("/opt/set/antenna.txt").find("40m 7000000 7300000 0 2 0 2 0.0\n"),
            std::string::npos);

  w().set.NumAntenna = 2;
  w().atu.attStep = 1;
  queued();
  SaveToBankDebug(w(), 0, 3);
  EXPECT_EQ(row(5).Att, 3);
  EXPECT_EQ(row(5).AmpEnable, 1);
  EXPECT_EQ(queued(), (std::vector<std::string>{"AT00;", "SA1;", "MT100010000;"}));
}

TEST_F(BandsTest, DeletingABanksFiles) {
  root.write("/opt/set/antenna_b4.txt", "!Gen\n");
  root.write("/opt/set/atu_ant2_b4.txt", "1 1 1 1 1 1\n");
  DeleteFileConf(w(), 4, 3);
  DeleteFileConf(w(), 4, 1);
  EXPECT_FALSE(std::filesystem::exists(root.path("/opt/set/antenna_b4.txt")));
  EXPECT_FALSE(std::filesystem::exists(root.path("/opt/set/atu_ant2_b4.txt")));
}

TEST_F(BandsTest, FilterSelection) {
  root.write("/opt/set/filter.txt",
             ";comment\n1800000\t\t2000000\t\t1 \n3500000\t\t4000000\t\t2 \n"
             "7000000\t\t7300000\t\t1 \n7100000\t\t7300000\t\t1 \n0x0\t\t0\t\t0 \n0\t\t0\t\t0 \n"
             "0\t\t0\t\t0 \n28000000\t\t54000000\t\t1 \n99\t\t99\t\t1 \n");
  LoadTabFiltri(w());
  auto send = [&](uint32_t f) {
    w().ui.trxFreq = f;
    SetFilterFromfreq(w());
    return queued();
  };
  EXPECT_EQ(send(2000000), std::vector<std::string>{"SF3000001;"});  // Fstop inclusive
  EXPECT_EQ(send(1900000), std::vector<std::string>{}) << "same filter: sent once";
  EXPECT_EQ(send(3700000), std::vector<std::string>{"SF3000000;"}) << "enabled 2 never counts";
  EXPECT_EQ(send(3800000), std::vector<std::string>{});
  EXPECT_EQ(send(7150000), std::vector<std::string>{"SF3000004;"}) << "the lower row wins";
  EXPECT_EQ(send(50000000), std::vector<std::string>{"SF3000080;"});
  SaveTabFiltri(w());
  const std::string text = root.read("/opt/set/filter.txt");
  EXPECT_EQ(text.substr(0, text.find('\n') + 1).size(), 160u);
  EXPECT_NE(text.find("\n1800000\t\t2000000\t\t1 \n3500000\t\t4000000\t\t2 \n"), std::string::npos);
}

TEST_F(BandsTest, MissingFilterFileSelectsNothing) {
  LoadTabFiltri(w());
  EXPECT_TRUE(log.contains("Filter File not FOUND!!"));
  w().ui.trxFreq = 7100000;
  SetFilterFromfreq(w());
  EXPECT_TRUE(queued().empty());
}

class FollowTest : public BandsTest {
 protected:
  void SetUp() override {
    BandsTest::SetUp();
    w().bands.freqInterface = FreqInterface::Generic;
    w().amp.ampBypass = 0;
    w().atu.attStep = 0;
    w().set.NumAntenna = 1;
    root.write("/opt/set/antenna.txt",
               "!Gen\n40m 7000000 7300000 1 2 0 0 2.55\n20m 14000000 14350000 1 0 1 2 0.05\n"
               "15m 21000000 21450000 0 3 0 0 0.0\n");
    LoadAllBankTable(w(), 0);
    queued();
  }
  std::vector<std::string> moveTo(uint32_t freq) {
    w().amp.ampFreq = freq;
    followFrequency(w(), cycle, ++now);
    return queued();
  }
  FollowCycle cycle;
  std::time_t now = 1000;
};

TEST_F(FollowTest, RecallsTheMemoryOfTheNewFrequency) {
  SaveTuneValsuTabRam(w(), {1, 2, 40, 50}, AtuIdxSearch(7150000), 1);
  // The link runs the recall when it sends the command: the nearest memory of the
  // segment applies (LC, L 40, C 50).
  EXPECT_EQ(moveTo(7100000), (std::vector<std::string>{"TS4095409515003700;", "MT100045884;"}))
      << "antenna 2 is already in use: no SA";
  EXPECT_EQ(w().atu.tuneL, 40);
  EXPECT_EQ(w().atu.tuneInfoText.get(), "Tune Data Loaded (L40,C50,LC)");
  EXPECT_EQ(w().trx.pexPowerValue, 2500);
  // At the memory's own frequency the record equals the setting: no change, no notice.
  w().atu.tuneInfoText.set("");
  EXPECT_EQ(moveTo(7150000), (std::vector<std::string>{"MT100045884;"}));
  EXPECT_EQ(w().atu.tuneInfoText.get(), "");
}

TEST_F(FollowTest, NoMemoryMeansTheNeutralSetting) {
  EXPECT_EQ(moveTo(7100000), (std::vector<std::string>{"TS4095409515003700;", "MT100800000;"}));
  EXPECT_EQ(w().atu.tuneInfoText.get(), "No Tune Data Available (L0,C0)");
}

TEST_F(FollowTest, BandRowsDriveAntennaTunerStandbyAndAttenuator) {
  SaveTuneValsuTabRam(w(), {1, 2, 40, 50}, AtuIdxSearch(14200000), 1);
  w().trx.pexPowerValue = 1234;
  // Atu 1: bypass even with a memory; Ant 0: the antenna stays; PwrIn 0.05: no request.
  EXPECT_EQ(moveTo(14200000),
            (std::vector<std::string>{"TS4095409515003700;", "MT100010000;", "AT10;"}));
  EXPECT_EQ(w().atu.tuneInfoText.get(), "Antenna Tuner Bypassed");
  EXPECT_EQ(w().set.NumAntenna, 1);
  EXPECT_EQ(w().trx.pexPowerValue, 1234);
  // AmpEnable 0: standby; antenna 3.
  EXPECT_EQ(moveTo(21200000), (std::vector<std::string>{"SA3;", "MT100800000;", "AB1;"}));
  EXPECT_EQ(w().set.NumAntenna, 2);
  // Back on an amplifying band while bypassed: AB0 and the attenuator.
  w().amp.ampBypass = 1;
  EXPECT_EQ(moveTo(7100000), (std::vector<std::string>{"SA2;", "MT100800000;", "AB0;", "AT00;"}));
  EXPECT_EQ(moveTo(3600000), std::vector<std::string>{}) << "no band: nothing";
  EXPECT_EQ(w().atu.lastBandApplied, 100);
}

TEST_F(FollowTest, NothingIsAppliedWhileTheAmplifierTransmits) {
  moveTo(7100000);
  w().amp.statusB = 1;
  EXPECT_TRUE(moveTo(14200000).empty());
  w().amp.statusB = 0;
  EXPECT_FALSE(moveTo(14200000).empty()) << "applied once transmission ends";
  EXPECT_TRUE(moveTo(14200000).empty()) << "a frequency that stays is not applied again";
}

TEST_F(FollowTest, DuringATuneTheRecallWaits) {
  w().atu.tuneState = TuneState::Tuning;
  EXPECT_EQ(moveTo(21200000), (std::vector<std::string>{"TS4095409515003700;", "SA3;", "AB1;"}));
}

TEST_F(FollowTest, AntennaAndAttenuatorKeys) {
  w().ui.trxFreq = 7100000;
  w().atu.tunerBypassed = 1;
  w().set.NumAntenna = 2;
  SetAnt(w());
  EXPECT_EQ(queued(), std::vector<std::string>{"SA3;"}) << "bypassed tuner: no recall";
  EXPECT_EQ(row(0).Ant, 3);

  w().atu.attSelect = 4;
  SetAtt(w());
  EXPECT_EQ(queued(), std::vector<std::string>{"AB1;"});
  w().amp.statusB = 1;  // transmitting: no standby
  w().atu.attSelect = 4;
  SetAtt(w());
  EXPECT_EQ(w().atu.attSelect, 0);
  EXPECT_EQ(queued(), std::vector<std::string>{"AT00;"});
  w().amp.ampBypass = 1;
  w().atu.attSelect = 2;
  SetAtt(w());
  EXPECT_EQ(ExistError(w(), Err::CmdNotAvailable), 1);
}

// The tuner writes a few key labels of its own screens, each only while its screen shows.
TEST_F(FollowTest, KeyLabelsOfTheAntennaTheStandbyAndTheAttenuator) {
  KeyLabels& labels = w().ui.Novamenu;
  w().ui.panelState = PanelState::Tune;
  moveTo(21200000);  // antenna 3, standby: only the tune screen's bypass label changes
  EXPECT_EQ(labels.get(PanelState::Main, 3, 2), "");
  EXPECT_EQ(labels.get(PanelState::Tune, 4, 2), "On");
  EXPECT_EQ(labels.get(PanelState::Main, 2, 2), "") << "the attenuator label is the main screen's";

  w().ui.panelState = PanelState::Main;
  w().amp.ampBypass = 1;
  moveTo(7100000);  // antenna 2 again, amplifying, attenuator 0
  EXPECT_EQ(labels.get(PanelState::Main, 3, 2), "Auto 2");
  EXPECT_EQ(labels.get(PanelState::Tune, 4, 2), "On") << "not shown: left as it was";
  EXPECT_EQ(labels.get(PanelState::Main, 2, 2), "  0dB");

  const std::pair<int, const char*> kAttenuator[] = {{0, "  0dB"}, {1, "  2dB"},   {2, "  3dB"},
                                                     {3, "  5dB"}, {4, "  StdBy"}, {7, "  StdBy"}};
  for (const auto& [select, text] : kAttenuator) {
    w().atu.attSelect = select;
    SetAttenuatorLabel(w());
    EXPECT_EQ(labels.get(PanelState::Main, 2, 2), text) << select;
  }
}

TEST(KeyLabels, LinesAreCutToTheirFieldAndOutOfRangePlacesIgnored) {
  auto labels = std::make_unique<KeyLabels>();
  labels->set(PanelState::SpectrumEdit, 6, 1, "0123456789ABCDEF");
  EXPECT_EQ(labels->get(PanelState::SpectrumEdit, 6, 1), "0123456789A");
  labels->set(PanelState::SpectrumEdit, 6, 1, "ab");
  EXPECT_EQ(labels->get(PanelState::SpectrumEdit, 6, 1), "ab") << "the rest of the field cleared";
  EXPECT_EQ(labels->get(PanelState::SpectrumEdit, 6, 2), "");
  for (const auto& [key, line] : {std::pair{0, 1}, {7, 1}, {1, 0}, {1, 3}}) {
    labels->set(PanelState::Main, key, line, "x");
    EXPECT_EQ(labels->get(PanelState::Main, key, line), "") << key << "/" << line;
  }
  labels->set(static_cast<PanelState>(20), 1, 1, "x");
  EXPECT_EQ(labels->get(static_cast<PanelState>(20), 1, 1), "");
  labels->setFlags(PanelState::Main, 0x21);
  EXPECT_EQ(labels->flags(PanelState::Main), 0x21);
  EXPECT_EQ(labels->flags(static_cast<PanelState>(-1)), 0);
}

}  // namespace
}  // namespace corvid

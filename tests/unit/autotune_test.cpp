// Automatic tuning through the real link: a fake micro whose readings follow the tune
// value it was last sent, with a single best match.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "amp/amp.h"
#include "amp/link.h"
#include "app/wiring.h"
#include "atu/atu.h"
#include "core/works.h"
#include "errors/errors.h"
#include "tests/unit/fake_micro.h"
#include "tests/unit/test_support.h"

namespace corvid {
namespace {

using testing::FakeMicro;
using testing::InstantSleep;
using testing::LogCatcher;
using testing::microFrame;
using testing::TempRoot;

// Raw reading for a power, inverting the controller's calibration with its defaults.
int rawFor(double watts, int offset, double k) {
  if (watts <= 0) return 0;
  const double raw = std::sqrt(watts / k) - offset;
  return raw >= offset ? static_cast<int>(std::lround(raw))
                       : static_cast<int>(std::lround(watts / (4 * k * offset)));
}

// A load whose SWR is a bowl around one setting of the LC network.
struct Load {
  int bestL = 37;
  int bestC = 112;
  double floor = 1.02;  // SWR at the best point
  double drive = 500;   // raw input reading; 0 = no carrier

  double swr(uint32_t value) const {
    const int l = DecodeInduttanzaFromTuneval(value);
    const int c = DecodeCapacitaFromTuneval(value);
    const double dl = (l - bestL) / 20.0;
    const double dc = (c - bestC) / 30.0;
    double s = floor + dl * dl + dc * dc;
    if ((value & kModeLC) == 0) s += 2.0;  // the other network matches worse
    return std::min(s, 50.0);
  }
};

class AutotuneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::prepareLinkedWorks(w());
    w().set.AutoTuneMode = 1;
    w().set.AutoTuneMaxCicli = 0;
    w().atu.tunerBypassed = 0;
    w().ui.trxFreq = 14200000;
    w().amp.linearProcessStatus = CmdST;
    wireHooks(w());
  }

  std::string reply(const std::string& command) {
    if (command.rfind("MT1", 0) == 0) {
      tuneValue = static_cast<uint32_t>(std::stoul(command.substr(3, 8), nullptr, 16));
    }
    if (command != "ST;") return microFrame(command);
    const double forward = load.drive > 0 ? 50.0 : 0.0;
    const double s = load.swr(tuneValue);
    const double rho = (s - 1) / (s + 1);
    // The controller adds -0.007 × forward to the reflected reading.
    const double reflected = rho * rho * forward + 0.007 * forward;
    char text[64];
    std::snprintf(text, sizeof text, "ST0%X%04d%04d%04d000020482048000;", alarm ? 2 : 0,
                  static_cast<int>(load.drive), rawFor(forward, 140, 5.156579e-6),
                  rawFor(reflected, 100, 3.3262754e-6));
    return microFrame(text);
  }

  // Runs the link until the tune has ended (or the step budget is spent).
  void runTune(int maxCommands = 20000) {
    for (int i = 0; i < 5000000 && micro.commands.size() < static_cast<size_t>(maxCommands); ++i) {
      linkStep(w(), micro, receiver);
      if (w().atu.tuneState.load() == TuneState::Idle && started) break;
      if (w().atu.tuneState.load() != TuneState::Idle) started = true;
    }
  }

  Works& w() { return *works_; }

  TempRoot root;
  InstantSleep instant;
  LogCatcher log;
  LinkReceiver receiver;
  Load load;
  bool alarm = false;
  bool started = false;
  uint32_t tuneValue = 0;
  std::unique_ptr<Works> works_ = std::make_unique<Works>();
  FakeMicro micro{[this](const std::string& c) { return reply(c); }};
};

TEST_F(AutotuneTest, CompleteTuneFindsTheMatchAndStoresIt) {
  w().atu.fineTuneRequest = 0;
  GoTune(w());
  ASSERT_EQ(w().atu.tuneState, TuneState::Tuning);
  runTune();
  ASSERT_EQ(w().atu.tuneState, TuneState::Idle) << "the tune ended";
  // The tune's set-up goes out back to back before the first step.
  ASSERT_GE(micro.commands.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(micro.commands.begin() + 2, micro.commands.begin() + 7),
            (std::vector<std::string>{"MP1;", "AT00;", "TS4095409515003700;", "CPFFFF;", "MP0;"}));
  // Then MT1 and ST alternate, with an extra ST to settle after good readings.
  size_t mt = 0;
  for (const auto& c : micro.commands) mt += c.rfind("MT1", 0) == 0;
  EXPECT_GT(mt, 142u) << "both coarse networks were searched";
  EXPECT_LE(w().atu.tuneResultSwr, 1.1f);
  EXPECT_NEAR(w().atu.tuneL, 37, 6);
  EXPECT_NEAR(w().atu.tuneC, 112, 9);
  EXPECT_TRUE(listedErrors(w()).empty());
  // Stored for the frequency's cell in antenna 1's file of bank 0.
  const std::string file = root.read("/opt/set/atu_ant1.txt");
  EXPECT_EQ(file.rfind("3130 14200000 1 2 ", 0), 0u) << file;
  EXPECT_EQ(w().amp.tsRow, -1) << "normal thresholds are sent again";
  EXPECT_EQ(w().atu.tuneFlags & kTuneAskReceive, kTuneAskReceive);
}

TEST_F(AutotuneTest, FineTuneRefinesFromThePresentSetting) {
  w().atu.tuneValue = kModeLC | encodeL(34) | encodeC(95);
  ReadTnePar(w());
  w().atu.fineTuneRequest = 1;
  GoTune(w());
  runTune();
  ASSERT_EQ(w().atu.tuneState, TuneState::Idle);
  EXPECT_LE(w().atu.tuneResultSwr, 1.1f);
  size_t mt = 0;
  for (const auto& c : micro.commands) mt += c.rfind("MT1", 0) == 0;
  EXPECT_LT(mt, 142u) << "no coarse search";
  EXPECT_NE(root.read("/opt/set/atu_ant1.txt"), "");
}

TEST_F(AutotuneTest, TargetReachedAtTheFirstCoarsePoint) {
  load.bestL = 0;
  load.bestC = 0;
  w().set.swrTarget = 1.5f;
  GoTune(w());
  runTune();
  ASSERT_EQ(w().atu.tuneState, TuneState::Idle);
  EXPECT_EQ(w().atu.tuneValue, kModeLC) << "L 0, C 0 on network A applied";
  EXPECT_NE(root.read("/opt/set/atu_ant1.txt").find(" 1 2 0 0\n"), std::string::npos);
}

TEST_F(AutotuneTest, NoDriveRaisesTheLowPowerError) {
  load.drive = 0;
  GoTune(w());
  runTune();
  ASSERT_EQ(w().atu.tuneState, TuneState::Idle);
  EXPECT_TRUE(log.contains("ERRORE TUNE PWR IN!!!"));
  EXPECT_EQ(ExistError(w(), Err::TuneLowPower), 1);
  EXPECT_EQ(root.read("/opt/set/atu_ant1.txt"), "") << "nothing stored";
}

TEST_F(AutotuneTest, NoMatchRaisesMaxSwr) {
  load.floor = 8.0;
  w().set.AutoTuneMaxCicli = 0;  // 600 cycles: the search runs out first
  GoTune(w());
  runTune(60000);
  ASSERT_EQ(w().atu.tuneState, TuneState::Idle);
  EXPECT_EQ(ExistError(w(), Err::TuneMaxSwr), 1);
  EXPECT_EQ(ExistError(w(), Err::TuneLowPower), 0);
}

TEST_F(AutotuneTest, CycleLimitEndsTheTuneWithProtectionOn) {
  load.floor = 1.5;              // no target: the fine passes run on
  w().set.AutoTuneMaxCicli = 4;  // 100 cycles
  GoTune(w());
  runTune();
  ASSERT_EQ(w().atu.tuneState, TuneState::Idle);
  EXPECT_EQ(ExistError(w(), Err::TuneTimeout), 1) << "no target set";
  EXPECT_TRUE(log.contains("max cicli-> esco"));
  char letters[2];
  std::vector<std::string> queued;
  for (int i; (i = w().amp.cmdQueue.pop()) >= 0;) queued.push_back(buildCommand(w(), i, letters));
  EXPECT_NE(std::find(queued.begin(), queued.end(), "MP1;"), queued.end());
  EXPECT_NE(std::find(queued.begin(), queued.end(), "AT11;"), queued.end());
}

TEST_F(AutotuneTest, AlarmStepsReadAsSwr100AndClearTheLatch) {
  alarm = true;
  w().set.AutoTuneMaxCicli = 4;
  GoTune(w());
  runTune();
  size_t cp = 0;
  for (const auto& c : micro.commands) cp += c == "CPFFFF;";
  EXPECT_GT(cp, 10u) << "every alarm step is followed by CPFFFF;";
  EXPECT_TRUE(log.contains("Err 1 SWR 100.00"));
}

TEST_F(AutotuneTest, RefusedWhenBypassedDisabledOrNotInstalled) {
  w().atu.tunerBypassed = 1;
  StartAutotune(w());
  EXPECT_EQ(w().atu.tuneState, TuneState::Idle);
  EXPECT_EQ(w().atu.tuneFlags & kTuneRefused, kTuneRefused);
  GoTune(w());
  EXPECT_TRUE(log.contains("NO TUNE!!"));
  EXPECT_EQ(w().ui.noticeFlags & kNoticeTuneNotEnabled, kNoticeTuneNotEnabled);

  w().atu.tuneFlags = 0;
  w().atu.tunerBypassed = 0;
  w().set.TUNEenabled = 0x80;
  GoTune(w());
  EXPECT_EQ(w().atu.tuneState, TuneState::Idle) << "no tuner installed: the key does nothing";

  // The tune key during a tune aborts it without storing.
  w().set.TUNEenabled = 0;
  GoTune(w());
  ASSERT_EQ(w().atu.tuneState, TuneState::Tuning);
  GoTune(w());
  EXPECT_EQ(w().atu.tuneState, TuneState::Idle);
  EXPECT_TRUE(log.contains("esc tune TUNEMENU"));
}

TEST_F(AutotuneTest, InterfaceOneWaitsForTheTransceiversCarrier) {
  w().bands.freqInterface = FreqInterface::ExtIo;
  w().atu.trxTransmitting = 0;
  GoTune(w());
  EXPECT_EQ(w().atu.tuneFlags & kTuneByKey, kTuneByKey);
  runTune(200);
  EXPECT_NE(w().atu.tuneState, TuneState::Idle) << "step 401 repeats while no carrier";
  EXPECT_EQ(w().atu.tuneStep, AutotuneStep::WaitTransmit);
  w().atu.trxTransmitting = 1;
  runTune(400);
  EXPECT_GT(stepNumber(w().atu.tuneStep), stepNumber(AutotuneStep::WaitDrive));
  // The carrier ends during the search: the tune ends without storing.
  w().atu.trxTransmitting = 0;
  runTune(800);
  EXPECT_EQ(w().atu.tuneState, TuneState::Idle);
  EXPECT_EQ(w().atu.tuneFlags & kTuneRefused, kTuneRefused);
}

}  // namespace
}  // namespace corvid

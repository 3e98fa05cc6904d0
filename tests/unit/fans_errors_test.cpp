// Fan rules, temperature protection, and the error registry with the reset key.
#include <gtest/gtest.h>

#include <memory>

#include "amp/amp.h"
#include "amp/link.h"
#include "core/works.h"
#include "errors/errors.h"
#include "tests/unit/fake_micro.h"
#include "tests/unit/test_support.h"

namespace corvid {
namespace {

using testing::InstantSleep;
using testing::LogCatcher;
using testing::TempRoot;

class RulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitGlobalVar(w());
    initErrorTable(w());
    w().errors.errorsMuted = 0;
    w().core.initDone = 1;
    w().set.Isteresi1 = 3;
    w().set.Isteresi2 = 1;
    w().set.MaxTemperature = 70;
    ReadVentolaFile(w(), 0);  // missing file: 45/70, 50/80, 55/100
    w().amp.lastFanSent = 0;
  }
  // Commands queued since the last call, as texts.
  std::vector<std::string> queued() { return testing::drainQueue(w()); }
  // Sets the temperature, runs the fan rule and sends what it queued.
  std::vector<std::string> fanAt(float t) {
    w().amp.temp1 = t;
    w().amp.temp2 = 0;
    searchPercentVentola(w());
    return queued();
  }
  void sensor1(float t) {
    GestTemperatureFunction(w(), Err::Temp1Alarm, Err::Temp1Recovered, Err::Temp1Warning, t,
                            w().set.MaxTemperature.load());
  }
  Works& w() { return *works_; }

  TempRoot root;
  InstantSleep instant;
  LogCatcher log;
  std::unique_ptr<Works> works_ = std::make_unique<Works>();
};

TEST_F(RulesTest, FanStepsRiseAtOnceAndFallWithHysteresis) {
  EXPECT_EQ(fanAt(30), std::vector<std::string>{"FN1070;"});
  EXPECT_EQ(fanAt(49.9f), std::vector<std::string>{});
  EXPECT_EQ(fanAt(50), std::vector<std::string>{"FN1080;"});
  EXPECT_EQ(fanAt(60), std::vector<std::string>{"FN1100;"});
  EXPECT_EQ(fanAt(52), std::vector<std::string>{"FN1080;"});  // 55 - 1 > 52
  EXPECT_EQ(fanAt(49.5f), std::vector<std::string>{});        // 80 % began at 50
  EXPECT_EQ(fanAt(48.9f), std::vector<std::string>{"FN1070;"});
}

TEST_F(RulesTest, OneFanCommandInFlightAndNothingBeforeStartUpEnds) {
  w().amp.temp1 = 60;
  w().core.initDone = 0;
  searchPercentVentola(w());
  EXPECT_TRUE(queued().empty());
  w().core.initDone = 1;
  searchPercentVentola(w());
  searchPercentVentola(w());  // the first FN has not gone out yet
  EXPECT_EQ(w().amp.cmdQueue.size(), 1);
}

TEST_F(RulesTest, CpuRuleRunsTheFanWhileTheTableAsksForNone) {
  root.write("/opt/set/ventola.txt", "; t %\n20 0\n60 50\n");
  ReadVentolaFile(w(), 0);
  w().set.CPUTempVentola = 75;
  w().set.CPUPercVentola = 70;
  w().amp.cpuTemp = 75;
  EXPECT_EQ(fanAt(30), std::vector<std::string>{"FN1070;"});
  EXPECT_EQ(w().amp.cpuFanSent, 70);
  w().amp.cpuTemp = 74.5f;  // within the hysteresis: stays on
  EXPECT_TRUE(fanAt(30).empty());
  w().amp.cpuTemp = 73;
  EXPECT_EQ(fanAt(30), std::vector<std::string>{"FN1000;"});
}

// my_temp's lines: only a finite number within float's range replaces a reading ("1e39" once
// turned into an infinity); the GPU's sits in columns 6 to 9.
TEST_F(RulesTest, BoardTemperatureLinesOfMyTemp) {
  w().amp.cpuTemp = 40;
  w().amp.gpuTemp = 41;
  for (const char* bad : {"", "C", "nan", "inf", "-inf", "1e39", "-1e39"}) {
    takeCpuTempLine(w(), bad);
  }
  EXPECT_FLOAT_EQ(w().amp.cpuTemp, 40);
  takeCpuTempLine(w(), " 61.5 C");
  EXPECT_FLOAT_EQ(w().amp.cpuTemp, 61.5f);

  for (const char* bad : {"temp=", "temp", "temp=nan'C", "temp=x47.2'C", "temp=9e99'C"}) {
    takeGpuTempLine(w(), bad);
  }
  EXPECT_FLOAT_EQ(w().amp.gpuTemp, 41);
  takeGpuTempLine(w(), "temp=58.4'C");
  EXPECT_FLOAT_EQ(w().amp.gpuTemp, 58.4f);
  takeGpuTempLine(w(), "temp=123456'C");  // four characters only: 1234
  EXPECT_FLOAT_EQ(w().amp.gpuTemp, 1234);
}

TEST_F(RulesTest, FanTableWithoutRowsRunsAtFullSpeed) {
  root.write("/opt/set/ventola.txt", "; only comments\n;\n");
  ReadVentolaFile(w(), 0);
  ReadVentolaFile(w(), 1);  // missing: table 0's rows
  ASSERT_EQ(w().amp.fanTables[0].size(), 3u);
  EXPECT_EQ(w().amp.fanTables[1].back().percent, 100);
  w().set.FANmode = 1;
  EXPECT_EQ(fanAt(90), std::vector<std::string>{"FN2100;"});
}

TEST_F(RulesTest, TemperatureStagesWarningAlarmAndAfter) {
  sensor1(67.5f);
  EXPECT_EQ(listedErrors(w()), (std::vector<Err>{Err::Temp1Warning}));
  EXPECT_TRUE(queued().empty());
  sensor1(70.1f);
  EXPECT_EQ(listedErrors(w()), (std::vector<Err>{Err::Temp1Alarm}));
  EXPECT_EQ(queued(), (std::vector<std::string>{"MP1;", "AT11;", "AB0;"}));
  sensor1(75);  // still in alarm: nothing more
  EXPECT_TRUE(queued().empty());
  sensor1(68);  // inside the hysteresis: the alarm stays
  EXPECT_EQ(listedErrors(w()), (std::vector<Err>{Err::Temp1Alarm}));
  sensor1(66.9f);
  EXPECT_EQ(listedErrors(w()), (std::vector<Err>{Err::Temp1Recovered}));
  EXPECT_EQ(queued(), std::vector<std::string>{"AB1;"});
  // The after-error waits for the reset key; its recovery switches protection off.
  EXPECT_EQ(GPIO_Errori(w()), 1);
  const auto recovery = queued();
  EXPECT_NE(std::find(recovery.begin(), recovery.end(), std::string("MP0;")), recovery.end());
  EXPECT_EQ(listedErrors(w()), (std::vector<Err>{Err::Temp1Recovered}))
      << "cleared once the recovery has gone out";
}

TEST_F(RulesTest, MutedErrorsStopTheTemperatureChecks) {
  w().errors.errorsMuted = 1;
  sensor1(99);
  EXPECT_TRUE(listedErrors(w()).empty());
  EXPECT_TRUE(queued().empty());
}

TEST_F(RulesTest, TemperatureLogWhileTransmitting) {
  w().set.EnableLOGTemp = 1;
  w().ui.dateTimeText.set("2026-12-08 10:00:00");
  w().amp.statusB = 1;
  LogTempFunction(w(), 0);
  LogTempFunction(w(), 1);
  const std::string text = root.read("/opt/set/LOGtemp.txt");
  EXPECT_EQ(text.rfind(";TX,Temp1,Temp2,FDD,SWR\n2026-12-08 10:00:00 , 1,", 0), 0u) << text;
  EXPECT_NE(text.find(" -> protezione attiva\n"), std::string::npos);
  root.addProgram("rm", "for f; do case \"$f\" in -*) ;; *) /bin/rm -f \"$f\";; esac; done\n");
  LogTempFunction(w(), -1);
  EXPECT_FALSE(std::filesystem::exists(root.path("/opt/set/LOGtemp.txt")));
}

TEST_F(RulesTest, RegistryListsEachNumberOnceAndKeepsTheEXTIOError) {
  AddErrore(w(), Err::Comm);
  AddErrore(w(), Err::Comm);
  EXPECT_EQ(listedErrors(w()), (std::vector<Err>{Err::Comm}));
  AddErrore(w(), Err::ExtIoPortOpen);
  DeleteErrore(w(), Err::ExtIoPortOpen);
  DeleteErrore(w(), Err::AudioRead);  // not listed: nothing
  EXPECT_EQ(listedErrors(w()), (std::vector<Err>{Err::Comm, Err::ExtIoPortOpen}));
  EXPECT_EQ(ExistAnError(w()), Err::Comm);
  EXPECT_EQ(newestError(w()), Err::ExtIoPortOpen);
  AddErrore(w(), static_cast<Err>(99));
  AddErrore(w(), static_cast<Err>(kErrorCount));  // the first past the table
  EXPECT_EQ(listedErrors(w()).size(), 2u);
  EXPECT_EQ(static_cast<int>(w().errors.errorActions), kActionTemporary);  // 25 is red only
}

TEST_F(RulesTest, ResetKeyCases) {
  // Only a temperature alarm: the key does nothing.
  AddErrore(w(), Err::Temp1Alarm);
  w().errors.errorActions = 0;
  EXPECT_EQ(GPIO_Errori(w()), 0);
  EXPECT_EQ(listedErrors(w()), (std::vector<Err>{Err::Temp1Alarm}));
  DeleteErrore(w(), Err::Temp1Alarm);

  // Two temporary warnings: removed, and the key is used.
  AddErrore(w(), Err::Comm);
  AddErrore(w(), Err::RemoteUsb);
  EXPECT_EQ(GPIO_Errori(w()), 1);
  EXPECT_TRUE(listedErrors(w()).empty());
  EXPECT_EQ(static_cast<int>(w().errors.errorActions), 0);
  EXPECT_EQ(w().atu.lastBandApplied, -1);
}

TEST_F(RulesTest, ProtectionRecoveryRunsInThreeSteps) {
  w().amp.alarmBits = 0x02;
  AddErrore(w(), Err::Temp1Warning);  // flags bit 1: asks for the recovery
  ASSERT_EQ(GPIO_Errori(w()), 1);
  EXPECT_EQ(w().amp.cmdQueueDrain, 1);
  EXPECT_EQ(w().amp.errorBurst, 1);
  // The link sends the recovery back to back, then marks it sent.
  std::vector<int> sent;
  for (int next; (next = NextCmdPriority(w(), CmdST)) != CmdST;) sent.push_back(next);
  EXPECT_EQ(sent, (std::vector<int>{CmdCP, CmdMP0, CmdAB1, CmdATstep}));  // bypassed at start
  EXPECT_EQ(w().amp.errorBurst, 2);
  EXPECT_EQ(w().amp.cmdQueueDrain, 0);
  // The next status reply finishes it.
  w().amp.statusValid = 1;
  DecodeCatCmd(w(), "ST00000000000000000020482048000;", 34);
  EXPECT_EQ(w().amp.errorBurst, 0);
  EXPECT_TRUE(listedErrors(w()).empty());
  EXPECT_TRUE(log.contains(">>> ERRORI: End Gest Errori!!"));
}

}  // namespace
}  // namespace corvid

// Status decoding, measurements, calibration files, thresholds and the status text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
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

class MeasureTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::prepareLinkedWorks(w()); }
  // Decodes a status reply built from its fields.
  void status(int a, int b, int in, int fwd, int refl, int current, int t1, int t2, int alarms,
              int c = 0) {
    char text[64];
    std::snprintf(text, sizeof text, "ST%X%X%04d%04d%04d%04d%04d%04d%X%X%X;", a, b, in, fwd, refl,
                  current, t1, t2, alarms & 0xF, (alarms >> 4) & 0xF, c);
    DecodeCatCmd(w(), text, static_cast<int>(std::strlen(text)) + 2);
  }
  std::vector<std::string> queued() { return testing::drainQueue(w()); }
  Works& w() { return *works_; }

  TempRoot root;
  InstantSleep instant;
  LogCatcher log;
  std::unique_ptr<Works> works_ = std::make_unique<Works>();
};

TEST(Swr, FromForwardAndReflectedPower) {
  EXPECT_FLOAT_EQ(CalcolaSWRfromPowers(0.2f, 0.6f), 100.0f);
  EXPECT_FLOAT_EQ(CalcolaSWRfromPowers(0.2f, 0.4f), 0.0f);
  EXPECT_FLOAT_EQ(CalcolaSWRfromPowers(10.0f, 11.0f), 100.0f);
  EXPECT_NEAR(CalcolaSWRfromPowers(100.0f, 4.0f), 1.5f, 1e-5);
  EXPECT_FLOAT_EQ(CalcolaSWRfromPowers(50.0f, 50.0f), 100.0f);
  EXPECT_FLOAT_EQ(CalcolaSWRfromPowers(100.0f, 0.0f), 1.0f);
  EXPECT_FLOAT_EQ(CalcolaSWRfromPowers(100.0f, 99.9f), 100.0f);  // limited
}

TEST(Power, SquareLawAboveTheOffsetAndALineBelow) {
  const float k = 5.156579e-6f;
  EXPECT_FLOAT_EQ(CalcolaWatt(140, 70, k), 4 * k * 140 * 70);
  EXPECT_FLOAT_EQ(CalcolaWatt(140, 1000, k), k * 1140.0f * 1140.0f);
  // The two branches meet at the offset.
  EXPECT_NEAR(CalcolaWatt(140, 139, k), CalcolaWatt(140, 140, k), 4 * k * 140 * 2);
}

TEST(Temperature, FollowsTheNtcTable) {
  EXPECT_NEAR(CalcolaTemp(2048), 25.0f, 0.1f);
  EXPECT_FLOAT_EQ(CalcolaTemp(4095), -10.0f);
  EXPECT_FLOAT_EQ(CalcolaTemp(4000), -10.0f);  // colder than -10 is -10
  EXPECT_FLOAT_EQ(CalcolaTemp(0), 101.0f);
  EXPECT_FLOAT_EQ(CalcolaTemp(200), 101.0f);  // hotter than 100
  // 50 °C: R = 3.635 kΩ.
  EXPECT_NEAR(CalcolaTemp(static_cast<int>(std::lround(4095 * 3.635 / 13.635))), 50.0f, 0.2f);
  // Monotonic: hotter readings never read colder.
  float previous = 200;
  for (int raw = 300; raw < 3800; raw += 7) {
    const float t = CalcolaTemp(raw);
    EXPECT_LE(t, previous) << raw;
    previous = t;
  }
}

TEST_F(MeasureTest, StatusDecodingFillsTheMeasurements) {
  w().core.initDone = 0;  // no fan rule yet
  status(0, 1, 200, 1000, 300, 2048, 2048, 2048, 0);
  EXPECT_EQ(w().amp.statusB, 1);
  EXPECT_NEAR(w().amp.pwrFwd, 5.156579e-6f * 1140 * 1140, 1e-3);
  EXPECT_NEAR(w().amp.pwrIn, 5.5078103e-6f * 350 * 350, 1e-4);
  const float refl = 3.3262754e-6f * 400 * 400 - 0.007f * w().amp.pwrFwd;
  EXPECT_NEAR(w().amp.pwrRefl, refl, 1e-4);
  EXPECT_NEAR(w().amp.swr, CalcolaSWRfromPowers(w().amp.pwrFwd, refl), 1e-4);
  EXPECT_FLOAT_EQ(w().amp.ampCurrentRaw, 2048);
  EXPECT_NEAR(w().amp.temp1, 25.0f, 0.1f);
  // Smoothed: a new reading moves the value a tenth of the way.
  status(0, 0, 0, 0, 0, 0, 1200, 2048, 0);
  EXPECT_NEAR(w().amp.temp1, (9 * 25.0f + CalcolaTemp(1200)) / 10, 0.05f);
  EXPECT_EQ(w().amp.linearProcessStatus, CmdFM);
}

TEST_F(MeasureTest, AlarmsRaiseTheirErrors) {
  status(0, 0, 0, 0, 0, 0, 2048, 2048, 0x11);
  EXPECT_EQ(ExistError(w(), Err::AmpAlarm), 1);
  EXPECT_EQ(errorInfo(w(), Err::AmpAlarm).detail, "FILTER TX");
  status(0, 0, 0, 0, 0, 0, 2048, 2048, 0x41 | 0x20);
  EXPECT_EQ(ExistError(w(), Err::BandStandby), 1);
  EXPECT_EQ(ExistError(w(), Err::InputPower), 1);
  status(0, 2, 0, 0, 0, 0, 2048, 2048, 0);
  EXPECT_EQ(ExistError(w(), Err::AmpAlarm), 0);
  EXPECT_EQ(ExistError(w(), Err::HighSwr), 1);
  status(0, 0, 0, 0, 0, 0, 2048, 2048, 0);
  EXPECT_EQ(ExistError(w(), Err::HighSwr), 0);
  // While errors are muted nothing is raised.
  w().errors.errorsMuted = 1;
  status(0, 2, 0, 0, 0, 0, 2048, 2048, 0x01);
  EXPECT_EQ(ExistError(w(), Err::HighSwr), 0);
  EXPECT_EQ(ExistError(w(), Err::AmpAlarm), 0);
}

TEST_F(MeasureTest, BypassAndAttenuatorFollowTheAmplifier) {
  status(0x0C, 0x08, 0, 0, 0, 0, 2048, 2048, 0);
  EXPECT_EQ(w().amp.ampBypass, 1);
  EXPECT_EQ(w().atu.attStep, 3);
  EXPECT_EQ(w().atu.attSelect, 3);
  EXPECT_TRUE(log.contains("STATE DA ERRORE : attenuatore 3dB=on 2dB=on"));
  status(0x04, 0, 0, 0, 0, 0, 2048, 2048, 0);
  EXPECT_EQ(w().amp.ampBypass, 0);
  EXPECT_EQ(w().atu.attStep, 1);
  // While a tuning runs the pads are not followed.
  w().atu.tuneState = TuneState::AlarmHit;
  status(0x08, 0, 0, 0, 0, 0, 2048, 2048, 0);
  EXPECT_EQ(w().atu.attStep, 1);
  EXPECT_EQ(w().amp.linearProcessStatus, CmdCP);
  EXPECT_EQ(w().atu.tuneState, TuneState::Tuning);
}

TEST_F(MeasureTest, ShortOrBrokenRepliesReadNothingPastTheirEnd) {
  DecodeCatCmd(w(), "ST0;", 6);  // too short for a status reply
  EXPECT_TRUE(log.contains("cmd non riconosciuto"));
  DecodeCatCmd(w(), "ER0002;", 9);
  DecodeCatCmd(w(), "ER00032;", 10);
  DecodeCatCmd(w(), "FM12;", 7);
  EXPECT_EQ(w().amp.ampFreq, 0u);
  DecodeCatCmd(w(), "AT9;", 6);
  DecodeCatCmd(w(), "GS0123456789ABCDEF;", 21);
  EXPECT_EQ(w().amp.generalSettings.get(), "0123456789");
  DecodeCatCmd(w(), "GS01;", 7);
  EXPECT_TRUE(log.contains("ERRORE!! Impostazioni Generali"));
  // Non-hexadecimal flags read as all bits set.
  DecodeCatCmd(w(), "STxx0000000000000000204820480000;", 36);
  EXPECT_EQ(w().amp.statusA, 0xFF);
}

TEST_F(MeasureTest, EepromPagesAndTheMultiplier) {
  DecodeCatCmd(w(), "ER00023131AABBCCDDEEFF;", 25);
  EXPECT_EQ(w().amp.ampModelAux, 0x31);
  EXPECT_EQ(w().amp.ampModel, '1');
  EXPECT_EQ(w().ui.number_ofStep_meter_FWD, 120);
  EXPECT_EQ(w().amp.eeprom.page2[0], 0xAA);
  // "1.25" as hex bytes, then "2.5".
  w().amp.powerMultiplier = 1.0;
  DecodeCatCmd(w(), "ER0003312E3235000000000000000000;", 35);
  EXPECT_DOUBLE_EQ(w().amp.powerMultiplier, 1.25);
  DecodeCatCmd(w(), "ER0003322E35000000000000000000;", 33);
  EXPECT_DOUBLE_EQ(w().amp.powerMultiplier, 1.25);
}

TEST_F(MeasureTest, CalibrationFilesAndThresholds) {
  root.write("/opt/set/config_offset.txt", "KostPWRIN: 0x10\nKostFORW: 010\nKostREFL: 90\r\n");
  LoadConfigOffsetFile(w());
  EXPECT_EQ(w().amp.KostPWRIN, 16);
  EXPECT_EQ(w().amp.KostFORW, 8);
  EXPECT_EQ(w().amp.KostREFL, 90);
  root.write(
      "/opt/set/config.txt",
      "; low high fwdW fwdRaw reflW reflRaw inW inRaw corr thIn thI thRefl thFwd\n"
      "1800000 2000000 100 1992 50 1910 10 1410 -0.01 20 20 100 600 1 2 3 4 5 6 7 8 9 10 11\n"
      "3500000 4000000 100 1992 50 1910 10 1410 -0.01 10 25 50 500\n"
      "garbage row\n"
      "30000000 54000000 1 1 1 1 1 1 0 1 1 1 1\n");
  ReadConfigFile(w());
  ASSERT_EQ(w().amp.configRows.size(), 3u);
  EXPECT_TRUE(log.contains("config.txt line 4 skipped"));
  EXPECT_EQ(w().amp.configRows[0].extraA[0], 1);
  EXPECT_EQ(w().amp.configRows[0].extraB[0], 2);
  EXPECT_EQ(w().amp.configRows[0].extraLast, 11);
  EXPECT_FLOAT_EQ(w().amp.configRows[0].kForward, 100.0f / (2000.0f * 2000.0f));

  w().amp.tsRow = -1;
  w().ui.trxFreq = 1850000;
  SearchCambioSoglie_TS(w());
  w().ui.trxFreq = 1900000;  // same range: nothing new
  SearchCambioSoglie_TS(w());
  const auto first = queued();
  ASSERT_EQ(first.size(), 1u);
  // Offsets 16, 8, 90: input sqrt(20 / (10 / 1426²)) = 2016; forward sqrt(600 / (100 / 2000²))
  // = 4899 and current 20 A = 5830 counts are limited to 4095; reflected 2828.
  EXPECT_EQ(first[0],
            "TS"
            "2016"
            "4095"
            "2828"
            "4095"
            ";");
  w().ui.trxFreq = 3600000;
  SearchCambioSoglie_TS(w());
  EXPECT_EQ(queued().size(), 1u);
  EXPECT_FLOAT_EQ(SearchK(w(), KostForward), w().amp.configRows[1].kForward);
  w().ui.trxFreq = 60000000;  // past the last row: no constant
  EXPECT_FLOAT_EQ(SearchK(w(), KostForward), 1.0f);
}

TEST_F(MeasureTest, MissingCalibrationUsesBuiltInValues) {
  LoadConfigOffsetFile(w());
  EXPECT_EQ(w().amp.KostFORW, 140);
  EXPECT_EQ(root.read("/opt/set/config_offset.txt"),
            "KostPWRIN: 150\nKostFORW: 140\nKostREFL: 100\n");
  ReadConfigFile(w());
  EXPECT_TRUE(log.contains("can't open /opt/set/config.txt"));
  EXPECT_FLOAT_EQ(SearchK(w(), KostReflected), 3.3262754e-6f);
  w().amp.tsRow = -1;
  SearchCambioSoglie_TS(w());
  EXPECT_EQ(queued(), (std::vector<std::string>{"TS4095409515003700;"}));
  SearchCambioSoglie_TS(w());
  EXPECT_TRUE(queued().empty());
}

TEST_F(MeasureTest, StatusTextByteForByte) {
  w().core.version = "01.046";
  w().amp.ampFwVersion.set("1.02.03");
  w().bands.freqInterface = FreqInterface::Ft817;
  w().atu.attStep = 1;
  w().set.NumAntenna = 2;
  w().amp.ampBypass = 1;
  w().amp.swr = 1.5f;
  w().amp.pwrFwd = 123.456f;
  w().amp.pwrIn = 4.5f;
  w().amp.temp1 = 31.0f;
  w().amp.temp2 = 42.5f;
  w().ui.tinyVamp = 200;
  w().amp.ampCurrentRaw = 2048;
  w().set.NumBanco = 3;
  for (Err e : {Err::HighSwr, Err::InputPower, Err::Comm, Err::RemoteUsb, Err::TuneTimeout,
                Err::TuneSwrWarning, Err::BandStandby}) {
    AddErrore(w(), e);
  }
  char text[kStatusTextSize];
  ASSERT_EQ(CreaBufferDiStato(w(), text), 59);
  EXPECT_EQ(std::string(text, 42), "----2121T0001.50123.46004.5042.517.007.003");
  EXPECT_EQ(text[42], 20) << "the newest error number plus one, as a byte";
  EXPECT_EQ(std::string(text + 43, 14), "01.046 1.02.03");
  EXPECT_EQ(text[57], 0);
  EXPECT_EQ(text[58], ';');
  EXPECT_EQ(text[59], '\0');
}

}  // namespace
}  // namespace corvid

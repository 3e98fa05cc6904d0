// The amplifier micro simulator's own pieces: the CRC and framing, the fault words, the
// detectors and heat sinks, the micro's replies and the status layout, and the poll
// figures read from a wire log.
#include "sim/amp_micro.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "sim/micro_faults.h"
#include "sim/micro_protocol.h"
#include "sim/poll_figures.h"

namespace corvid::bench::test {
namespace {

using namespace std::chrono_literals;

// ---------------------------------------------------------------------------------------
// CRC and framing

TEST(MicroProtocol, Crc8MaximMatchesItsCheckValueAndTheControllersFrames) {
  EXPECT_EQ(crc8Maxim("123456789"), 0xA1);
  EXPECT_EQ(crc8Maxim(""), 0x00);
  // As the controller frames its status poll on the wire.
  EXPECT_EQ(frameCommand("ST;"), "4dST;");
  EXPECT_EQ(frameReply("ST;"), "4DST;");
  EXPECT_EQ(frameCommand("CPFFFF;"), "7dCPFFFF;");
  EXPECT_EQ(checksumDigits("FM;", DigitCase::Lower), "6c");
}

TEST(MicroProtocol, FrameCheckNamesWhatIsWrong) {
  EXPECT_EQ(checkFrame("4dST;"), FrameCheck::Ok);
  EXPECT_EQ(checkFrame("4DST;"), FrameCheck::UpperCaseDigits) << "the controller writes lower case";
  EXPECT_EQ(checkFrame("4eST;"), FrameCheck::WrongChecksum);
  EXPECT_EQ(checkFrame("4dSX;"), FrameCheck::WrongChecksum);
  EXPECT_EQ(checkFrame("g4ST;"), FrameCheck::NotHex);
  EXPECT_EQ(checkFrame("4d;"), FrameCheck::WrongChecksum);
  EXPECT_EQ(checkFrame(frameCommand(";")), FrameCheck::Ok);
  EXPECT_EQ(checkFrame("4;"), FrameCheck::TooShort);
  EXPECT_EQ(checkFrame(";"), FrameCheck::TooShort);
  EXPECT_EQ(checkFrame(std::string(kMaxFrameBytes + 1, 'a')), FrameCheck::Overlong);
}

TEST(MicroProtocol, ParserCutsFramesAcrossReadsAndDropsOverlongNoise) {
  FrameParser parser;
  std::vector<Frame> frames;
  // The controller writes the two digits and the text separately.
  parser.feed("4d", frames);
  EXPECT_TRUE(frames.empty());
  EXPECT_EQ(parser.pending(), 2u);
  parser.feed("ST;6cFM;7d", frames);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].bytes, "4dST;");
  EXPECT_EQ(frames[0].text(), "ST;");
  EXPECT_EQ(frames[1].bytes, "6cFM;");
  EXPECT_EQ(frames[1].check, FrameCheck::Ok);
  EXPECT_EQ(parser.pending(), 2u);

  frames.clear();
  FrameParser noisy;
  noisy.feed(std::string(kMaxFrameBytes + 10, 'x') + "4dST;", frames);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].check, FrameCheck::Overlong);
  EXPECT_EQ(frames[0].bytes.size(), kMaxFrameBytes);
  EXPECT_EQ(frames[1].check, FrameCheck::NotHex) << "the rest of the noise leads it";
  noisy.feed("4dST;", frames);
  EXPECT_EQ(frames.back().check, FrameCheck::Ok) << "in step again";
}

TEST(MicroProtocol, PrintableEscapesEverythingOutsideAscii) {
  EXPECT_EQ(printable("4dST;"), "4dST;");
  EXPECT_EQ(printable(std::string("a\r\n\0\xFF\\", 6)), "a\\x0D\\x0A\\x00\\xFF\\\\");
}

// ---------------------------------------------------------------------------------------
// Fault words

MicroFaults parseWords(std::string_view text, std::vector<std::string>* errors = nullptr) {
  return microFaultsOf(Faults::parse(text), errors);
}

TEST(MicroFaultWords, EveryWordAndScope) {
  std::vector<std::string> errors;
  const MicroFaults faults = parseWords(
      "amp-silent:FM amp-refuse amp-bad-crc:MT amp-lower-crc amp-garbage:ST amp-semicolon:GS\n"
      "amp-overlong:ER amp-late:250 amp-alarm:21 amp-alarm:80 amp-high-swr amp-reset\n"
      "amp-temp1:71.5 amp-temp2:-12 mount-rw my_temp=3 # amp-silent\n",
      &errors);
  EXPECT_TRUE(errors.empty()) << errors.front();
  const std::vector<ScopedReplyFault> replies = {
      {ReplyFault::Silent, "FM"},      {ReplyFault::Refused, ""},
      {ReplyFault::BadChecksum, "MT"}, {ReplyFault::LowerCaseChecksum, ""},
      {ReplyFault::Garbage, "ST"},     {ReplyFault::Semicolon, "GS"},
      {ReplyFault::Overlong, "ER"}};
  EXPECT_EQ(faults.replies, replies);
  EXPECT_EQ(faults.late, 250ms);
  EXPECT_EQ(faults.alarmBits, 0xA1);
  EXPECT_TRUE(faults.highSwr);
  EXPECT_TRUE(faults.microReset);
  EXPECT_EQ(faults.temp1, 71.5);
  EXPECT_EQ(faults.temp2, -12.0);
  // The first matching word decides; a scope matches the command's letters only.
  EXPECT_EQ(faults.replyFaultFor("FM;"), ReplyFault::Silent);
  EXPECT_EQ(faults.replyFaultFor("ST;"), ReplyFault::Refused);
  EXPECT_EQ(parseWords("amp-refuse:MT").replyFaultFor("MT100000000;"), ReplyFault::Refused);
  EXPECT_EQ(parseWords("amp-refuse:MT").replyFaultFor("MP0;"), std::nullopt);
  // Written back, the words give the same faults.
  std::string words;
  for (const std::string& word : faults.words()) words += word + "\n";
  EXPECT_EQ(parseWords(words), faults);
}

TEST(MicroFaultWords, BadWordsAreReportedAndDropped) {
  for (const char* word :
       {"amp-bogus", "amp-refuse:st", "amp-refuse:STX", "amp-silent:", "amp-late:x",
        "amp-late:20000", "amp-alarm:1", "amp-alarm:GG", "amp-temp1:hot", "amp-temp1:200",
        "amp-temp2", "amp-reset:1", "amp-temp1=75"}) {
    std::vector<std::string> errors;
    EXPECT_EQ(parseWords(word, &errors), MicroFaults{}) << word;
    EXPECT_EQ(errors.size(), 1u) << word;
  }
}

TEST(MicroFaultWords, MergedSetsKeepBothAndTheFilesValuesWin) {
  MicroFaults api;
  api.replies = {{ReplyFault::Refused, "ST"}};
  api.temp1 = 50;
  api.alarmBits = 0x01;
  MicroFaults file;
  file.replies = {{ReplyFault::Silent, ""}};
  file.temp1 = 80;
  file.highSwr = true;
  file.alarmBits = 0x80;
  const MicroFaults merged = api.mergedWith(file);
  EXPECT_EQ(merged.replyFaultFor("ST;"), ReplyFault::Silent) << "the file's words come first";
  EXPECT_EQ(merged.replies.size(), 2u);
  EXPECT_EQ(merged.temp1, 80.0);
  EXPECT_TRUE(merged.highSwr);
  EXPECT_EQ(merged.alarmBits, 0x81);
}

// ---------------------------------------------------------------------------------------
// Detectors, sensors, power stage, heat sinks

TEST(AmpPhysics, DetectorsReadRightWithTheControllersDefaultCalibration) {
  // About 3265 is 60 W forward.
  EXPECT_EQ(rawOfPower(60.0, kForwardDetector), 3271);
  EXPECT_NEAR(powerOfRaw(3265, kForwardDetector), 59.8, 0.05);
  for (const Detector& detector : {kInputDetector, kForwardDetector, kReflectedDetector}) {
    for (const double watts : {0.05, 0.5, 2.0, 10.0, 40.0}) {
      const double back = powerOfRaw(rawOfPower(watts, detector), detector);
      EXPECT_NEAR(back, watts, std::max(0.01 * watts, 0.003)) << watts;
    }
  }
  // Below the knee the straight line: 4 K offset raw.
  EXPECT_EQ(rawOfPower(4 * kForwardDetector.k * 140 * 70, kForwardDetector), 70);
  EXPECT_EQ(rawOfPower(0, kForwardDetector), 0);
  EXPECT_EQ(rawOfPower(500, kForwardDetector), kRawMax) << "the converter tops out";
  EXPECT_EQ(rawOfCurrent(14.05), 4095);
  EXPECT_EQ(rawOfCurrent(7.025), 2048);
}

TEST(AmpPhysics, TemperatureSensorFollowsTheNtcTable) {
  EXPECT_EQ(rawOfTemperature(25.0), 2048);  // 10 kΩ against 10 kΩ: half scale
  EXPECT_NEAR(rawOfTemperature(70.0), 4095.0 * 1.783 / 11.783, 0.5);
  int previous = 4096;
  for (int step = 0; step <= 54; ++step) {
    const double celsius = -35.0 + 2.5 * step;
    const int raw = rawOfTemperature(celsius);
    EXPECT_LT(raw, previous) << "hotter reads lower: " << celsius;
    previous = raw;
    EXPECT_NEAR(temperatureOfRaw(raw), celsius, 0.1) << celsius;
  }
}

TEST(AmpPhysics, PowerStageGainSaturationPadsAndBypass) {
  StageInput in;
  in.driveWatts = 10;
  in.inPath = true;
  in.reflection = reflectionOfSwr(1.5);
  const RfState full = computeRf(AmpModel::Watts60, in);
  EXPECT_TRUE(full.transmitting);
  EXPECT_NEAR(full.forwardWatts, 54.8, 0.2);
  EXPECT_LT(full.forwardWatts, stageOf(AmpModel::Watts60).saturationWatts);
  EXPECT_NEAR(full.reflectedWatts / full.forwardWatts, 0.04, 1e-9);  // SWR 1.5
  EXPECT_GT(full.dissipationWatts, 0);
  EXPECT_NEAR(full.currentAmps, 1.0 + full.forwardWatts / (13.8 * 0.5), 1e-9);

  in.pads = 3;  // both pads: 5 dB less drive
  EXPECT_LT(computeRf(AmpModel::Watts60, in).forwardWatts, full.forwardWatts / 2);
  in.pads = 0;
  EXPECT_GT(computeRf(AmpModel::Watts120, in).forwardWatts, 100);

  in.inPath = false;
  const RfState bypassed = computeRf(AmpModel::Watts60, in);
  EXPECT_DOUBLE_EQ(bypassed.forwardWatts, 10);
  EXPECT_EQ(bypassed.currentAmps, 0);
  EXPECT_EQ(bypassed.dissipationWatts, 0);

  in.driveWatts = 0;
  EXPECT_FALSE(computeRf(AmpModel::Watts60, in).transmitting);
  EXPECT_DOUBLE_EQ(swrOfReflection(reflectionOfSwr(2.5)), 2.5);
}

TEST(AmpPhysics, HeatSinksWarmWithDissipationAndCoolWithTheFan) {
  HeatSinks sinks;
  EXPECT_EQ(sinks.temperature(0), 25.0);
  sinks.advance(1.0, 60.0, 0);
  const double afterOne = sinks.temperature(0);
  EXPECT_GT(afterOne, 25.0);
  EXPECT_GT(sinks.temperature(0), sinks.temperature(1)) << "sink 1 takes the larger share";
  sinks.advance(1.0, 60.0, 0);
  EXPECT_GT(sinks.temperature(0), afterOne);
  EXPECT_LT(sinks.settling(0, 60, 100), sinks.settling(0, 60, 70));
  EXPECT_LT(sinks.settling(0, 60, 70), sinks.settling(0, 60, 0));
  sinks.advance(30.0, 60.0, 0);  // six time constants
  EXPECT_NEAR(sinks.temperature(0), sinks.settling(0, 60, 0), 0.5);
  // The fan at full speed, no more heat: back down towards ambient.
  const double hot = sinks.temperature(0);
  sinks.advance(2.0, 0.0, 100);
  EXPECT_LT(sinks.temperature(0), hot);
  EXPECT_GT(sinks.temperature(0), 25.0);
  const double now = sinks.temperature(0);
  sinks.advance(0.0, 500.0, 0);
  sinks.advance(-1.0, 500.0, 0);
  EXPECT_EQ(sinks.temperature(0), now) << "no time, no change";
}

// ---------------------------------------------------------------------------------------
// The micro's replies

const SimClock::time_point kT0{};

TEST(AmpMicroReplies, EveryCommandAtPowerOn) {
  AmpMicro micro;
  struct Row {
    const char* command;
    const char* reply;
  };
  const Row rows[] = {
      {"VSM;", "VSM1.02.03;"},
      {"SA2;", "SA2;"},
      {"FM;", "FM000014070000;"},
      {"FA00001800000;", "FA00001800000;"},
      {"MT;", "MT00000000;"},
      {"MT100810A0F;", "MT00810A0F;"},
      {"MT;", "MT00810A0F;"},
      {"FS00001;", "FS00001;"},
      {"CPFFFF;", "CPFFFF;"},
      {"AT10;", "AT10;"},
      {"MP0;", "MP0;"},
      {"AB0;", "AB0;"},
      {"AN2;", "AN2;"},
      {"TS4095409515003700;", "TS4095409515003700;"},
      {"FN2050;", "FN2050;"},
      {"PS0001100000000000;", "PS0001100000000000;"},
      {"SF300001f;", "SF300001f;"},
      {"MR0;", "MR0;"},
      {"GM00020100;", "GM00020100;"},
      {"GS;", "GS0000000000;"},
      {"GS0200000000;", "GS0200000000;"},
      {"GS;", "GS0200000000;"},
      {"ER0002;", "ER00023030014600005AA5;"},
      {"ER0003;", "ER0003312E303030303030303030;"},
      {"CM0.950000000;", "CM0.950000000;"},
  };
  for (const Row& row : rows) EXPECT_EQ(micro.answer(row.command, kT0), row.reply) << row.command;
  const std::optional<std::string> page0 = micro.answer("ER0000;", kT0);
  ASSERT_TRUE(page0);
  EXPECT_EQ(page0->size(), 6u + 64u + 1u);
  EXPECT_TRUE(page0->starts_with("ER0000101112"));

  const MicroSettings& s = micro.settings();
  EXPECT_EQ(s.selectedAntenna, 2);
  EXPECT_EQ(s.antennaInUse, 2);
  EXPECT_EQ(s.frequency, 1800000u);
  EXPECT_EQ(s.tuneValue, 0x00810A0Fu);
  EXPECT_EQ(s.pads, 2);
  EXPECT_FALSE(s.protectionOn);
  EXPECT_FALSE(s.bypassed);
  EXPECT_EQ(s.thresholds, (std::array<int, 4>{4095, 4095, 1500, 3700}));
  EXPECT_EQ(s.fanMode, 2);
  EXPECT_EQ(s.fanPercent, 50);
  EXPECT_EQ(s.filterRelays, 0x1F);
  EXPECT_EQ(s.counterPeriod, 1);
  EXPECT_EQ(s.multiplier, "0.950000000");
  EXPECT_EQ(micro.refusedCount(), 0);
}

TEST(AmpMicroReplies, UnknownAndMalformedCommandsAreRefused) {
  AmpMicro micro;
  const MicroSettings before = micro.settings();
  struct Row {
    const char* command;
    const char* reply;
  };
  const Row rows[] = {
      {"XX;", "XX?;"},
      {"S;", "S;?;"},
      {"SA4;", "SA!;"},
      {"SA10;", "SA!;"},
      {"MT10080000g;", "MT!;"},
      {"MT200000000;", "MT!;"},
      {"SF300001F;", "SF!;"},
      {"SF4000010;", "SF!;"},
      {"AT12;", "AT!;"},
      {"MP2;", "MP!;"},
      {"FN1101;", "FN!;"},
      {"FN3050;", "FN!;"},
      {"TS5000409515003700;", "TS!;"},
      {"TS409540951500370;", "TS!;"},
      {"FA1800000;", "FA!;"},
      {"ER0004;", "ER!;"},
      {"CM1;", "CM!;"},
      {"CM.5;", "CM!;"},
      {"GS01;", "GS!;"},
      {"ST1;", "ST!;"},
      {"VS;", "VS!;"},
      {"MR2;", "MR!;"},
      {"CP0000;", "CP!;"},
  };
  int count = 0;
  for (const Row& row : rows) {
    EXPECT_EQ(micro.answer(row.command, kT0), row.reply) << row.command;
    EXPECT_EQ(micro.refusedCount(), ++count);
    EXPECT_EQ(micro.lastRefused(), row.command);
  }
  EXPECT_EQ(micro.settings(), before) << "a refused command changes nothing";
}

TEST(AmpMicroReplies, StatusLayoutPutsEachReadingInItsPlace) {
  AmpMicro micro;
  // Idle at power-on: bypassed, cold, nothing measured.
  EXPECT_EQ(micro.statusText(), "ST0800000000000000002048204800000000;");

  micro.answer("AT11;", kT0);
  micro.answer("AB0;", kT0);
  micro.setLoadSwr(1.5);
  micro.key(10.0);
  MicroFaults faults;
  faults.alarmBits = 0x21;
  faults.temp1 = 60.0;
  const std::string st = micro.statusText(faults);
  ASSERT_EQ(st.size(), 37u) << st;
  EXPECT_EQ(st.substr(0, 2), "ST");
  EXPECT_EQ(st[2], 'C') << "both pads: bits 3 and 2";
  EXPECT_EQ(st[3], '1') << "transmitting, amplifier in";
  auto field = [&](size_t at) { return std::stoi(st.substr(at, 4)); };
  const RfState rf = micro.rf();
  EXPECT_NEAR(powerOfRaw(field(4), kInputDetector), 10.0, 0.05);
  EXPECT_NEAR(powerOfRaw(field(8), kForwardDetector), rf.forwardWatts, 0.2);
  // The reflected detector also sees the coupler's leakage, which the controller's
  // correction constant takes out again.
  const double reflected = powerOfRaw(field(12), kReflectedDetector) - 0.007 * rf.forwardWatts;
  EXPECT_NEAR(reflected / rf.forwardWatts, 0.04, 0.002);
  EXPECT_EQ(field(16), rawOfCurrent(rf.currentAmps));
  EXPECT_EQ(field(20), rawOfTemperature(60.0));
  EXPECT_EQ(field(24), rawOfTemperature(micro.heatSink(1)));
  EXPECT_EQ(st[28], '1') << "low digit of the alarm bits";
  EXPECT_EQ(st[29], '2') << "high digit";
  EXPECT_EQ(st[30], '0');
  EXPECT_EQ(field(32), field(8)) << "the peak of a steady carrier";
  EXPECT_EQ(st[36], ';');

  faults = {};
  faults.highSwr = true;
  faults.microReset = true;
  micro.unkey();
  const std::string flagged = micro.statusText(faults);
  EXPECT_EQ(flagged[3], '2');
  EXPECT_EQ(flagged[29], '8');
}

TEST(AmpMicroReplies, HighSwrBitFollowsTheLoad) {
  AmpMicro micro;
  micro.answer("AB0;", kT0);
  micro.key(10.0);
  micro.setLoadSwr(3.5);
  EXPECT_EQ(micro.statusText()[3], '3');
  micro.setLoadSwr(2.0);
  EXPECT_EQ(micro.statusText()[3], '1');
  micro.answer("AB1;", kT0);
  micro.key(0.5);  // bypassed, 0.5 W at the output: too little for the SWR to count
  micro.setLoadSwr(3.5);
  EXPECT_EQ(micro.statusText()[3], '9');
}

TEST(AmpMicroReplies, ProtectionLatchesOnAThresholdUntilCp) {
  AmpMicro micro;
  micro.answer("AB0;", kT0);
  micro.answer("TS4095409515003700;", kT0);
  micro.answer("MP1;", kT0);
  micro.setLoadSwr(4.0);  // a third of 55 W comes back: far above raw 1500
  micro.key(10.0);
  micro.advance(kT0 + 10ms);
  EXPECT_TRUE(micro.settings().protectionLatched);
  std::string st = micro.statusText();
  EXPECT_EQ(st[3], '7') << "transmitting, high SWR, protection latched";
  EXPECT_EQ(st[28], '2') << "the reflected-power alarm";
  EXPECT_DOUBLE_EQ(micro.rf().forwardWatts, 10.0) << "the stage out of the path";

  micro.answer("MP0;", kT0);
  micro.answer("CPFFFF;", kT0);
  micro.advance(kT0 + 20ms);
  st = micro.statusText();
  EXPECT_EQ(st[3], '3') << "in again; the high-SWR bit stays";
  EXPECT_EQ(st[28], '0');
  EXPECT_GT(micro.rf().forwardWatts, 50.0);
}

TEST(AmpMicroReplies, MicroResetIsSilentThenReportsUntilMr0) {
  AmpMicro micro;
  micro.answer("SA3;", kT0);
  micro.answer("AB0;", kT0);
  EXPECT_EQ(micro.answer("MR1;", kT0), std::nullopt) << "no reply: the micro restarts";
  EXPECT_EQ(micro.answer("ST;", kT0 + kRestartSilence - 1ms), std::nullopt);
  const std::optional<std::string> st = micro.answer("ST;", kT0 + kRestartSilence);
  ASSERT_TRUE(st);
  EXPECT_EQ((*st)[29], '8') << "alarm bit 7";
  EXPECT_EQ((*st)[3], '8') << "power-on: bypassed";
  EXPECT_EQ(micro.settings().selectedAntenna, 1);
  EXPECT_EQ(micro.answer("MR0;", kT0 + kRestartSilence), "MR0;");
  EXPECT_EQ(micro.statusText()[29], '0');
}

TEST(AmpMicroReplies, ModelPageAndHeatFromTransmitting) {
  AmpMicro big(AmpModel::Watts120);
  const std::optional<std::string> page2 = big.answer("ER0002;", kT0);
  ASSERT_TRUE(page2);
  EXPECT_EQ(page2->substr(6, 4), "3031") << "ampModel '1': the 120 W model";

  AmpMicro micro;
  micro.answer("AB0;", kT0);
  micro.answer("FN1000;", kT0);
  micro.key(10.0);
  const int cold = std::stoi(micro.statusText().substr(20, 4));
  micro.advance(kT0 + 5s);
  const int warm = std::stoi(micro.statusText().substr(20, 4));
  EXPECT_LT(warm, cold) << "warmer reads lower";
  micro.unkey();
  micro.answer("FN1100;", kT0);
  micro.advance(kT0 + 10s);
  EXPECT_GT(std::stoi(micro.statusText().substr(20, 4)), warm);
}

// ---------------------------------------------------------------------------------------
// Poll figures

WireEntry entry(double ms, WireDirection direction, const std::string& text) {
  const std::string bytes =
      direction == WireDirection::FromController ? frameCommand(text) : frameReply(text);
  return {SimClock::time_point{} + std::chrono::microseconds(static_cast<long>(ms * 1000)),
          direction, bytes, FrameCheck::Ok};
}

TEST(PollFigures, StartupSpacingAndSteadyRates) {
  std::vector<WireEntry> wire;
  double t = 0;
  auto exchange = [&](const std::string& command, double gapMs) {
    wire.push_back(entry(t, WireDirection::FromController, command));
    wire.push_back(entry(t + 0.1, WireDirection::ToController, command));
    t += gapMs;
  };
  exchange("ST;", 10);
  exchange("VSM;", 20);
  exchange("ST;", 10);
  exchange("ER0000;", 20);
  exchange("ST;", 10);
  exchange("ST;", 10);  // two polls before the next command
  exchange("CM1.000000000;", 20);
  for (int i = 0; i < 50; ++i) {
    exchange("ST;", 10.1);
    exchange("FM;", 20.1);
  }
  const PollFigures f = measurePolls(wire, 1000ms);
  ASSERT_TRUE(f.startupComplete);
  EXPECT_EQ(f.startupCommands, 3u);
  EXPECT_EQ(f.pollsBetweenMin, 1u);
  EXPECT_EQ(f.pollsBetweenMax, 2u);
  EXPECT_DOUBLE_EQ(f.pollsBetweenMean, 1.5);
  EXPECT_NEAR(f.startupSeconds, 0.0801, 1e-6);
  EXPECT_EQ(f.statusPolls, 33u);  // 30 ms a pair, in the 1 s after the CM reply
  EXPECT_NEAR(f.pollsPerSecond, 33.0, 0.5);
  EXPECT_NEAR(f.afterStatusReply.meanMs, 10.0, 0.01);
  EXPECT_NEAR(f.afterOtherReply.meanMs, 20.0, 0.01);
  EXPECT_NEAR(f.turnaround.maxMs, 0.1, 0.002);
  EXPECT_NE(formatFigures(f).find("status polls/s"), std::string::npos);

  wire.resize(8);  // cut before the CM reply
  EXPECT_FALSE(measurePolls(wire, 1000ms).startupComplete);
}

TEST(MicroFaultWords, StatusCBitsReachTheStatusReply) {
  std::vector<std::string> errors;
  const MicroFaults faults = parseWords("amp-status-c:8 amp-status-c:1", &errors);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(faults.statusCBits, 0x09);
  EXPECT_EQ(faults.words(), std::vector<std::string>{"amp-status-c:9"});
  AmpMicro micro;
  const std::string status = micro.statusText(faults);
  ASSERT_GT(status.size(), 30u) << status;
  EXPECT_EQ(status[30], '9') << status;
  EXPECT_EQ(micro.statusText()[30], '0');
  for (const char* word : {"amp-status-c", "amp-status-c:G", "amp-status-c:10", "amp-status-c:"}) {
    errors.clear();
    EXPECT_EQ(parseWords(word, &errors), MicroFaults{}) << word;
    EXPECT_EQ(errors.size(), 1u) << word;
  }
  MicroFaults api;
  api.statusCBits = 0x08;
  EXPECT_EQ(MicroFaults{}.mergedWith(api).statusCBits, 0x08);
}

}  // namespace
}  // namespace corvid::bench::test

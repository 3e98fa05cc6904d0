// The amplifier link on the wire, the reply decoder and the measurements.
#include "amp/amp.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

#include "amp/link.h"
#include "core/works.h"
#include "errors/errors.h"
#include "tests/unit/fake_micro.h"
#include "tests/unit/test_support.h"

namespace corvid {

namespace testing {
std::string defaultReply(const std::string& command) {
  const std::string letters = command.substr(0, 2);
  if (letters == "ST") return microFrame("ST00000100020003000020482048000;");
  if (letters == "FM") return microFrame("FM000014070000;");
  if (letters == "VS") return microFrame("VSM01.02.3;");
  if (letters == "ER") return microFrame(command.substr(0, 6) + std::string(64, '0') + ";");
  return microFrame(command);  // most commands are acknowledged by echoing them
}
}  // namespace testing

namespace {

using testing::FakeMicro;
using testing::InstantSleep;
using testing::LogCatcher;
using testing::microFrame;

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitGlobalVar(w());
    initErrorTable(w());
    w().errors.errorsMuted = 0;
    w().amp.linearProcessStatus = CmdST;
  }
  // Runs the link until n commands have been written.
  void runUntil(FakeMicro& micro, size_t n, int maxSteps = 200000) {
    for (int i = 0; i < maxSteps && micro.commands.size() < n; ++i) {
      linkStep(w(), micro, receiver);
    }
  }
  Works& w() { return *works_; }

  InstantSleep instant;
  LogCatcher log;
  LinkReceiver receiver;
  std::unique_ptr<Works> works_ = std::make_unique<Works>();
};

TEST(Crc8, IsTheMaximOneWireCrc) {
  EXPECT_EQ(Sys_Crc8Calculation(std::string_view("123456789")), 0xA1);
  EXPECT_EQ(Sys_Crc8Calculation(std::string_view("")), 0x00);
  // The link's and the bench's own checksum agree on every command text the link sends.
  for (const char* text : {"ST;", "FM;", "VSM;", "MT100045884;", "TS4095409515003700;",
                           "FA00014070000;", "SF3000004;", "GS0123456789;"}) {
    EXPECT_EQ(Sys_Crc8Calculation(std::string_view(text)), bench::crc8Maxim(text)) << text;
  }
}

TEST_F(LinkTest, FramesAreLowerCaseDigitsThenTheText) {
  FakeMicro micro(testing::defaultReply);
  w().amp.statusValid = 1;
  runUntil(micro, 1);
  ASSERT_EQ(micro.frames.size(), 1u);
  EXPECT_EQ(micro.frames[0], bench::frameCommand("ST;"));
  EXPECT_TRUE(micro.badFrames.empty());
}

TEST_F(LinkTest, IdlePollingAlternatesStatusAndFrequency) {
  FakeMicro micro(testing::defaultReply);
  w().amp.statusValid = 1;
  runUntil(micro, 6);
  EXPECT_EQ(micro.commands, (std::vector<std::string>{"ST;", "FM;", "ST;", "FM;", "ST;", "FM;"}));
  EXPECT_EQ(w().amp.ampFreq, 14070000u);
}

TEST_F(LinkTest, StartUpCommandsGoOutOnePerStatusPoll) {
  FakeMicro micro(testing::defaultReply);
  InitMicroCmd(w());
  runUntil(micro, 42);
  const std::vector<std::string> expected = {"ST;", "VSM;",
                                             "ST;", "ER0000;",
                                             "ST;", "ER0001;",
                                             "ST;", "ER0002;",
                                             "ST;", "ER0003;",
                                             "ST;", "MP0;",
                                             "ST;", "TS4095409515003700;",
                                             "ST;", "FN1100;",
                                             "ST;", "AN0;",
                                             "ST;", "SA1;",
                                             "ST;", "FS00001;",
                                             "ST;", "MT100000000;",
                                             "ST;", "PS0001100000000000;",
                                             "ST;", "GM00020100;",
                                             "ST;", "GS;",
                                             "ST;", "CPFFFF;",
                                             "ST;", "MR0;",
                                             "ST;", "FA00001800000;",
                                             "ST;", "CM0.000000000;",
                                             "ST;", "FM;",
                                             "ST;", "FM;"};
  EXPECT_EQ(micro.commands, expected);
  EXPECT_EQ(w().amp.statusValid, 1) << "status is decoded once CM has been answered";
  EXPECT_EQ(w().errors.errorsMuted, 0);
  EXPECT_EQ(w().amp.ampFwVersion.get(), "01.02.3");
}

TEST_F(LinkTest, ChecksumsMustBeUpperCase) {
  // A status reply whose checksum has hex letters, sent once with them in lower case.
  std::string status;
  for (int current = 0; status.empty(); ++current) {
    char text[64];
    std::snprintf(text, sizeof text, "ST000001000200030%03d20482048000;", current);
    const std::string digits = bench::checksumDigits(text, bench::DigitCase::Lower);
    if (std::isalpha(static_cast<unsigned char>(digits[0])) ||
        std::isalpha(static_cast<unsigned char>(digits[1]))) {
      status = text;
    }
  }
  int statusReplies = 0;
  FakeMicro micro([&](const std::string& command) {
    if (command != "ST;") return testing::defaultReply(command);
    std::string frame = microFrame(status);
    if (statusReplies++ == 0) {
      frame[0] = static_cast<char>(std::tolower(frame[0]));
      frame[1] = static_cast<char>(std::tolower(frame[1]));
    }
    return frame;
  });
  w().amp.statusValid = 1;
  runUntil(micro, 3);
  EXPECT_TRUE(log.contains("**** CHK ERROR!!"));
  // The corrupted reply is not decoded; the same command goes out again.
  EXPECT_EQ(micro.commands, (std::vector<std::string>{"ST;", "ST;", "FM;"}));
}

TEST_F(LinkTest, RefusedFourTimesRaisesTheCommErrorOncePerHoldoff) {
  FakeMicro micro([](const std::string& command) {
    if (command == "AN0;") return microFrame("AN?;");
    return testing::defaultReply(command);
  });
  w().amp.statusValid = 1;
  IncPNTIn_CMDLinear(CmdAN, w());
  runUntil(micro, 7);
  EXPECT_EQ(micro.commands,
            (std::vector<std::string>{"ST;", "AN0;", "AN0;", "AN0;", "AN0;", "ST;", "FM;"}));
  EXPECT_EQ(ExistError(w(), Err::Comm), 1);
  EXPECT_EQ(errorInfo(w(), Err::Comm).detail, "Err AN");
  EXPECT_EQ(w().amp.commErrorHoldoff, 2000);
  EXPECT_EQ(w().amp.linkRestarts, 1);
  // A second series within the hold-off does not raise it again.
  DeleteErrore(w(), Err::Comm);
  IncPNTIn_CMDLinear(CmdAN, w());
  runUntil(micro, 14);
  EXPECT_EQ(ExistError(w(), Err::Comm), 0);
  EXPECT_EQ(w().amp.linkRestarts, 2);
}

TEST_F(LinkTest, NeverStallsWhateverTheMicroSends) {
  int n = 0;
  FakeMicro micro([&](const std::string& command) -> std::string {
    switch (n++ % 6) {
      case 0:
        return ";";  // a lone terminator
      case 1:
        return std::string(500, 'x') + "zz";  // 500 characters without ';'
      case 2:
        return "";  // silence
      case 3:
        return "\xff\xfe garbage;";  // garbage
      case 4:
        return microFrame("QQ123;");  // unknown reply
      default:
        return testing::defaultReply(command);
    }
  });
  w().amp.statusValid = 1;
  runUntil(micro, 40);
  EXPECT_EQ(micro.commands.size(), 40u) << "the link kept sending";
  EXPECT_TRUE(log.contains("<<<<<<<<<<<<<<<<<<<<ERROR COUNTER LINEAR (CounterLinear)"));
  EXPECT_TRUE(log.contains("cmd non riconosciuto:QQ123;"));
  EXPECT_GT(w().amp.retryTotal, 10);
}

TEST_F(LinkTest, OverlongReplyIsDroppedBeforeThe501stCharacter) {
  receiver.pending = std::string(500, 'x');
  receiver.reply.clear();
  FakeMicro micro([](const std::string&) { return std::string(); });
  w().amp.linearProcessStatus = StateReceive;
  linkStep(w(), micro, receiver);
  EXPECT_EQ(receiver.reply.size(), 500u);
  EXPECT_FALSE(log.contains("ERROR COUNTER LINEAR"));
  receiver.pending = "y";
  linkStep(w(), micro, receiver);
  EXPECT_EQ(receiver.reply, "y");
  EXPECT_TRUE(log.contains("ERROR COUNTER LINEAR"));
}

TEST(CommandQueue, TheThirtyFirstUnsentCommandOverwritesTheOldest) {
  CommandQueue q;
  for (int i = 1; i <= 31; ++i) q.push(i);
  EXPECT_EQ(q.pop(), 2);
  for (int i = 3; i <= 31; ++i) EXPECT_EQ(q.pop(), i);
  EXPECT_EQ(q.pop(), -1);
  EXPECT_TRUE(q.empty());
}

TEST(CommandQueue, ProducersOnManyThreadsLoseAndDuplicateNothing) {
  CommandQueue q;
  std::atomic<bool> done{false};
  std::vector<int> seen(4 * 2000 + 1, 0);
  std::thread consumer([&] {
    for (;;) {
      const int v = q.pop();
      if (v > 0)
        ++seen[static_cast<size_t>(v)];
      else if (done)
        break;
      else
        std::this_thread::yield();
    }
  });
  std::vector<std::thread> producers;
  for (int p = 0; p < 4; ++p) {
    producers.emplace_back([&q, p] {
      for (int i = 1; i <= 2000; ++i) {
        q.push(p * 2000 + i);
        // Stay within the ring so nothing is overwritten by design.
        while (q.size() > 20) std::this_thread::yield();
      }
    });
  }
  for (auto& t : producers) t.join();
  while (!q.empty()) std::this_thread::yield();
  done = true;
  consumer.join();
  int lost = 0;
  int doubled = 0;
  for (size_t v = 1; v < seen.size(); ++v) {
    lost += seen[v] == 0;
    doubled += seen[v] > 1;
  }
  EXPECT_EQ(doubled, 0);
  EXPECT_EQ(lost, 0);
}

TEST_F(LinkTest, CommandTextsOfTheTable) {
  char letters[2];
  const char* attenuator[] = {"AT00;", "AT01;", "AT10;", "AT11;"};
  for (int v = 0; v < 4; ++v) {
    w().atu.attStep = v;
    EXPECT_EQ(buildCommand(w(), CmdATstep, letters), attenuator[v]);
  }
  EXPECT_EQ(buildCommand(w(), CmdATmax, letters), "AT11;");
  w().ui.trxFreq = 14070000;
  EXPECT_EQ(buildCommand(w(), CmdFA, letters), "FA00014070000;");
  EXPECT_EQ(std::string(letters, 2), "FA");
  w().set.FreqSensIn = 1;
  w().set.FreqPeriodTime = 100;
  EXPECT_EQ(buildCommand(w(), CmdFS, letters), "FS10010;");
  EXPECT_EQ(std::string(letters, 2), "SF");
  w().bands.filterMask = 0x2A;
  EXPECT_EQ(buildCommand(w(), CmdSF, letters), "SF300002a;");
  w().atu.tuneValue = 0x00ABCDEF;
  EXPECT_EQ(buildCommand(w(), CmdMTwrite, letters), "MT100ABCDEF;");
  EXPECT_EQ(w().atu.tunerBypassed, 1);  // bit 16 of the tune value
  // Bypass keeps L and C: bit 16 set, bits 18 and 23 cleared.
  w().atu.tuneValue = 0x008C1234;
  EXPECT_EQ(buildCommand(w(), CmdMTbypass, letters), "MT100091234;");
  EXPECT_EQ(buildCommand(w(), CmdMTdefault, letters), "MT100800000;");
  EXPECT_EQ(buildCommand(w(), CmdMTbypassZero, letters), "MT100010000;");
  EXPECT_EQ(w().atu.tunerBypassed, 1);
  w().amp.fanPercent = 80;
  w().set.FANmode = 2;
  EXPECT_EQ(buildCommand(w(), CmdFN, letters), "FN2080;");
  EXPECT_EQ(w().amp.lastFanSent, 80);
  w().amp.powerMultiplier = 1.25;
  EXPECT_EQ(buildCommand(w(), CmdCM, letters), "CM1.250000000;");
  w().amp.generalSettings.set("0000000000");
  w().bands.freqInterface = FreqInterface::Generic;
  EXPECT_EQ(buildCommand(w(), CmdGSwrite, letters), "GS0200000000;");
  // Out-of-range settings never break a frame's layout.
  w().set.PSpar2 = 123456;
  w().set.PSpar3 = -5;
  EXPECT_EQ(buildCommand(w(), CmdPS, letters), "PS0001999900000000;");
  EXPECT_EQ(buildCommand(w(), 25, letters), "");
}

}  // namespace
}  // namespace corvid

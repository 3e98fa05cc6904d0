// The controller's amplifier link, seen from the micro's end of the line: the real
// controller runs on a bench root with the micro simulator in this process on its line.
// Each run takes the controller through its start-up (the link begins about 1 s after
// the start, the start-up countdown ends after about 13 s) and checks several things on
// the way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/amp_simulator.h"
#include "tests/bench/bench_harness.h"

namespace corvid::bench::test {
namespace {

using Wire = std::span<const WireEntry>;

MicroFaults replyFault(ReplyFault fault, std::string letters = {}) {
  MicroFaults faults;
  faults.replies = {{fault, std::move(letters)}};
  return faults;
}

MicroFaults heatSink1(double celsius) {
  MicroFaults faults;
  faults.temp1 = celsius;
  return faults;
}

std::vector<std::string> frameTexts(Wire wire) {
  std::vector<std::string> texts;
  for (const WireEntry& entry : wire) {
    if (entry.fromController()) texts.emplace_back(entry.text());
  }
  return texts;
}

// The controller's fan and protection commands: FN, MP, AT and AB.
std::vector<std::string> fanAndProtection(Wire wire) {
  std::vector<std::string> texts;
  for (const std::string& text : frameTexts(wire)) {
    for (const char* letters : {"FN", "MP", "AT", "AB"}) {
      if (text.starts_with(letters)) texts.push_back(text);
    }
  }
  return texts;
}

size_t countOf(const std::string& text, std::string_view part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

bool isGoodReply(const WireEntry& reply) {
  return reply.bytes.size() > 3 && reply.bytes == frameReply(reply.text());
}

// The link is back to its idle cycle: six exchanges in a row, ST and FM by turns, each
// answered with a good reply.
bool pollingAgain(Wire wire) {
  size_t run = 0;
  std::string_view previous;
  for (const WireExchange& exchange : exchangesOf(wire)) {
    const std::string_view text = exchange.frame->text();
    const bool good = (text == "ST;" || text == "FM;") && text != previous &&
                      exchange.reply != nullptr && isGoodReply(*exchange.reply);
    run = good ? run + 1 : 0;
    previous = good ? text : std::string_view();
    if (run >= 6) return true;
  }
  return false;
}

// Waits until the controller has sent a frame with this text since from.
bool waitForFrame(const AmpSimulator& micro, size_t from, std::string_view text,
                  std::chrono::milliseconds timeout = kLogTimeout) {
  return micro.wire().waitFor(
      from,
      [&](Wire wire) {
        return std::any_of(wire.begin(), wire.end(), [&](const WireEntry& entry) {
          return entry.fromController() && entry.text() == text;
        });
      },
      timeout);
}

// The frame interface selects ("ModeWorkIdx %i"), from the controller's log.
int modeWorkIdx(const std::string& log) {
  constexpr std::string_view kLine = "ModeWorkIdx ";
  const size_t at = log.find(kLine);
  if (at == std::string::npos || at + kLine.size() >= log.size()) return -1;
  const char digit = log[at + kLine.size()];
  return digit >= '0' && digit <= '9' ? digit - '0' : -1;
}

TEST(CorvidAmpLink, StartupCommandsGoOutOnePerStatusPollThenStatusAndCounterPolls) {
  MicroRun bench;
  // A multiplier and general settings that differ from the controller's defaults, so that
  // the CM and GS texts show they were read from the micro.
  bench.micro().withMicro([](AmpMicro& micro) {
    Eeprom eeprom = micro.eeprom();
    eeprom.multiplier = "0.950000000";
    micro.setEeprom(eeprom);
    micro.settings().generalSettings = "0200000000";
  });
  ASSERT_TRUE(bench.start());
  AmpSimulator& micro = bench.micro();
  ASSERT_TRUE(micro.wire().waitFor(
      0,
      [](Wire wire) {
        const std::vector<std::string> texts = frameTexts(wire);
        const auto cm = std::find_if(texts.begin(), texts.end(),
                                     [](const std::string& t) { return t.starts_with("CM"); });
        return cm != texts.end() && texts.end() - cm > 16;
      },
      kLogTimeout))
      << bench.corvid().log();
  const std::vector<WireEntry> wire = micro.wire().since();

  // Every frame: two lower-case checksum digits and the text; every one answered.
  for (const WireEntry& entry : wire) {
    if (!entry.fromController()) continue;
    EXPECT_EQ(entry.check, FrameCheck::Ok) << printable(entry.bytes);
    EXPECT_EQ(entry.bytes, frameCommand(entry.text()));
  }
  const SimulatorCounters counters = micro.counters();
  EXPECT_EQ(counters.badFrames, 0u);
  EXPECT_EQ(counters.refused, 0) << micro.withMicro([](AmpMicro& m) { return m.lastRefused(); });

  // The start-up commands in their order, one after each status poll; the general
  // settings written back (queued when the bank's frame interface is set up) with bit 1
  // of their second character set only for interface 0; then ST and FM by turns.
  const int mode = modeWorkIdx(bench.corvid().log());
  ASSERT_GE(mode, 0) << bench.corvid().log();
  const std::string generalSettings = mode == 0 ? "0200000000" : "0000000000";
  const std::vector<std::string> startup = {"VSM;",
                                            "ER0000;",
                                            "ER0001;",
                                            "ER0002;",
                                            "ER0003;",
                                            "MP0;",
                                            "TS4095409515003700;",
                                            "FN1100;",
                                            "AN0;",
                                            "SA1;",
                                            "FS00001;",
                                            "MT100000000;",
                                            "PS0001100000000000;",
                                            "GM00020100;",
                                            "GS;",
                                            "CPFFFF;",
                                            "MR0;",
                                            "FA00014070000;",
                                            "CM0.950000000;",
                                            "GS" + generalSettings + ";"};
  std::vector<std::string> expected;
  for (const std::string& command : startup) {
    expected.push_back("ST;");
    expected.push_back(command);
  }
  std::vector<std::string> texts = frameTexts(wire);
  ASSERT_GT(texts.size(), expected.size() + 10);
  for (size_t i = expected.size(); i < texts.size(); ++i) {
    expected.push_back(i % 2 == 0 ? "ST;" : "FM;");
  }
  EXPECT_EQ(texts, expected);
  EXPECT_NE(bench.corvid().log().find("EE3: 0.950000000"), std::string::npos);
}

TEST(CorvidAmpLink, RetriesAndHostileRepliesNeverStallTheLink) {
  MicroRun bench;
  AmpSimulator& micro = bench.micro();
  // A counter frequency whose FM reply has a letter among its checksum digits, so that
  // lower-case digits differ from the right ones.
  const uint64_t frequency = [] {
    for (uint64_t f = 14070000;; f += 1000) {
      char text[32];
      std::snprintf(text, sizeof text, "FM0%011llu;", static_cast<unsigned long long>(f));
      const std::string digits = checksumDigits(text, DigitCase::Upper);
      if (digits.find_first_of("ABCDEF") != std::string::npos) return f;
    }
  }();
  micro.withMicro([&](AmpMicro& m) { m.setTransceiverFrequency(frequency); });
  ASSERT_TRUE(bench.start());
  CorvidRun& corvid = bench.corvid();
  // Errors can be raised once the CP reply is in: wait for the polling after start-up.
  ASSERT_TRUE(waitForFrame(micro, 0, "FM;")) << corvid.log();

  // Lower-case checksum digits fail the check; the same command goes out again.
  size_t mark = micro.wire().size();
  micro.setFaults(replyFault(ReplyFault::LowerCaseChecksum, "FM"));
  ASSERT_TRUE(micro.wire().waitFor(
      mark,
      [](Wire wire) {
        const std::vector<WireExchange> exchanges = exchangesOf(wire);
        for (size_t i = 0; i + 1 < exchanges.size(); ++i) {
          if (exchanges[i].reply != nullptr && !isGoodReply(*exchanges[i].reply)) return true;
        }
        return false;
      },
      kLogTimeout));
  micro.clearFaults();
  {
    const std::vector<WireEntry> wire = micro.wire().since(mark);
    const std::vector<WireExchange> exchanges = exchangesOf(wire);
    const auto bad = std::find_if(exchanges.begin(), exchanges.end(), [](const WireExchange& x) {
      return x.reply != nullptr && !isGoodReply(*x.reply);
    });
    ASSERT_NE(bad, exchanges.end());
    ASSERT_NE(bad + 1, exchanges.end());
    EXPECT_EQ(bad->frame->text(), "FM;");
    EXPECT_EQ(bad->reply->bytes.substr(0, 2), checksumDigits(bad->reply->text(), DigitCase::Lower));
    EXPECT_EQ((bad + 1)->frame->text(), "FM;") << "the same command again";
  }
  EXPECT_TRUE(corvid.waitForLog("**** CHK ERROR!!")) << corvid.log();
  ASSERT_TRUE(micro.wire().waitFor(micro.wire().size(), pollingAgain, kLogTimeout));
  EXPECT_EQ(countOf(corvid.log(), " err:4\n"), 0u) << "no communication error yet";

  // A command refused four times: the communication error once, then ST again.
  mark = micro.wire().size();
  micro.setFaults(replyFault(ReplyFault::Refused, "FM"));
  ASSERT_TRUE(corvid.waitForLog("STOP RETRAY!! FM")) << corvid.log();
  {
    auto firstRefused = [](const std::vector<WireExchange>& exchanges) {
      return std::find_if(exchanges.begin(), exchanges.end(), [](const WireExchange& x) {
        return x.reply != nullptr && x.reply->text() == "FM?;";
      });
    };
    ASSERT_TRUE(micro.wire().waitFor(
        mark,
        [&](Wire wire) {
          const std::vector<WireExchange> exchanges = exchangesOf(wire);
          return exchanges.end() - firstRefused(exchanges) >= 5;
        },
        kLogTimeout));
    const std::vector<WireEntry> wire = micro.wire().since(mark);
    const std::vector<WireExchange> exchanges = exchangesOf(wire);
    const auto first = firstRefused(exchanges);
    ASSERT_GE(exchanges.end() - first, 5);
    std::vector<std::string> texts;
    for (auto x = first; x != first + 5; ++x) texts.emplace_back(x->frame->text());
    EXPECT_EQ(texts, (std::vector<std::string>{"FM;", "FM;", "FM;", "FM;", "ST;"}));
  }
  // A second series within the hold-off raises nothing more.
  ASSERT_TRUE(waitUntil([&] { return countOf(corvid.log(), "STOP RETRAY!! FM") >= 2; }))
      << corvid.log();
  micro.clearFaults();
  {
    const std::string log = corvid.log();
    EXPECT_EQ(countOf(log, " err:4\n"), 1u) << log;
    const size_t raised = log.find(" err:4\n");
    ASSERT_NE(raised, std::string::npos) << log;
    const size_t lineStart = log.rfind('\n', raised) + 1;
    EXPECT_EQ(log.substr(lineStart, 8), "Add: N: ") << log.substr(lineStart, raised - lineStart);
  }
  ASSERT_TRUE(micro.wire().waitFor(micro.wire().size(), pollingAgain, kLogTimeout));

  // Whatever the micro sends, the link returns to its polling once the fault is gone.
  struct Hostile {
    const char* name;
    ReplyFault fault;
    size_t replies;  // fault replies to let through before the fault is removed
  };
  for (const Hostile& hostile :
       {Hostile{"garbage", ReplyFault::Garbage, 1}, Hostile{"lone ';'", ReplyFault::Semicolon, 2},
        Hostile{"500 characters", ReplyFault::Overlong, 2},
        Hostile{"wrong checksum", ReplyFault::BadChecksum, 2},
        Hostile{"silence", ReplyFault::Silent, 0}}) {
    SCOPED_TRACE(hostile.name);
    mark = micro.wire().size();
    micro.setFaults(replyFault(hostile.fault));
    if (hostile.replies == 0) {
      // Longer than the controller's 1.5 s wait for a reply.
      std::this_thread::sleep_for(1700ms);
    } else {
      ASSERT_TRUE(micro.wire().waitFor(
          mark,
          [&](Wire wire) {
            const auto sent = std::count_if(wire.begin(), wire.end(), [](const WireEntry& e) {
              return !e.fromController() && !isGoodReply(e);
            });
            return static_cast<size_t>(sent) >= hostile.replies;
          },
          kLogTimeout));
    }
    micro.clearFaults();
    const auto cleared = SimClock::now();
    mark = micro.wire().size();
    EXPECT_TRUE(micro.wire().waitFor(mark, pollingAgain, 15s))
        << "the link stalled; last frames:\n"
        << [&] {
             std::string tail;
             for (const WireEntry& e : micro.wire().since(mark)) {
               tail += (e.fromController() ? "ctl> " : "amp> ") + printable(e.bytes) + "\n";
             }
             return tail;
           }();
    std::printf("[ recovery ] %-16s %5lld ms\n", hostile.name,
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(SimClock::now() - cleared)
                        .count()));
    // Every command starts a fresh reply, so 500 characters without ';' followed by the
    // retry's reply never add up to an overflow: what is checked here is that the link
    // recovers (the overflow of one reply itself is a unit test of the link).
  }
  EXPECT_EQ(micro.counters().badFrames, 0u);
}

// The heat-sink temperatures the controller reads drive its fans and its protection.
// The controller smooths each reading (a tenth of the new one a status poll), so each
// step is waited for until its command arrives, or for a second when none must come.
TEST(CorvidAmpTemperature, FanStepsAndOverTemperatureProtection) {
  MicroRun bench;
  ASSERT_TRUE(bench.start());
  AmpSimulator& micro = bench.micro();
  CorvidRun& corvid = bench.corvid();
  // Fan control starts with the end of the countdown: 25 °C asks for the first step.
  ASSERT_TRUE(waitForFrame(micro, 0, "FN1070;", 45s)) << corvid.log();

  // Forces heat sink 1 to celsius; returns the controller's fan and protection commands
  // until one with text `until` (or, with until empty, during settle). Other commands
  // may go out meanwhile: once the countdown has ended, the display loop follows the
  // frequency (FA, TS).
  auto step = [&](double celsius, const std::string& until,
                  std::chrono::milliseconds settle = 1000ms) {
    const size_t mark = micro.wire().size();
    micro.setFaults(heatSink1(celsius));
    if (until.empty()) {
      std::this_thread::sleep_for(settle);
    } else {
      EXPECT_TRUE(waitForFrame(micro, mark, until, 10s)) << celsius << " °C: no " << until;
      std::this_thread::sleep_for(100ms);
    }
    return fanAndProtection(micro.wire().since(mark));
  };
  using Texts = std::vector<std::string>;
  EXPECT_EQ(step(47.0, ""), Texts{}) << "45 to 50 °C: still 70 %";
  EXPECT_EQ(step(52.0, "FN1080;"), Texts{"FN1080;"});
  EXPECT_EQ(step(57.0, "FN1100;"), Texts{"FN1100;"});
  EXPECT_EQ(step(54.5, ""), Texts{}) << "not 1 °C below the 100 % step";
  EXPECT_EQ(step(53.5, "FN1080;"), Texts{"FN1080;"});
  EXPECT_EQ(step(49.5, ""), Texts{}) << "not 1 °C below the 80 % step";
  EXPECT_EQ(step(48.5, "FN1070;"), Texts{"FN1070;"});

  // Above the 70 °C limit: protection on, full attenuation, bypass off; the fans go up
  // on the way.
  EXPECT_EQ(step(72.0, "AB0;"), (Texts{"FN1080;", "FN1100;", "MP1;", "AT11;", "AB0;"}));
  EXPECT_TRUE(micro.withMicro([](AmpMicro& m) {
    return m.settings().protectionOn && m.settings().pads == 3 && !m.settings().bypassed;
  }));
  EXPECT_NE(corvid.log().find("!!!!  TEMP ALLARM"), std::string::npos) << corvid.log();
  // Between 67 and 70 °C nothing changes; below 67 °C the bypass comes back.
  EXPECT_EQ(step(68.0, ""), Texts{});
  EXPECT_EQ(step(66.0, "AB1;"), Texts{"AB1;"});
  EXPECT_TRUE(micro.withMicro([](AmpMicro& m) { return m.settings().bypassed; }));
  EXPECT_NE(corvid.log().find("!!!! END TEMPERATURE ERROR"), std::string::npos);
  EXPECT_EQ(micro.counters().badFrames, 0u);
  EXPECT_EQ(micro.counters().refused, 0);
}

}  // namespace
}  // namespace corvid::bench::test

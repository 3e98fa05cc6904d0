// Key debouncing and events, the power-off sequence, start-up combinations, and the
// power controller's exchange slots.
#include "ui/panel_keys.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/works.h"
#include "tests/unit/test_support.h"

namespace corvid {
namespace {

using testing::LogCatcher;

struct Event {
  int key;
  int held;
  bool operator==(const Event&) const = default;
};

std::vector<Event> gEvents;
int gRepeat = 0;  // what the decoder answers to long presses

int recordEvent(Works&, int key, int held) {
  gEvents.push_back({key, held});
  return held != 0 ? gRepeat : 0;
}

class KeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitGlobalVar(w());
    gEvents.clear();
    gRepeat = 0;
  }
  // Runs passes 2 ms apart with the given keys down (1-based).
  void hold(std::initializer_list<int> down, int passes) {
    unsigned levels = 0x3F;
    for (int k : down) levels &= ~(1u << (k - 1));
    for (int i = 0; i < passes; ++i) {
      keys.pass(w(), levels, now);
      now += 0.002;
    }
  }
  Works& w() { return *works_; }

  LogCatcher log;
  PanelKeys keys{&recordEvent};
  double now = 100.0;
  std::unique_ptr<Works> works_ = std::make_unique<Works>();
};

TEST_F(KeysTest, ShortPressOnReleaseAfterDebouncing) {
  hold({3}, 5);  // five samples: not taken
  hold({}, 20);
  EXPECT_TRUE(gEvents.empty());
  hold({3}, 6);
  EXPECT_EQ(keys.accepted(3), 0);
  EXPECT_TRUE(gEvents.empty()) << "a short press is reported on release";
  hold({}, 10);
  EXPECT_EQ(gEvents, (std::vector<Event>{{3, 0}}));
}

TEST_F(KeysTest, OneKeyAtATime) {
  hold({1}, 10);
  hold({1, 2}, 10);
  hold({2}, 4);  // key 1 released (debounce), key 2 still counting
  hold({2}, 10);
  hold({}, 10);
  EXPECT_EQ(gEvents, (std::vector<Event>{{1, 0}, {2, 0}}));
}

TEST_F(KeysTest, LongPressOnceOrRepeating) {
  w().set.TIME_LONG_PRESS = 0.5;
  hold({4}, 260);  // 0.52 s
  EXPECT_EQ(gEvents, (std::vector<Event>{{4, 0x08}}));
  EXPECT_EQ(w().ui.noticeFlags & 1u, 1u) << "the notice comes 0.15 s before the threshold";
  hold({}, 10);
  EXPECT_EQ(gEvents.size(), 1u) << "no event on release after a long press that ended";

  gEvents.clear();
  gRepeat = 1;
  hold({5}, 6 + 250 + 1);   // pressed, then the long press
  hold({5}, 14 * 50 + 20);  // fourteen repeats 0.1 s apart
  const size_t slow = gEvents.size();
  EXPECT_GE(slow, 14u);
  hold({5}, 100);  // then every 0.02 s
  EXPECT_GE(gEvents.size() - slow, 8u);
  hold({}, 10);
  EXPECT_EQ(gEvents.back(), (Event{5, 0})) << "one more event on release";
}

TEST_F(KeysTest, PowerOffRepeatsTheCommandAfterRelease) {
  hold({1}, 10);
  w().ui.shutdownState = 1;  // armed by a long press of key 1
  hold({1}, 10);
  EXPECT_EQ(w().ui.shutdownState, 1) << "nothing while key 1 is held";
  hold({}, 10);
  EXPECT_EQ(w().ui.shutdownState, 2);
  hold({}, 160);  // 0.3 s
  EXPECT_EQ(w().ui.shutdownState, 3);
  EXPECT_EQ(w().ui.tempflag_processextREMLOCOFF, 0);
  hold({}, 760);  // 1.5 s
  EXPECT_EQ(w().ui.tempflag_processextREMLOCOFF, 0x85);
  w().ui.tempflag_processextREMLOCOFF = 0;
  hold({}, 760);
  EXPECT_EQ(w().ui.tempflag_processextREMLOCOFF, 0x85) << "again every 1.5 s";
}

TEST_F(KeysTest, StartUpCombinations) {
  w().core.startInitThread = 1;
  w().set.EnableDebug = 0;
  hold({4, 5, 6}, 5);
  EXPECT_EQ(w().set.EnableDebug, 0);
  hold({4, 5, 6}, 2);
  EXPECT_EQ(w().set.EnableDebug, 1) << "held for more than five passes";
  hold({}, 3);
  hold({3, 4}, 7);
  EXPECT_EQ(w().ui.startupKeysMenu, 1);
  EXPECT_TRUE(gEvents.empty()) << "no key events during start-up";
  w().ui.startupKeysMenu = 0;
  hold({3}, 20);
  EXPECT_EQ(w().ui.startupKeysMenu, 0);
}

TEST(PowerLink, PollCyclePrioritiesAndReplies) {
  auto works = std::make_unique<Works>();
  InitGlobalVar(*works);
  LogCatcher log;
  PowerLinkSchedule s;
  std::vector<int> sent;
  auto slot = [&] {
    // Runs passes until one slot has been used (200 passes apart).
    for (int i = 0; i < 201; ++i) {
      const uint8_t c = s.next(*works);
      if (c != 0xFF) {
        sent.push_back(c);
        s.done(*works, c, c == 0xD0 || c == 0xB0 ? 9 : 0x42);
        return;
      }
    }
    sent.push_back(-1);  // an empty slot
  };
  slot();  // the first pass sends 0xB0
  EXPECT_EQ(works->core.tinyVersion, 9);
  for (int i = 0; i < 6; ++i) slot();
  EXPECT_EQ(sent, (std::vector<int>{0xB0, 0xD1, 0xD2, 0xD3, 0xD0, -1, 0xD1}));
  EXPECT_EQ(works->ui.tinyVamp, 0x42);

  sent.clear();
  works->core.tinyCommand = 0xC5;
  works->ui.tempflag_processextREMLOCOFF = 0x85;
  slot();
  EXPECT_EQ(sent, std::vector<int>{0x85}) << "the priority command goes first";
  EXPECT_EQ(works->core.tinyCommand, 0) << "and the pending command is dropped";
  EXPECT_EQ(works->core.tinyStatus, 0x42);
  EXPECT_TRUE(log.contains("CMD TINY PRIORITY 85"));
}

}  // namespace
}  // namespace corvid

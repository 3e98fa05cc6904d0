// The service keyboard: its key table, what each key does, and the keyb thread reading a
// FIFO of input events in this machine's layout, as the bench's keyboard is.
#include "ui/keyboard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/works.h"
#include "platform/input.h"
#include "tests/unit/test_support.h"

namespace corvid {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::InstantSleep;
using testing::LogCatcher;
using testing::TempRoot;

constexpr const char* kKeyboard = "/dev/input/by-id/usb-Test_Keyboard-event-kbd";

class KeyboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitGlobalVar(w());
    // Every program the keys run records its path and arguments.
    for (const char* unitPath :
         {"/bin/stty", "/usr/bin/tput", "/usr/bin/fbgrab", "/opt/sshshell"}) {
      fs::create_directories(root.path(unitPath).parent_path());
      root.write(unitPath, "#!/bin/sh\necho \"" + std::string(unitPath) + " $*\" >> \"" +
                               root.dir().string() + "/calls.log\"\n");
      fs::permissions(root.path(unitPath), fs::perms::owner_all);
    }
    root.addProgram("rm", "for f; do case \"$f\" in -*) ;; *) /bin/rm -f \"$f\";; esac; done\n");
  }
  void TearDown() override {
    w().core.running = 0;
    if (thread_.joinable()) thread_.join();
    if (writer_ >= 0) ::close(writer_);
  }
  // The keyboard FIFO, held open by a writer of its own (as the bench holds it).
  void plugIn() {
    fs::create_directories(root.path(kKeyboard).parent_path());
    if (!fs::exists(root.path(kKeyboard))) {
      ASSERT_EQ(::mkfifo(root.path(kKeyboard).c_str(), 0600), 0);
    }
    writer_ = ::open(root.path(kKeyboard).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer_, 0);
  }
  void unplug() {
    ::close(writer_);
    writer_ = -1;
  }
  void send(uint16_t type, uint16_t code, int32_t value) {
    input_event e{};
    e.type = type;
    e.code = code;
    e.value = value;
    ASSERT_EQ(::write(writer_, &e, sizeof e), static_cast<ssize_t>(sizeof e));
  }
  void startThread() {
    thread_ = std::thread([this] { keyb(w()); });
  }
  bool waitFor(const std::function<bool()>& condition) {
    for (auto until = std::chrono::steady_clock::now() + 10s;
         std::chrono::steady_clock::now() < until;) {
      if (condition()) return true;
      std::this_thread::sleep_for(5ms);
    }
    return condition();
  }
  bool called(const std::string& call) {
    const auto calls = root.calls();
    return std::find(calls.begin(), calls.end(), call) != calls.end();
  }
  Works& w() { return *works_; }

  TempRoot root;
  InstantSleep instant;
  LogCatcher log;
  std::unique_ptr<Works> works_ = std::make_unique<Works>();
  std::thread thread_;
  int writer_ = -1;
};

TEST(ServiceKeys, TheTableOfTheInputLayersCodes) {
  struct Case {
    uint16_t code;
    ServiceKey key;
  };
  const Case keys[] = {{99, ServiceKey::Screenshot}, {88, ServiceKey::Exit},
                       {87, ServiceKey::SaveSetup},  {68, ServiceKey::RemoteShell},
                       {59, ServiceKey::DtrOff},     {60, ServiceKey::DtrOn},
                       {61, ServiceKey::RtsOff},     {62, ServiceKey::RtsOn}};
  for (const Case& c : keys) {
    ServiceKey key{};
    EXPECT_TRUE(serviceKeyOf(c.code, key)) << c.code;
    EXPECT_EQ(key, c.key) << c.code;
  }
  ServiceKey key{};
  for (int code : {0, 1, 30, 63, 67, 86, 100, 0xFFFF}) {
    EXPECT_FALSE(serviceKeyOf(static_cast<uint16_t>(code), key)) << code;
  }
}

// Reads may cut events anywhere (a FIFO hands out what was written): each event comes out
// whole, once, wherever the cuts fall, and only a press of a key with an action acts.
TEST(ServiceKeys, EventsCutAnywhereComeOutWholeAndOnlyPressesAct) {
  std::vector<input_event> sent(3);
  sent[0].type = EV_KEY, sent[0].code = KEY_F11, sent[0].value = 1;
  sent[1].type = EV_KEY, sent[1].code = KEY_F11, sent[1].value = 2;
  sent[2].type = EV_SYN, sent[2].code = KEY_F11, sent[2].value = 1;
  std::string bytes(reinterpret_cast<const char*>(sent.data()), sent.size() * sizeof(input_event));
  ASSERT_EQ(platform::EventAssembler::eventSize(), sizeof(input_event));
  for (size_t piece : {size_t{1}, size_t{5}, sizeof(input_event) - 1, sizeof(input_event),
                       sizeof(input_event) + 7, bytes.size()}) {
    platform::EventAssembler assembler;
    std::vector<platform::InputEvent> got;
    for (size_t at = 0; at < bytes.size();) {
      const size_t n = std::min(piece, bytes.size() - at);
      std::optional<platform::InputEvent> event;
      const size_t taken = assembler.add(bytes.data() + at, n, event);
      ASSERT_GT(taken, 0u);
      at += taken;
      if (event) got.push_back(*event);
    }
    ASSERT_EQ(got.size(), sent.size()) << piece;
    for (size_t i = 0; i < sent.size(); ++i) {
      EXPECT_EQ(got[i].type, sent[i].type);
      EXPECT_EQ(got[i].code, sent[i].code);
      EXPECT_EQ(got[i].value, sent[i].value);
    }
    ServiceKey key{};
    EXPECT_TRUE(serviceKeyOfEvent(got[0], key));
    EXPECT_EQ(key, ServiceKey::SaveSetup);
    EXPECT_FALSE(serviceKeyOfEvent(got[1], key));  // repeated
    EXPECT_FALSE(serviceKeyOfEvent(got[2], key));  // not a key event
  }
}

TEST_F(KeyboardTest, EachKeysAction) {
  EXPECT_TRUE(serviceKeyPressed(w(), ServiceKey::Screenshot));
  EXPECT_TRUE(called("/usr/bin/fbgrab DIR/tmp/screen.png"));
  EXPECT_TRUE(log.contains("launched screenshot"));

  EXPECT_TRUE(serviceKeyPressed(w(), ServiceKey::SaveSetup));
  EXPECT_TRUE(fs::exists(root.path("/opt/set/setup.txt")));
  EXPECT_TRUE(log.contains("Save setup"));

  root.write("/opt/set/good", "x");
  EXPECT_TRUE(serviceKeyPressed(w(), ServiceKey::RemoteShell));
  EXPECT_TRUE(called("/opt/sshshell "));
  EXPECT_FALSE(fs::exists(root.path("/opt/set/good"))) << "the marker goes before the shell";
  EXPECT_NE(w().ui.serviceFlags & kServiceRemoteShell, 0u);

  // No CAT port is open: the modem-line keys say so and nothing fails.
  for (ServiceKey k :
       {ServiceKey::DtrOff, ServiceKey::DtrOn, ServiceKey::RtsOff, ServiceKey::RtsOn}) {
    EXPECT_TRUE(serviceKeyPressed(w(), k));
  }
  EXPECT_TRUE(log.contains("Activated KEY_F3"));
  EXPECT_TRUE(log.contains("KEY_F4: no CAT port open\n"));

  EXPECT_FALSE(serviceKeyPressed(w(), ServiceKey::Exit));
  EXPECT_EQ(w().core.running, 0) << "the whole program ends";
  EXPECT_TRUE(called("/bin/stty sane"));
  EXPECT_TRUE(called("/usr/bin/tput clear"));
}

TEST_F(KeyboardTest, PressesActReleasesAndRepeatsDoNotAndF12EndsTheThread) {
  plugIn();
  startThread();
  ASSERT_TRUE(waitFor([&] { return log.contains("Continuous keyboard loop started"); }));
  EXPECT_TRUE(called("/bin/stty -echo"));
  EXPECT_TRUE(log.contains("Cannot grab")) << "a FIFO cannot be grabbed: logged and ignored";
  send(EV_KEY, KEY_F12, 0);  // release
  send(EV_KEY, KEY_F12, 2);  // repeat
  send(EV_MSC, KEY_F12, 1);  // not a key event
  send(EV_KEY, KEY_SYSRQ, 1);
  send(EV_SYN, 0, 0);
  ASSERT_TRUE(waitFor([&] { return called("/usr/bin/fbgrab DIR/tmp/screen.png"); }));
  EXPECT_EQ(w().core.running, 1);
  send(EV_KEY, KEY_F12, 1);
  thread_.join();
  EXPECT_EQ(w().core.running, 0);
  EXPECT_TRUE(log.contains("Exited by KEY_F12"));
}

TEST_F(KeyboardTest, AnUnpluggedKeyboardIsLookedForAgain) {
  plugIn();
  startThread();
  ASSERT_TRUE(waitFor([&] { return log.contains("Continuous keyboard loop started"); }));
  unplug();
  ASSERT_TRUE(waitFor([&] { return log.contains("gone, looking for it again"); }));
  plugIn();
  ASSERT_TRUE(waitFor([&] { return log.find("Keyboard opened", log.find("gone, looking")) >= 0; }));
  std::this_thread::sleep_for(50ms);  // the reopened keyboard is being read
  send(EV_KEY, KEY_F12, 1);
  thread_.join();
  EXPECT_EQ(w().core.running, 0);
}

TEST_F(KeyboardTest, WithoutAKeyboardTheThreadOnlySearchesAndEndsWithTheProgram) {
  startThread();
  ASSERT_TRUE(waitFor([&] { return instant.total() >= 40s; })) << "a search every 20 s";
  w().core.running = 0;
  thread_.join();
  EXPECT_FALSE(log.contains("Keyboard opened"));
  EXPECT_TRUE(root.calls().empty());
}

}  // namespace
}  // namespace corvid

// The bench's web view without a browser: the settings it reads from a root, the faults
// file edits, the timing of key presses, and the requests (validation, effects on the
// station, the micro, the GPIO block, the service keyboard and the faults file),
// handled directly and once through the HTTP server on the loopback interface.
#include "sim/web_view.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "sim/framebuffer_png.h"
#include "sim/gpio_keys.h"
#include "sim/panel_state.h"
#include "sim/root_settings.h"
#include "tests/bench/bench_harness.h"

namespace corvid::bench::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string slurp(const std::filesystem::path& path) {
  return readWholeFile(path).value_or("");
}

void writeText(const fs::path& path, std::string_view text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A root with what the web view touches: the GPIO block with every key released, a
// framebuffer filled with one colour, the service keyboard FIFO, the settings and bench
// folders.
class WebRoot {
 public:
  WebRoot() {
    fs::create_directories(dir() / "dev/input/by-id");
    ::mkfifo(keyboard().c_str(), 0600);
    fs::create_directories(dir() / "bench");
    fs::create_directories(dir() / "opt/set");
    std::vector<char> block(kGpioBlockBytes, 0);
    const uint32_t released = kKeysReleased;
    std::memcpy(block.data() + kGpioLevelOffset, &released, sizeof released);
    std::ofstream(dir() / "dev/mem", std::ios::binary).write(block.data(), std::ssize(block));
    std::vector<char> fb(kFbBytes);
    for (size_t i = 0; i < fb.size(); i += 4) {  // blue, green, red, unused
      fb[i] = 0x30;
      fb[i + 1] = 0x20;
      fb[i + 2] = 0x10;
    }
    std::ofstream(dir() / "dev/fb0", std::ios::binary).write(fb.data(), std::ssize(fb));
  }
  fs::path dir() const { return temp_.path() / "root"; }
  fs::path faults() const { return dir() / "bench/faults"; }
  fs::path keyboard() const { return BenchRoot(dir()).serviceKeyboard(); }

 private:
  TempFolder temp_;
};

// The (type, code, value) of every whole record the FIFO holds now; a cut record shows
// as a last {0xFFFF, 0xFFFF, -1}.
std::vector<std::array<int, 3>> keyboardRecords(int reader) {
  std::string bytes;
  char buffer[4096];
  for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;) {
    bytes.append(buffer, static_cast<size_t>(n));
  }
  std::vector<std::array<int, 3>> records;
  size_t at = 0;
  for (; at + sizeof(input_event) <= bytes.size(); at += sizeof(input_event)) {
    input_event e{};
    std::memcpy(&e, bytes.data() + at, sizeof e);
    records.push_back({e.type, e.code, e.value});
  }
  if (at != bytes.size()) records.push_back({0xFFFF, 0xFFFF, -1});
  return records;
}

TEST(RootSettings, ReadsKeysAndTheLongPressTime) {
  const std::string setup = "LinPort: /dev/ttyS1\r\nPassphrase: \nBTN_longpress_Time: 12\n";
  EXPECT_EQ(settingIn(setup, "LinPort"), "/dev/ttyS1");
  EXPECT_EQ(settingIn(setup, "Passphrase"), "");
  EXPECT_EQ(settingIn(setup, "Lin"), std::nullopt);
  EXPECT_EQ(longPressTime(setup), 1200ms);
  EXPECT_EQ(longPressTime(""), 500ms);
  EXPECT_EQ(longPressTime("BTN_longpress_Time: 1x\n"), 500ms);
  EXPECT_EQ(longPressTime("BTN_longpress_Time: -3\n"), 500ms);
  EXPECT_EQ(longPressTime("BTN_longpress_Time: 99999999999\n"), 500ms);
}

TEST(RootSettings, InterfaceLineReplacedOrAddedAndBandsKept) {
  EXPECT_EQ(
      withInterface("!Pex\n; a note\n40m 7000000 7300000 1 1 1 0 5.0\n", BankInterface::Ft817),
      "!817\n; a note\n40m 7000000 7300000 1 1 1 0 5.0\n");
  EXPECT_EQ(withInterface("20m 14000000 14350000 1 1 1 0 5.0", BankInterface::Counter),
            "!Gen\n20m 14000000 14350000 1 1 1 0 5.0\n");
  // No bands: the controller's factory table, so that the bank still has its bands.
  const std::string fresh = withInterface("", BankInterface::ExtIo);
  EXPECT_TRUE(fresh.starts_with("!Pex\n160m 1800000 2000000 0 1 1 0 0.0\n")) << fresh;
  EXPECT_TRUE(fresh.ends_with("6m 50000000 54000000 0 1 1 0 0.0\n")) << fresh;
  EXPECT_EQ(parseBankInterface("817"), BankInterface::Ft817);
  EXPECT_EQ(parseBankInterface("none"), BankInterface::Counter);
  EXPECT_EQ(parseBankInterface("FT817"), std::nullopt);
}

TEST(RootSettings, BankInterfaceGoesIntoBankZeroTheBankInUseAndEveryExistingBank) {
  WebRoot root;
  const BenchRoot bench(root.dir());
  writeText(bench.under("/opt/set/setup.txt"), "NumBanco: 3\n");
  writeText(bench.under("/opt/set/antenna_b2.txt"), "!Gen\n40m 7000000 7300000 1 2 1 0 5.0\n");
  ASSERT_EQ(setBankInterface(bench, BankInterface::Ft817), "");
  for (const char* file : {"antenna.txt", "antenna_b2.txt", "antenna_b3.txt"}) {
    EXPECT_TRUE(slurp(bench.under(std::string("/opt/set/") + file)).starts_with("!817\n")) << file;
  }
  EXPECT_EQ(slurp(bench.under("/opt/set/antenna_b2.txt")),
            "!817\n40m 7000000 7300000 1 2 1 0 5.0\n");
  EXPECT_FALSE(fs::exists(bench.under("/opt/set/antenna_b1.txt")));
}

TEST(FaultWords, ToggleLeavesTheOtherWordsTheirStatusesAndComments) {
  const std::string text = "# injected by hand\nmount-rw=32 amp-silent  ft817-silent\nmy_temp\n";
  const std::string cleared = withFault(text, "amp-silent", std::nullopt);
  EXPECT_EQ(cleared, "# injected by hand\nmount-rw=32  ft817-silent\nmy_temp\n");
  EXPECT_FALSE(hasFault(cleared, "amp-silent"));
  EXPECT_EQ(withFault(cleared, "amp-silent", std::nullopt), cleared + "amp-silent\n");
  // A word with an exit status is its word; a line left empty goes.
  EXPECT_EQ(withFault(text, "my_temp", false),
            "# injected by hand\nmount-rw=32 amp-silent  ft817-silent\n");
  EXPECT_EQ(withFault(text, "mount-rw", false),
            "# injected by hand\namp-silent  ft817-silent\nmy_temp\n");
  // Setting a set word, or clearing a missing one, changes nothing; a word in a comment
  // is no word.
  EXPECT_EQ(withFault(text, "my_temp", true), text);
  EXPECT_EQ(withFault("# amp-reset\n", "amp-reset", std::nullopt), "# amp-reset\namp-reset\n");
  EXPECT_EQ(withFault("mount", "mount", true), "mount");
  EXPECT_EQ(withFault("mount-ro", "mount", true), "mount-ro\nmount\n");
}

TEST(KeySteps, PressesHoldLongEnoughForTheDebounceAndTheLongPressTime) {
  // The controller takes a change at the sixth equal sample, 2 ms apart.
  const std::vector<KeyStep> brief = keySteps(2, KeyAction::Short, 500ms);
  ASSERT_EQ(brief.size(), 2u);
  EXPECT_EQ(brief[0], (KeyStep{2, true, kShortHold}));
  EXPECT_GE(kShortHold, 60ms);
  EXPECT_EQ(brief[1].down, false);
  EXPECT_GE(brief[1].pause, 20ms) << "a following press must see the key released";
  const std::vector<KeyStep> held = keySteps(3, KeyAction::Long, 1200ms);
  ASSERT_EQ(held.size(), 2u);
  EXPECT_EQ(held[0], (KeyStep{3, true, 1700ms}));
  EXPECT_EQ(keySteps(4, KeyAction::Down, 500ms), (std::vector<KeyStep>{{4, true, 0ms}}));
  EXPECT_EQ(keySteps(4, KeyAction::Up, 500ms).front().down, false);
}

TEST(KeyPresser, RunsPressesInOrderAndStopsWithoutWaitingForAPause) {
  std::mutex mutex;
  std::vector<std::pair<int, bool>> seen;
  KeyPresser presser([&](int key, bool down) {
    std::scoped_lock lock(mutex);
    seen.emplace_back(key, down);
  });
  presser.queue(keySteps(1, KeyAction::Short, 500ms));
  presser.queue(keySteps(5, KeyAction::Short, 500ms));
  ASSERT_TRUE(presser.waitIdle(kLogTimeout));
  {
    std::scoped_lock lock(mutex);
    EXPECT_EQ(seen,
              (std::vector<std::pair<int, bool>>{{1, true}, {1, false}, {5, true}, {5, false}}));
    seen.clear();
  }
  // An hour's hold is cut short by stop(); what was queued after it never runs.
  presser.queue({{6, true, std::chrono::hours(1)}, {6, false, 0ms}});
  EXPECT_FALSE(presser.waitIdle(50ms));
  presser.stop();
  std::scoped_lock lock(mutex);
  EXPECT_EQ(seen, (std::vector<std::pair<int, bool>>{{6, true}}));
}

class WebViewRequests : public ::testing::Test {
 protected:
  WebReply post(std::string_view path, FormValues form) { return view_.handle("POST", path, form); }
  std::string state() { return view_.handle("GET", "/state", {}).body; }

  WebRoot root_;
  std::shared_ptr<Station> station_ = std::make_shared<Station>();
  AmpSimulator micro_{
      AmpSimulatorOptions{.root = root_.dir(), .watchFaultsFile = false, .writeWireFile = false}};
  ServiceKeyboard keyboard_{root_.keyboard()};
  WebView view_{WebViewOptions{
      .root = root_.dir(), .station = station_, .micro = &micro_, .keyboard = &keyboard_}};
};

TEST_F(WebViewRequests, BadParametersAreRefusedWithTheirReason) {
  struct Case {
    std::string_view path;
    FormValues form;
    std::string_view reason;
  };
  const std::vector<Case> cases = {
      {"/key", {{"key", "0"}, {"action", "short"}}, "key must be 1 to 6"},
      {"/key", {{"key", "7"}, {"action", "short"}}, "key must be 1 to 6"},
      {"/key", {{"key", "2x"}, {"action", "short"}}, "key must be 1 to 6"},
      {"/key", {{"key", "2"}, {"action", "tap"}}, "action must be"},
      {"/key", {{"key", "2"}}, "missing parameter action"},
      {"/key", {{"key", "2"}, {"key", "3"}, {"action", "short"}}, "given more than once"},
      {"/frequency", {{"hz", "99999"}}, "hz must be a whole number"},
      {"/frequency", {{"hz", "60000001"}}, "hz must be a whole number"},
      {"/frequency", {{"hz", "7.1e6"}}, "hz must be a whole number"},
      {"/frequency", {{"hz", "-7074000"}}, "hz must be a whole number"},
      {"/frequency", {{"hz", "99999999999999999999"}}, "hz must be a whole number"},
      {"/frequency", {{"hz", std::string(100, '1')}}, "too long"},
      {"/frequency", {}, "missing parameter hz"},
      {"/transmit", {{"on", "yes"}}, "on must be 0 or 1"},
      {"/drive", {{"watts", "200.5"}}, "watts must be a number from 0 to 200"},
      {"/drive", {{"watts", "nan"}}, "watts must be a number"},
      {"/drive", {{"watts", "inf"}}, "watts must be a number"},
      {"/drive", {{"watts", ""}}, "watts must be a number"},
      {"/swr", {{"swr", "0.9"}}, "swr must be a number from 1 to 50"},
      {"/swr", {{"swr", "51"}}, "swr must be a number from 1 to 50"},
      {"/fault", {{"word", "rm -rf"}}, "unknown fault word"},
      {"/fault", {{"word", "amp-temp1:99"}}, "unknown fault word"},
      {"/fault", {{"word", "amp-silent"}, {"on", "2"}}, "on must be 0 or 1"},
      {"/keyboard", {{"key", "F5"}}, "unknown key F5 (keys: SysRq, F1, F2, F3, F4, F10, F11, F12)"},
      {"/keyboard", {{"key", "99"}}, "unknown key 99"},
      {"/keyboard", {}, "missing parameter key"},
      {"/keyboard", {{"key", "F1"}, {"key", "F2"}}, "given more than once"},
  };
  const int reader = ::open(root_.keyboard().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  const StationState before = station_->get();
  for (const Case& c : cases) {
    const WebReply reply = post(c.path, c.form);
    EXPECT_EQ(reply.status, 400) << c.path << " " << reply.body;
    EXPECT_NE(reply.body.find(c.reason), std::string::npos) << c.path << ": " << reply.body;
    EXPECT_TRUE(reply.contentType.starts_with("text/plain"));
  }
  EXPECT_EQ(station_->get().receiveFreq(), before.receiveFreq());
  EXPECT_EQ(station_->get().pttWatts, before.pttWatts);
  EXPECT_FALSE(fs::exists(root_.faults()));
  EXPECT_TRUE(view_.waitKeysIdle(kLogTimeout));
  EXPECT_NE(state().find("\"keysHeld\":[]"), std::string::npos);
  EXPECT_TRUE(keyboardRecords(reader).empty()) << "a refused key was typed";
  ::close(reader);
}

TEST_F(WebViewRequests, UnknownPathsAndWrongMethods) {
  EXPECT_EQ(view_.handle("GET", "/nothing", {}).status, 404);
  EXPECT_EQ(view_.handle("POST", "/nothing", {}).status, 404);
  EXPECT_EQ(view_.handle("GET", "/frequency", {{"hz", "7074000"}}).status, 405);
  EXPECT_EQ(view_.handle("POST", "/state", {}).status, 405);
  EXPECT_EQ(station_->get().receiveFreq(), 14'070'000u);
  const WebReply page = view_.handle("GET", "/", {});
  EXPECT_EQ(page.status, 200);
  EXPECT_NE(page.body.find("id=\"panel\""), std::string::npos);
  EXPECT_EQ(page.body.find("http://"), std::string::npos) << "the page fetches nothing else";
}

TEST_F(WebViewRequests, ControlsReachTheStationTheMicroAndTheState) {
  EXPECT_EQ(post("/frequency", {{"hz", "7074000"}}).status, 200);
  EXPECT_EQ(post("/drive", {{"watts", "25.5"}}).status, 200);
  EXPECT_EQ(post("/transmit", {{"on", "1"}}).status, 200);
  EXPECT_EQ(post("/swr", {{"swr", "2.5"}}).status, 200);
  const StationState s = station_->get();
  EXPECT_EQ(s.receiveFreq(), 7'074'000u);
  EXPECT_TRUE(s.ptt);
  EXPECT_DOUBLE_EQ(s.driveWatts(), 25.5);
  EXPECT_NEAR(micro_.withMicro([](AmpMicro& m) { return m.loadSwr(); }), 2.5, 1e-9);
  const std::string json = state();
  EXPECT_NE(json.find("\"frequency\":7074000"), std::string::npos) << json;
  EXPECT_NE(json.find("\"transmit\":true"), std::string::npos) << json;
  EXPECT_NE(json.find("\"drive\":25.500"), std::string::npos) << json;
  EXPECT_NE(json.find("\"loadSwr\":2.500"), std::string::npos) << json;
  EXPECT_EQ(post("/transmit", {{"on", "0"}}).status, 200);
  EXPECT_FALSE(station_->get().ptt);
}

TEST_F(WebViewRequests, FaultToggleKeepsTheOtherWordsOfTheFile) {
  writeText(root_.faults(), "# by hand\nmount-rw=32\n");
  EXPECT_EQ(post("/fault", {{"word", "ft817-silent"}}).body, "ft817-silent on\n");
  EXPECT_EQ(slurp(root_.faults()), "# by hand\nmount-rw=32\nft817-silent\n");
  EXPECT_NE(state().find("\"faults\":[\"mount-rw\",\"ft817-silent\"]"), std::string::npos);
  EXPECT_EQ(post("/fault", {{"word", "ft817-silent"}, {"on", "1"}}).body, "ft817-silent on\n");
  EXPECT_EQ(post("/fault", {{"word", "ft817-silent"}}).body, "ft817-silent off\n");
  EXPECT_EQ(post("/fault", {{"word", "mount-rw"}, {"on", "0"}}).status, 200);
  EXPECT_EQ(slurp(root_.faults()), "# by hand\n");
}

TEST_F(WebViewRequests, KeysAreHeldAndReleasedOnTheGpioBlock) {
  GpioKeys keys(root_.dir() / "dev/mem");
  ASSERT_TRUE(keys.ok()) << keys.error();
  EXPECT_EQ(post("/key", {{"key", "3"}, {"action", "down"}}).status, 200);
  ASSERT_TRUE(view_.waitKeysIdle(kLogTimeout));
  EXPECT_TRUE(keys.down(3));
  EXPECT_NE(state().find("\"keysHeld\":[3]"), std::string::npos) << state();
  EXPECT_EQ(post("/key", {{"key", "3"}, {"action", "up"}}).status, 200);
  EXPECT_EQ(post("/key", {{"key", "1"}, {"action", "short"}}).status, 200);
  ASSERT_TRUE(view_.waitKeysIdle(kLogTimeout));
  EXPECT_EQ(keys.levels() & kKeysReleased, kKeysReleased);
  // Stopping releases what the page still holds.
  EXPECT_EQ(post("/key", {{"key", "6"}, {"action", "down"}}).status, 200);
  ASSERT_TRUE(view_.waitKeysIdle(kLogTimeout));
  EXPECT_TRUE(keys.down(6));
  view_.stop();
  EXPECT_FALSE(keys.down(6));
}

TEST_F(WebViewRequests, KeyboardButtonsTypeOneKeyEach) {
  ASSERT_TRUE(keyboard_.ok()) << keyboard_.error();
  const int reader = ::open(root_.keyboard().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  const std::string page = view_.handle("GET", "/", {}).body;
  for (const ServiceKey& key : serviceKeys()) {
    const std::string name(key.name);
    EXPECT_NE(page.find("\"" + name + "\""), std::string::npos) << "no button for " << name;
    const WebReply reply = post("/keyboard", {{"key", name}});
    EXPECT_EQ(reply.status, 200) << name << ": " << reply.body;
    EXPECT_EQ(reply.body, "keyboard " + name + "\n");
    const int code = key.code;
    EXPECT_EQ(keyboardRecords(reader),
              (std::vector<std::array<int, 3>>{{1, code, 1}, {0, 0, 0}, {1, code, 0}, {0, 0, 0}}))
        << name;
  }
  EXPECT_EQ(view_.handle("GET", "/keyboard", {{"key", "F12"}}).status, 405);
  EXPECT_TRUE(keyboardRecords(reader).empty());
  ::close(reader);
}

TEST_F(WebViewRequests, KeyboardThatCannotTakeAKeyIsUnavailable) {
  ASSERT_TRUE(keyboard_.ok()) << keyboard_.error();
  // Nobody reads: the FIFO fills until a key no longer fits.
  for (int i = 0; i < 100000 && keyboard_.press(KEY_F11); ++i) {
  }
  const WebReply full = post("/keyboard", {{"key", "F12"}});
  EXPECT_EQ(full.status, 503);
  EXPECT_NE(full.body.find("full"), std::string::npos) << full.body;

  WebView without(WebViewOptions{.root = root_.dir(), .station = station_, .micro = nullptr});
  const WebReply none = without.handle("POST", "/keyboard", {{"key", "F12"}});
  EXPECT_EQ(none.status, 503);
  EXPECT_NE(none.body.find("no service keyboard"), std::string::npos) << none.body;
  EXPECT_EQ(without.handle("POST", "/keyboard", {{"key", "F13"}}).status, 400)
      << "a bad key is refused before the keyboard is looked at";
}

TEST_F(WebViewRequests, PanelPngIsTheFramebufferInRgb) {
  const WebReply reply = view_.handle("GET", "/panel.png", {});
  ASSERT_EQ(reply.status, 200) << reply.body;
  EXPECT_EQ(reply.contentType, "image/png");
  const fs::path file = root_.dir() / "panel.png";
  writeText(file, reply.body);
  const std::optional<RgbImage> image = readPng(file);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, 800u);
  EXPECT_EQ(image->height, 480u);
  EXPECT_EQ(image->rgb[0], 0x10);
  EXPECT_EQ(image->rgb[1], 0x20);
  EXPECT_EQ(image->rgb[2], 0x30);
  fs::remove(root_.dir() / "dev/fb0");
  EXPECT_EQ(view_.handle("GET", "/panel.png", {}).status, 503);
}

TEST(KeySteps, HoldKeepsTheKeyDownAsLongAsAskedWithinTheLimit) {
  EXPECT_EQ(parseKeyAction("hold"), KeyAction::Hold);
  EXPECT_EQ(parseKeyAction("Hold"), std::nullopt);
  EXPECT_EQ(keySteps(5, KeyAction::Hold, 500ms, 1234ms),
            (std::vector<KeyStep>{{5, true, 1234ms}, {5, false, kReleasedGap}}));
  EXPECT_EQ(keySteps(5, KeyAction::Hold, 500ms, std::chrono::hours(1)).front().pause, kLongestHold);
}

TEST(PanelStateLines, TheLastKnownNameOfTheControllersLogLines) {
  struct Case {
    std::string_view line;
    std::optional<std::string_view> state;
  };
  const Case cases[] = {
      {"panel menu\n", "menu"},
      {"panel menu-edit\r\n", "menu-edit"},
      {"panel spectrum-edit", "spectrum-edit"},
      {"panel main\n", "main"},
      {"panel bogus\n", std::nullopt},
      {"panel \n", std::nullopt},
      {"panel menu extra\n", std::nullopt},
      {" panel menu\n", std::nullopt},
      {"corvid: panel menu\n", std::nullopt},
      {"key 5 short\n", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(panelStateOfLine(c.line), c.state) << c.line;
  for (std::string_view name : kPanelStateNames) {
    EXPECT_EQ(panelStateOfLine("panel " + std::string(name) + "\n"), name);
  }
  PanelStateWatch watch;
  EXPECT_EQ(watch.name(), "main") << "the main screen before the first line";
  for (std::string_view line : {"panel tune\n", "key 1 short\n", "panel nothing\n"})
    watch.feed(line);
  EXPECT_EQ(watch.name(), "tune");
  EXPECT_EQ(watch.changes(), 1u);
  watch.feed("panel memory-table\n");
  EXPECT_EQ(watch.name(), "memory-table");
}

TEST_F(WebViewRequests, HoldPressesTheKeyForTheTimeAskedAndStateTellsThePanelState) {
  struct Case {
    FormValues form;
    std::string_view reason;
  };
  const std::vector<Case> refused = {
      {{{"key", "2"}, {"action", "hold"}}, "missing parameter ms"},
      {{{"key", "2"}, {"action", "hold"}, {"ms", "60001"}}, "ms must be a whole number"},
      {{{"key", "2"}, {"action", "hold"}, {"ms", "-5"}}, "ms must be a whole number"},
      {{{"key", "2"}, {"action", "hold"}, {"ms", "1.5"}}, "ms must be a whole number"},
      {{{"key", "2"}, {"action", "short"}, {"ms", "100"}}, "ms goes only with action hold"},
  };
  for (const Case& c : refused) {
    const WebReply reply = post("/key", c.form);
    EXPECT_EQ(reply.status, 400) << reply.body;
    EXPECT_NE(reply.body.find(c.reason), std::string::npos) << reply.body;
  }
  GpioKeys keys(root_.dir() / "dev/mem");
  ASSERT_TRUE(keys.ok()) << keys.error();
  const auto start = std::chrono::steady_clock::now();
  const WebReply held = post("/key", {{"key", "4"}, {"action", "hold"}, {"ms", "400"}});
  EXPECT_EQ(held.body, "key 4 hold 400 ms\n");
  EXPECT_TRUE(waitUntil([&] { return keys.down(4); }, 1s));
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(keys.down(4)) << "released before the time asked";
  ASSERT_TRUE(view_.waitKeysIdle(kLogTimeout));
  EXPECT_FALSE(keys.down(4));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 400ms);

  // Without the controller's log no state is told; with it, its last panel line.
  EXPECT_EQ(state().find("panelState"), std::string::npos);
  PanelStateWatch watch;
  WebView withLog(WebViewOptions{.root = root_.dir(), .station = station_, .panelState = &watch});
  EXPECT_NE(withLog.handle("GET", "/state", {}).body.find("\"panelState\":\"main\""),
            std::string::npos);
  watch.feed("panel bank-reset\n");
  EXPECT_NE(withLog.handle("GET", "/state", {}).body.find("\"panelState\":\"bank-reset\""),
            std::string::npos);
  const std::string page = view_.handle("GET", "/", {}).body;
  for (std::string_view id :
       {"id=\"panel-state\"", "\"-press\"", "\"-holdms\"", "id=\"hold-ms\""}) {
    EXPECT_NE(page.find(id), std::string::npos) << id;
  }
}

// The real server: loopback only, form bodies, status codes.
TEST_F(WebViewRequests, ServesOnTheLoopbackInterface) {
  std::string error;
  ASSERT_TRUE(view_.start(0, error)) << error;
  ASSERT_GT(view_.port(), 0);
  httplib::Client client("127.0.0.1", view_.port());
  client.set_read_timeout(std::chrono::seconds(10));
  const httplib::Result page = client.Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  const httplib::Result set =
      client.Post("/frequency", "hz=21074000", "application/x-www-form-urlencoded");
  ASSERT_TRUE(set);
  EXPECT_EQ(set->status, 200) << set->body;
  EXPECT_EQ(station_->get().receiveFreq(), 21'074'000u);
  const httplib::Result bad =
      client.Post("/drive", "watts=1000", "application/x-www-form-urlencoded");
  ASSERT_TRUE(bad);
  EXPECT_EQ(bad->status, 400);
  EXPECT_NE(bad->body.find("watts must be"), std::string::npos);
  const httplib::Result missing = client.Get("/favicon.ico");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);
  // Bound to 127.0.0.1 only: another loopback address (a server on 0.0.0.0 would
  // answer it) gets no connection.
  httplib::Client other("127.0.0.2", view_.port());
  other.set_connection_timeout(std::chrono::seconds(2));
  EXPECT_FALSE(other.Get("/state"));
  // A port in use, or no port at all, is refused with its reason.
  WebView second(WebViewOptions{.root = root_.dir(), .station = station_, .micro = nullptr});
  EXPECT_FALSE(second.start(view_.port(), error));
  EXPECT_NE(error.find("cannot listen"), std::string::npos);
  EXPECT_FALSE(second.start(70000, error));
  view_.stop();
}

}  // namespace
}  // namespace corvid::bench::test

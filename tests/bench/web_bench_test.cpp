// The bench's panel as others see it, against the real controller: "corvid-bench
// snapshot" on a running root, and the web view of a running corvid-bench in headless
// Chromium, driven through chromedriver's WebDriver protocol (JSON by hand over
// httplib). One bench run per test: the controller's start-up takes about 14 s.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "sim/child_process.h"
#include "sim/framebuffer_png.h"
#include "tests/bench/bench_harness.h"

namespace corvid::bench::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kChromium = "/usr/bin/chromium";
constexpr const char* kChromedriver = "/usr/bin/chromedriver";

std::string slurp(const std::filesystem::path& path) {
  return readWholeFile(path).value_or("");
}

// Reads a child's standard error on a thread of its own, so a chatty child never
// blocks on a full pipe; what it said is kept for the failure messages.
class StderrDrain {
 public:
  explicit StderrDrain(int fd)
      : thread_([this, fd] {
          std::array<char, 4096> buffer{};
          for (;;) {
            const ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            std::scoped_lock lock(mutex_);
            if (text_.size() < 200000) text_.append(buffer.data(), static_cast<size_t>(n));
          }
        }) {}
  ~StderrDrain() { thread_.join(); }  // the pipe ends when its child is reaped
  StderrDrain(const StderrDrain&) = delete;
  StderrDrain& operator=(const StderrDrain&) = delete;
  std::string text() const {
    std::scoped_lock lock(mutex_);
    return text_;
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;
  std::thread thread_;
};

// A started child with its output in a file and its standard error drained. Stopped
// (with its whole process group when asked) at the end of its scope.
class Program {
 public:
  Program(std::vector<std::string> argv, fs::path output, bool killGroup)
      : output_(std::move(output)), killGroup_(killGroup) {
    ChildOptions options;
    options.argv = std::move(argv);
    options.stdoutFile = output_;
    options.group = ProcessGroup::Own;
    child_ = ChildProcess::start(options, error_);
    if (child_) drain_.emplace(child_->stderrFd());
  }
  ~Program() { stop(); }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool started() const { return child_.has_value(); }
  const std::string& error() const { return error_; }
  std::string output() const { return slurp(output_); }
  std::string errors() const { return drain_ ? drain_->text() : std::string(); }
  bool waitForOutput(std::string_view text, std::chrono::milliseconds timeout = kLogTimeout) {
    return waitUntil([&] { return output().find(text) != std::string::npos; }, timeout);
  }
  void stop() {
    if (!child_) return;
    const pid_t group = child_->pid();
    // Chromium's processes are chromedriver's: its group goes with it.
    if (killGroup_) ::kill(-group, SIGTERM);
    child_->stop();
    if (killGroup_) ::kill(-group, SIGKILL);
    drain_.reset();
    child_.reset();
  }

 private:
  fs::path output_;
  bool killGroup_;
  std::string error_;
  std::optional<ChildProcess> child_;
  std::optional<StderrDrain> drain_;
};

// A free TCP port of the loopback interface, as the kernel hands one out.
int freeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

// Where the value of "key" starts in a JSON text (blanks after the colon skipped).
// Plain searching: the screenshot's value runs to hundreds of kilobytes, too long for
// a backtracking regular expression.
// The browser driver answers that it is ready.
bool driverReady(int port) {
  httplib::Client probe("127.0.0.1", port);
  const httplib::Result status = probe.Get("/status");
  return status && status->body.find("\"ready\":true") != std::string::npos;
}

std::optional<size_t> valueAt(const std::string& json, const std::string& key) {
  const std::string quoted = "\"" + key + "\"";
  for (size_t at = json.find(quoted); at != std::string::npos; at = json.find(quoted, at + 1)) {
    size_t i = json.find_first_not_of(" \t\r\n", at + quoted.size());
    if (i == std::string::npos || json[i] != ':') continue;
    i = json.find_first_not_of(" \t\r\n", i + 1);
    if (i != std::string::npos) return i;
  }
  return std::nullopt;
}

// The string value of "key" (no escapes in the values read here).
std::optional<std::string> jsonText(const std::string& json, const std::string& key) {
  const std::optional<size_t> at = valueAt(json, key);
  if (!at || json[*at] != '"') return std::nullopt;
  const size_t end = json.find('"', *at + 1);
  if (end == std::string::npos) return std::nullopt;
  return json.substr(*at + 1, end - *at - 1);
}

std::optional<long> jsonNumber(const std::string& json, const std::string& key) {
  const std::optional<size_t> at = valueAt(json, key);
  if (!at) return std::nullopt;
  long value = 0;
  const char* begin = json.data() + *at;
  const auto [end, ec] = std::from_chars(begin, json.data() + json.size(), value);
  if (ec != std::errc{} || end == begin) return std::nullopt;
  return value;
}

std::optional<std::vector<uint8_t>> base64(std::string_view text) {
  std::vector<uint8_t> out;
  uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z')
      v = c - 'A';
    else if (c >= 'a' && c <= 'z')
      v = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      v = c - '0' + 52;
    else if (c == '+')
      v = 62;
    else if (c == '/')
      v = 63;
    else if (c == '=')
      break;
    else if (c == '\n' || c == '\r')
      continue;
    else
      return std::nullopt;
    bits = (bits << 6) | static_cast<uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<uint8_t>((bits >> count) & 0xFF));
    }
  }
  return out;
}

// A WebDriver session of chromedriver: headless Chromium with a profile of its own.
class Browser {
 public:
  Browser(int driverPort, const fs::path& profile) : driver_("127.0.0.1", driverPort) {
    driver_.set_connection_timeout(5s);
    driver_.set_read_timeout(60s);
    const std::string args =
        "[\"--headless\",\"--no-sandbox\",\"--disable-gpu\",\"--disable-quic\","
        "\"--no-first-run\",\"--disable-background-networking\","
        "\"--disable-component-update\",\"--disable-sync\",\"--window-size=1000,1400\","
        "\"--user-data-dir=" +
        profile.string() + "\"]";
    const std::string body =
        "{\"capabilities\":{\"alwaysMatch\":{\"browserName\":\"chrome\","
        "\"goog:chromeOptions\":{\"binary\":\"" +
        std::string(kChromium) + "\",\"args\":" + args + "}}}}";
    const std::string reply = post("/session", body);
    if (std::optional<std::string> id = jsonText(reply, "sessionId"))
      session_ = *id;
    else
      error_ = reply;
  }
  ~Browser() {
    if (!session_.empty()) driver_.Delete("/session/" + session_);
  }
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

  bool ok() const { return !session_.empty(); }
  const std::string& error() const { return error_; }

  std::string post(const std::string& path, const std::string& body) {
    const httplib::Result result = driver_.Post(path, body, "application/json");
    return result ? result->body
                  : "no reply from chromedriver: " + httplib::to_string(result.error());
  }
  std::string get(const std::string& path) {
    const httplib::Result result = driver_.Get(path);
    return result ? result->body
                  : "no reply from chromedriver: " + httplib::to_string(result.error());
  }
  std::string session() const { return "/session/" + session_; }

  std::string open(const std::string& url) {
    return post(session() + "/url", "{\"url\":\"" + url + "\"}");
  }
  // Runs a script (its source without double quotes or backslashes); the reply.
  std::string script(const std::string& source) {
    return post(session() + "/execute/sync", "{\"script\":\"" + source + "\",\"args\":[]}");
  }
  // Finds by CSS selector; the element's reference, empty when there is none.
  std::string find(const std::string& css) {
    const std::string reply =
        post(session() + "/element", "{\"using\":\"css selector\",\"value\":\"" + css + "\"}");
    return jsonText(reply, "element-6066-11e4-a52e-4f735466cecf").value_or("");
  }
  std::string click(const std::string& element) {
    return post(session() + "/element/" + element + "/click", "{}");
  }
  std::string clear(const std::string& element) {
    return post(session() + "/element/" + element + "/clear", "{}");
  }
  std::string type(const std::string& element, const std::string& text) {
    return post(session() + "/element/" + element + "/value", "{\"text\":\"" + text + "\"}");
  }

 private:
  httplib::Client driver_;
  std::string session_;
  std::string error_;
};

std::vector<std::string> benchCommand(const fs::path& dir) {
  std::vector<std::string> argv = emulatorWords();
  argv.insert(argv.end(), {CORVID_BENCH_BINARY, "--dir", dir.string(), "--fresh", "--corvid",
                           CORVID_BINARY, "--standin", CORVID_STANDIN_BINARY});
  return argv;
}

// The web view's port that a bench started with "--web 0" announces; 0 when it did not
// announce one (the test fails then, with the bench's output).
int announcedWebPort(Program& bench) {
  constexpr std::string_view kAnnounce = "corvid-bench: web view http://127.0.0.1:";
  if (!bench.waitForOutput(std::string(kAnnounce))) {
    ADD_FAILURE() << bench.output() << bench.errors();
    return 0;
  }
  const std::string started = bench.output();
  const size_t at = started.find(kAnnounce) + kAnnounce.size();
  int port = 0;
  const auto parsed = std::from_chars(started.data() + at, started.data() + started.size(), port);
  if (parsed.ec != std::errc{} || port <= 0 || *parsed.ptr != '/') {
    ADD_FAILURE() << started;
    return 0;
  }
  return port;
}

TEST(BenchSnapshot, WritesThePanelOfARunningRootAndRefusesWhatIsNoRoot) {
  CorvidRun run;
  ASSERT_TRUE(run.prepared());
  ASSERT_TRUE(run.start());
  // The countdown is drawn over the start picture.
  ASSERT_TRUE(run.waitForLog("Time Loading ... 9..")) << run.log();
  TempFolder out;
  const fs::path png = out.path() / "panel.png";
  std::vector<std::string> argv = emulatorWords();
  argv.insert(argv.end(),
              {CORVID_BENCH_BINARY, "snapshot", png.string(), "--dir", run.root().dir().string()});
  {
    Program snapshot(argv, out.path() / "snapshot.out", false);
    ASSERT_TRUE(snapshot.started()) << snapshot.error();
    ASSERT_TRUE(snapshot.waitForOutput("panel written to"))
        << snapshot.output() << snapshot.errors();
  }
  const std::optional<RgbImage> image = readPng(png);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, 800u);
  EXPECT_EQ(image->height, 480u);
  const std::set<std::array<uint8_t, 3>> colours = [&] {
    std::set<std::array<uint8_t, 3>> seen;
    for (size_t i = 0; i + 2 < image->rgb.size() && seen.size() < 3; i += 3) {
      seen.insert({image->rgb[i], image->rgb[i + 1], image->rgb[i + 2]});
    }
    return seen;
  }();
  EXPECT_GT(colours.size(), 1u) << "the panel is one flat colour";

  // No bench root, or a root without its framebuffer: a clear reason and status 2.
  for (const bool withRoot : {false, true}) {
    std::vector<std::string> bad = emulatorWords();
    const fs::path dir = withRoot ? run.root().dir() : out.path();
    if (withRoot) fs::rename(run.root().framebuffer(), out.path() / "fb0");
    bad.insert(bad.end(), {CORVID_BENCH_BINARY, "snapshot", (out.path() / "x.png").string(),
                           "--dir", dir.string()});
    ChildOptions options;
    options.argv = bad;
    std::string error;
    std::optional<ChildProcess> child = ChildProcess::start(options, error);
    ASSERT_TRUE(child) << error;
    std::string said;
    std::array<char, 512> buffer{};
    for (ssize_t n; (n = ::read(child->stderrFd(), buffer.data(), buffer.size())) > 0;) {
      said.append(buffer.data(), static_cast<size_t>(n));
    }
    EXPECT_EQ(child->wait().code, 2);
    EXPECT_NE(said.find(withRoot ? "no framebuffer" : "is no bench root"), std::string::npos)
        << said;
    EXPECT_FALSE(fs::exists(out.path() / "x.png"));
  }
}

TEST(BrowserView, KeysAndFrequencyFromThePageReachTheController) {
  ASSERT_TRUE(fs::exists(kChromium) && fs::exists(kChromedriver))
      << "the browser test needs Debian's chromium and chromium-driver (" << kChromium << ", "
      << kChromedriver << "): apt-get install chromium chromium-driver";
  TempFolder temp;
  ASSERT_FALSE(temp.path().empty());

  std::vector<std::string> argv = benchCommand(temp.path() / "root");
  argv.insert(argv.end(), {"--interface", "817", "--web", "0"});
  Program bench(argv, temp.path() / "bench.out", false);
  ASSERT_TRUE(bench.started()) << bench.error();
  const int benchPort = announcedWebPort(bench);
  ASSERT_GT(benchPort, 0);
  const std::string url = "http://127.0.0.1:" + std::to_string(benchPort) + "/";

  const int driverPort = freeLoopbackPort();
  ASSERT_GT(driverPort, 0);
  Program driver({kChromedriver, "--port=" + std::to_string(driverPort)},
                 temp.path() / "chromedriver.out", true);
  ASSERT_TRUE(driver.started()) << driver.error();
  ASSERT_TRUE(waitUntil([&] { return driverReady(driverPort); }))
      << driver.output() << driver.errors();

  Browser browser(driverPort, temp.path() / "profile");
  ASSERT_TRUE(browser.ok()) << browser.error() << driver.output();
  browser.open(url);
  ASSERT_TRUE(waitUntil([&] {
    return jsonNumber(browser.script("var i = document.getElementById('panel'); "
                                     "return i.complete ? i.naturalWidth : 0;"),
                      "value") == 800;
  })) << browser.script("return document.documentElement.outerHTML;");

  // The controller takes no key events until its start-up is over.
  ASSERT_TRUE(bench.waitForOutput("Timer thread started")) << bench.output();
  const std::string shortKey = browser.find("#key2-short");
  ASSERT_FALSE(shortKey.empty());
  browser.click(shortKey);
  EXPECT_TRUE(bench.waitForOutput("key 2 short")) << bench.output();
  const std::string longKey = browser.find("#key3-long");
  ASSERT_FALSE(longKey.empty());
  browser.click(longKey);
  EXPECT_TRUE(bench.waitForOutput("key 3 long")) << bench.output();

  // A frequency typed into the form: the FT-817 bank's controller reads it over CAT.
  ASSERT_TRUE(bench.waitForOutput("CAT FT817 freq 14070000")) << bench.output();
  const std::string field = browser.find("#freq");
  ASSERT_FALSE(field.empty());
  browser.clear(field);
  browser.type(field, "7074000");
  browser.click(browser.find("#freq-set"));
  EXPECT_TRUE(bench.waitForOutput("CAT FT817 freq 7074000")) << bench.output();
  httplib::Client state("127.0.0.1", benchPort);
  const httplib::Result json = state.Get("/state");
  ASSERT_TRUE(json);
  EXPECT_EQ(jsonNumber(json->body, "frequency"), 7074000) << json->body;

  // The page as the browser shows it.
  const std::string shot = browser.get(browser.session() + "/screenshot");
  const std::optional<std::string> encoded = jsonText(shot, "value");
  ASSERT_TRUE(encoded) << shot.substr(0, 200);
  const std::optional<std::vector<uint8_t>> png = base64(*encoded);
  ASSERT_TRUE(png);
  const fs::path file = temp.path() / "web_view.png";
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(png->data()), std::ssize(*png));
  const std::optional<RgbImage> image = readPng(file);
  ASSERT_TRUE(image);
  EXPECT_GT(image->width, 800u);
  // Kept beside the test binary for a look after the run.
  std::error_code ec;
  fs::copy_file(file, "web_view_screenshot.png", fs::copy_options::overwrite_existing, ec);
}

size_t occurrences(const std::string& text, std::string_view what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The page's panel state beside the picture, the press-and-hold and timed keys, and the
// same keys from "corvid-bench press": the controller's key events and its panel lines.
TEST(BrowserView, PanelStateHeldAndTimedKeysFromThePageAndTheCommandLine) {
  ASSERT_TRUE(fs::exists(kChromium) && fs::exists(kChromedriver))
      << "the browser test needs Debian's chromium and chromium-driver";
  TempFolder temp;
  ASSERT_FALSE(temp.path().empty());
  const fs::path root = temp.path() / "root";
  std::vector<std::string> argv = benchCommand(root);
  argv.insert(argv.end(), {"--web", "0"});
  Program bench(argv, temp.path() / "bench.out", false);
  ASSERT_TRUE(bench.started()) << bench.error();
  const int benchPort = announcedWebPort(bench);
  ASSERT_GT(benchPort, 0);

  const int driverPort = freeLoopbackPort();
  ASSERT_GT(driverPort, 0);
  Program driver({kChromedriver, "--port=" + std::to_string(driverPort)},
                 temp.path() / "chromedriver.out", true);
  ASSERT_TRUE(driver.started()) << driver.error();
  ASSERT_TRUE(waitUntil([&] { return driverReady(driverPort); })) << driver.output();
  Browser browser(driverPort, temp.path() / "profile");
  ASSERT_TRUE(browser.ok()) << browser.error() << driver.output();
  browser.open("http://127.0.0.1:" + std::to_string(benchPort) + "/");
  const auto shown = [&] {
    return jsonText(browser.script("return document.getElementById('panel-state').textContent;"),
                    "value")
        .value_or("");
  };
  const auto count = [&](std::string_view what) { return occurrences(bench.output(), what); };
  const auto waitMore = [&](std::string_view what, size_t before) {
    return waitUntil([&] { return count(what) > before; });
  };
  ASSERT_TRUE(bench.waitForOutput("Timer thread started")) << bench.output();
  EXPECT_TRUE(waitUntil([&] { return shown() == "main"; })) << shown();

  // SET: the menu, on the page as in the log.
  size_t menus = count("panel menu\n");
  browser.click(browser.find("#key5-short"));
  EXPECT_TRUE(waitMore("panel menu\n", menus)) << bench.output();
  EXPECT_TRUE(waitUntil([&] { return shown() == "menu"; })) << shown();

  // BACK, held with the mouse button past the long-press time: one long event.
  size_t mains = count("panel main\n");
  const size_t longOnes = count("key 1 long\n");
  browser.script(
      "document.getElementById('key1-press').dispatchEvent(new PointerEvent('pointerdown', "
      "{pointerId: 1, bubbles: true})); return 1;");
  EXPECT_TRUE(waitMore("key 1 long\n", longOnes)) << bench.output();
  browser.script(
      "document.getElementById('key1-press').dispatchEvent(new PointerEvent('pointerup', "
      "{pointerId: 1, bubbles: true})); return 1;");
  EXPECT_TRUE(waitMore("panel main\n", mains)) << bench.output();
  EXPECT_TRUE(waitUntil([&] { return shown() == "main"; })) << shown();
  httplib::Client state("127.0.0.1", benchPort);
  EXPECT_TRUE(waitUntil([&] {
    const httplib::Result json = state.Get("/state");
    return json && json->body.find("\"keysHeld\":[]") != std::string::npos;
  })) << "the key stays held after the mouse button is up";

  // A timed hold of 900 ms: a long event of key 3 (the antenna key).
  const size_t antennas = count("key 3 long\n");
  browser.script("document.getElementById('hold-ms').value = '900'; return 1;");
  browser.click(browser.find("#key3-holdms"));
  EXPECT_TRUE(waitMore("key 3 long\n", antennas)) << bench.output();
  // Released after the 900 ms: the panel takes no second key while one is down.
  EXPECT_TRUE(waitUntil([&] {
    const httplib::Result json = state.Get("/state");
    return json && json->body.find("\"keysHeld\":[]") != std::string::npos;
  }));
  std::this_thread::sleep_for(200ms);

  // The command line: short and long presses, and a key that is none.
  const auto press = [&](std::vector<std::string> words) {
    std::vector<std::string> command = emulatorWords();
    command.insert(command.end(), {CORVID_BENCH_BINARY, "press"});
    command.insert(command.end(), words.begin(), words.end());
    command.insert(command.end(), {"--dir", root.string()});
    ChildOptions options;
    options.argv = command;
    std::string error;
    std::optional<ChildProcess> child = ChildProcess::start(options, error);
    EXPECT_TRUE(child) << error;
    return child ? child->wait().code : -1;
  };
  menus = count("panel menu\n");
  EXPECT_EQ(press({"5"}), 0);
  EXPECT_TRUE(waitMore("panel menu\n", menus)) << bench.output();
  mains = count("panel main\n");
  const size_t backs = count("key 1 long\n");
  EXPECT_EQ(press({"1", "--long"}), 0);
  EXPECT_TRUE(waitMore("key 1 long\n", backs)) << bench.output();
  EXPECT_TRUE(waitMore("panel main\n", mains)) << bench.output();
  EXPECT_EQ(press({"7"}), 2);
  EXPECT_EQ(press({"2", "--hold", "99999"}), 2);
  EXPECT_TRUE(waitUntil([&] { return shown() == "main"; })) << shown();
}

// Several clients at once, as a browser's connections and the soak's requests come: every
// request answered, and the bench's worker threads meet nothing its sanitizer reports
// (under ThreadSanitizer, the library's own synchronisation is left to the library).
TEST(BenchWebView, ConcurrentRequestsAreAllAnsweredWithoutASanitizerReport) {
  TempFolder temp;
  ASSERT_FALSE(temp.path().empty());
  std::vector<std::string> argv = benchCommand(temp.path() / "root");
  argv.insert(argv.end(), {"--web", "0"});
  Program bench(argv, temp.path() / "bench.out", false);
  ASSERT_TRUE(bench.started()) << bench.error();
  const int port = announcedWebPort(bench);
  ASSERT_GT(port, 0);

  constexpr int kClients = 6;
  constexpr int kRequests = 20;
  std::atomic<int> answered{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      for (int r = 0; r < kRequests; ++r) {
        // A fresh connection each time: the server hands each to a worker of its pool.
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(10s);
        const httplib::Result reply =
            r % 2 == 0 ? client.Get("/state")
                       : client.Post("/frequency",
                                     "hz=" + std::to_string(7000000 + 1000 * (c * kRequests + r)),
                                     "application/x-www-form-urlencoded");
        if (reply && reply->status == 200) ++answered;
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(answered.load(), kClients * kRequests);
  // A report is written when the race is seen; a moment for the last one's lines.
  std::this_thread::sleep_for(500ms);
  const std::string errors = bench.errors();
  for (const char* report :
       {"WARNING: ThreadSanitizer", "ERROR: AddressSanitizer", "runtime error:"}) {
    EXPECT_EQ(errors.find(report), std::string::npos) << errors.substr(0, 6000);
  }
}

// A corvid-bench run with its USB devices: the controller starts with umockdev's preload
// library and, in a sanitizer build, the sanitizer's runtime before it; the programs it
// runs inherit the list (without ThreadSanitizer's runtime, which crashes the shell).
// Its shell commands reach the stand-ins: the LAN information after the loader's
// countdown calls my_vorn, the settings' writes mount.
TEST(BenchRun, TheControllersCommandsReachTheStandIns) {
  TempFolder temp;
  ASSERT_FALSE(temp.path().empty());
  Program bench(benchCommand(temp.path() / "root"), temp.path() / "bench.out", false);
  ASSERT_TRUE(bench.started()) << bench.error();
  const fs::path calls = temp.path() / "root/var/log/bench-calls.log";
  const bool called =
      waitUntil([&] { return slurp(calls).find("my_vorn") != std::string::npos; }, 90s);
  const std::string output = bench.output();
  EXPECT_TRUE(called) << "calls:\n"
                      << slurp(calls) << "\nbench:\n"
                      << output.substr(output.size() > 6000 ? output.size() - 6000 : 0);
  EXPECT_NE(slurp(calls).find("mount "), std::string::npos) << slurp(calls);
}

}  // namespace
}  // namespace corvid::bench::test

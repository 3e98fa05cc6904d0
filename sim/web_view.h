// The bench's web view: the live panel, its six keys and the simulators' main controls
// in a browser, served on the loopback interface only (127.0.0.1). The page (web_page.h)
// polls GET /panel.png (the framebuffer DIR/dev/fb0 as a PNG) and GET /state (JSON) a
// few times a second and sends its actions as POST requests with form parameters:
//
//   POST /key        key=1..6 action=short|long|down|up|hold [ms=0..60000 with hold]
//   POST /frequency  hz=100000..60000000      the station's shown frequency
//   POST /transmit   on=0|1                   the operator's PTT
//   POST /drive      watts=0..200             drive while transmitting
//   POST /swr        swr=1..50                the micro's load (replaces a tuner model)
//   POST /fault      word=W [on=0|1]          a word of DIR/bench/faults, toggled or set
//   POST /keyboard   key=SysRq|F1..F4|F10..F12  one press on the service keyboard
//
// A bad parameter is answered 400 with the reason as plain text, an unknown path 404,
// a known path with the wrong method 405, a control whose simulator or device is absent
// or cannot take it (the service keyboard full) 503.
//
// Keys are pressed through the root's GPIO block (gpio_keys.h): a short press holds
// 150 ms, a long press the long-press time of the root's setup.txt plus 0.5 s, "hold"
// the time asked for, "down" until "up". Presses run on a timer thread of their own, one
// after the other with a released gap between them, so that the reply comes at once and
// two quick clicks still make two presses.
//
// GET /state also tells the panel state the controller last reported ("panelState",
// panel_state.h) and whether a remote client is with it ("remoteClient": "none",
// "connected (ADDRESS)", "logged in (ADDRESS)", remote_client_watch.h) when the bench
// hands the view its watches of the controller's log.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sim/amp_simulator.h"
#include "sim/bench_root.h"
#include "sim/gpio_keys.h"
#include "sim/panel_state.h"
#include "sim/remote_client_watch.h"
#include "sim/service_keyboard.h"
#include "sim/station.h"

namespace httplib {
class Server;
}

namespace corvid::bench {

// What a request answers.
struct WebReply {
  int status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
};

// Form and query parameters, as the HTTP server hands them over.
using FormValues = std::multimap<std::string, std::string>;

// The fault words the page offers: the stand-ins', the micro's, the transceivers'.
std::span<const std::string_view> webFaultWords();

// A faults file text with word set (on), cleared (off) or toggled (empty); the other
// words, their order, the comments and the blank lines stay as they are. A stand-in's
// word with an exit status ("mount-rw=32") counts as its word.
std::string withFault(std::string_view faultsText, std::string_view word, std::optional<bool> on);
bool hasFault(std::string_view faultsText, std::string_view word);

// Runs key steps on a thread of its own, in the order they were queued.
class KeyPresser {
 public:
  using Sink = std::function<void(int key, bool down)>;
  explicit KeyPresser(Sink sink);
  ~KeyPresser();
  KeyPresser(const KeyPresser&) = delete;
  KeyPresser& operator=(const KeyPresser&) = delete;

  void queue(const std::vector<KeyStep>& steps);
  // Waits until every queued step and its pause is done; false after the timeout.
  bool waitIdle(std::chrono::milliseconds timeout);
  // Ends the thread; steps still queued are dropped.
  void stop();

 private:
  void run();

  Sink sink_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<KeyStep> steps_;
  bool busy_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

struct WebViewOptions {
  std::filesystem::path root;                       // the bench root (absolute)
  std::shared_ptr<Station> station;                 // the transceivers' station
  AmpSimulator* micro = nullptr;                    // the amplifier micro simulator; may be absent
  ServiceKeyboard* keyboard = nullptr;              // the root's service keyboard; may be absent
  const PanelStateWatch* panelState = nullptr;      // the controller's panel state; may be absent
  const RemoteClientWatch* remoteClient = nullptr;  // the server's client; may be absent
};

class WebView {
 public:
  explicit WebView(WebViewOptions options);
  ~WebView();
  WebView(const WebView&) = delete;
  WebView& operator=(const WebView&) = delete;

  // Listens on 127.0.0.1:port (0: a free port) and serves on threads of its own; false
  // (with error) when the port cannot be had.
  bool start(int port, std::string& error);
  // The port listened on; 0 before start.
  int port() const { return port_; }
  // Ends the server and its threads and releases every key it holds.
  void stop();

  // One request as the server hands it over (also the unit tests' way in).
  WebReply handle(std::string_view method, std::string_view path, const FormValues& form);
  // Waits until the queued key presses are done; false after the timeout.
  bool waitKeysIdle(std::chrono::milliseconds timeout) { return presser_.waitIdle(timeout); }

 private:
  WebReply onKey(const FormValues& form);
  WebReply onFrequency(const FormValues& form);
  WebReply onTransmit(const FormValues& form);
  WebReply onDrive(const FormValues& form);
  WebReply onSwr(const FormValues& form);
  WebReply onFault(const FormValues& form);
  WebReply onKeyboard(const FormValues& form);
  WebReply panelPng() const;
  WebReply state();

  WebViewOptions options_;
  BenchRoot root_;
  GpioKeys gpio_;
  KeyPresser presser_;
  std::mutex faultsMutex_;  // one read-change-write of the faults file at a time
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
};

}  // namespace corvid::bench

#include "sim/web_view.h"

#include <httplib.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "sim/faults.h"
#include "sim/framebuffer_png.h"
#include "sim/root_settings.h"
#include "sim/web_page.h"

namespace corvid::bench {

namespace {

constexpr std::string_view kText = "text/plain; charset=utf-8";
constexpr size_t kMaxValueLength = 64;

// The station's frequencies are 10 Hz steps of the FT-817 and eight hexadecimal digits
// of the EXT IO records; the page keeps to the amplifier's HF and 6 m range with margin.
constexpr uint32_t kMinFrequency = 100'000;
constexpr uint32_t kMaxFrequency = 60'000'000;
constexpr double kMaxDrive = 200.0;
constexpr double kMinSwr = 1.0;
constexpr double kMaxSwr = 50.0;

constexpr std::array<std::string_view, 42> kFaultWords = {
    // The stand-in programs (faults.h).
    "mount-rw", "mount-ro", "mount", "rm", "reboot", "my_temp", "my_vorn", "lsusb", "stty", "tput",
    "sudo", "ifup", "ifdown", "fbgrab", "getpack.sh", "getpack2.sh", "sshshell",
    // The amplifier micro (micro_faults.h); the words with a value carry a typical one.
    "amp-silent", "amp-bad-crc", "amp-lower-crc", "amp-refuse", "amp-garbage", "amp-semicolon",
    "amp-overlong", "amp-late:500", "amp-high-swr", "amp-reset", "amp-temp1:75", "amp-temp2:75",
    // The transceivers (ft817_sim.h, extio_sim.h, cat_port_sim.h).
    "ft817-silent", "ft817-bad-bcd", "ft817-drop-byte", "extio-silent", "extio-junk",
    "extio-oversized", "cat-silent", "cat-no-id", "cat-pieces", "cat-gone",
    // Alarm bits of the micro's status reply.
    "amp-alarm:01", "amp-alarm:80",
    // Bit 3 of the micro's third status digit: the amplifier is locked.
    "amp-status-c:8"};

WebReply textReply(int status, std::string text) {
  return {status, std::string(kText), std::move(text) + "\n"};
}
WebReply badRequest(std::string text) {
  return textReply(400, std::move(text));
}

// The single value of a parameter; empty with why set when it is missing, repeated or
// longer than any valid value.
std::optional<std::string> valueOf(const FormValues& form, const std::string& name,
                                   std::string& why) {
  const auto [first, last] = form.equal_range(name);
  if (first == last) {
    why = "missing parameter " + name;
    return std::nullopt;
  }
  if (std::next(first) != last) {
    why = "parameter " + name + " given more than once";
    return std::nullopt;
  }
  if (first->second.size() > kMaxValueLength) {
    why = "parameter " + name + " is too long";
    return std::nullopt;
  }
  return first->second;
}

std::optional<uint32_t> wholeNumber(std::string_view text) {
  uint32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<double> realNumber(std::string_view text) {
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc{} || end != text.data() + text.size() ||
      !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<bool> onOff(std::string_view text) {
  if (text == "1" || text == "on" || text == "true") return true;
  if (text == "0" || text == "off" || text == "false") return false;
  return std::nullopt;
}

// A real number parameter within [low, high].
std::optional<double> realIn(const FormValues& form, const std::string& name, double low,
                             double high, std::string& why) {
  const std::optional<std::string> text = valueOf(form, name, why);
  if (!text) return std::nullopt;
  const std::optional<double> value = realNumber(*text);
  if (!value || *value < low || *value > high) {
    char range[64];
    std::snprintf(range, sizeof range, "%g to %g", low, high);
    why = name + " must be a number from " + range;
    return std::nullopt;
  }
  return value;
}

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string jsonNumber(double value) {
  if (!std::isfinite(value)) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

std::string_view jsonBool(bool value) {
  return value ? "true" : "false";
}

std::string slurp(const std::filesystem::path& path) {
  return readWholeFile(path).value_or("");
}

// A word of a faults file line without its exit status: "mount-rw=32" is "mount-rw".
std::string_view bareWord(std::string_view token) {
  return token.substr(0, token.find('='));
}

// The words of one line (before a '#'), with their positions in the line.
struct Token {
  size_t at;
  size_t size;
};
std::vector<Token> tokensOf(std::string_view line) {
  std::vector<Token> tokens;
  const size_t hash = line.find('#');
  const std::string_view words = line.substr(0, hash);
  size_t i = 0;
  while ((i = words.find_first_not_of(" \t\r", i)) != std::string_view::npos) {
    size_t end = words.find_first_of(" \t\r", i);
    if (end == std::string_view::npos) end = words.size();
    tokens.push_back({i, end - i});
    i = end;
  }
  return tokens;
}

}  // namespace

std::span<const std::string_view> webFaultWords() {
  return kFaultWords;
}

bool hasFault(std::string_view faultsText, std::string_view word) {
  size_t start = 0;
  while (start < faultsText.size()) {
    size_t end = faultsText.find('\n', start);
    if (end == std::string_view::npos) end = faultsText.size();
    const std::string_view line = faultsText.substr(start, end - start);
    for (const Token& t : tokensOf(line)) {
      if (bareWord(line.substr(t.at, t.size)) == word) return true;
    }
    start = end + 1;
  }
  return false;
}

std::string withFault(std::string_view faultsText, std::string_view word, std::optional<bool> on) {
  const bool present = hasFault(faultsText, word);
  const bool wanted = on.value_or(!present);
  if (wanted == present) return std::string(faultsText);
  if (wanted) {
    std::string out(faultsText);
    if (!out.empty() && out.back() != '\n') out += '\n';
    return out + std::string(word) + "\n";
  }
  // Cleared: every occurrence goes, with the blank before it; the rest of the line stays.
  std::string out;
  size_t start = 0;
  while (start < faultsText.size()) {
    size_t end = faultsText.find('\n', start);
    const bool lastLine = end == std::string_view::npos;
    if (lastLine) end = faultsText.size();
    const std::string_view line = faultsText.substr(start, end - start);
    std::string kept;
    size_t copied = 0;
    bool removed = false;
    for (const Token& t : tokensOf(line)) {
      if (bareWord(line.substr(t.at, t.size)) != word) continue;
      size_t from = t.at;
      while (from > copied && (line[from - 1] == ' ' || line[from - 1] == '\t')) --from;
      kept.append(line.substr(copied, from - copied));
      copied = t.at + t.size;
      // The first word of a line takes the blanks after it instead.
      if (kept.find_first_not_of(" \t") == std::string::npos) {
        while (copied < line.size() && (line[copied] == ' ' || line[copied] == '\t')) ++copied;
      }
      removed = true;
    }
    kept.append(line.substr(copied));
    // A line that held only removed words goes altogether.
    const bool emptied = removed && kept.find_first_not_of(" \t\r") == std::string::npos;
    if (!emptied) {
      out += kept;
      if (!lastLine) out += '\n';
    }
    start = end + 1;
  }
  return out;
}

KeyPresser::KeyPresser(Sink sink) : sink_(std::move(sink)), thread_([this] { run(); }) {}

KeyPresser::~KeyPresser() {
  stop();
}

void KeyPresser::queue(const std::vector<KeyStep>& steps) {
  {
    std::scoped_lock lock(mutex_);
    if (stopping_) return;
    steps_.insert(steps_.end(), steps.begin(), steps.end());
  }
  changed_.notify_all();
}

bool KeyPresser::waitIdle(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout,
                           [this] { return stopping_ || (steps_.empty() && !busy_); });
}

void KeyPresser::stop() {
  {
    std::scoped_lock lock(mutex_);
    stopping_ = true;
    steps_.clear();
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void KeyPresser::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !steps_.empty(); });
    if (stopping_) break;
    const KeyStep step = steps_.front();
    steps_.pop_front();
    busy_ = true;
    lock.unlock();
    sink_(step.key, step.down);
    lock.lock();
    // The pause can be cut short only by stop().
    changed_.wait_for(lock, step.pause, [this] { return stopping_; });
    busy_ = false;
    changed_.notify_all();
  }
  busy_ = false;
  changed_.notify_all();
}

WebView::WebView(WebViewOptions options)
    : options_(std::move(options)),
      root_(options_.root),
      gpio_(root_.gpioBlock()),
      presser_([this](int key, bool down) { gpio_.set(key, down); }) {}

WebView::~WebView() {
  stop();
}

bool WebView::start(int port, std::string& error) {
  if (server_) {
    error = "the web view already runs";
    return false;
  }
  if (port < 0 || port > 65535) {
    error = "port " + std::to_string(port) + " is not 0 to 65535";
    return false;
  }
  auto server = std::make_unique<httplib::Server>();
  // A browser keeps a few connections open; each holds a thread while it waits.
  server->new_task_queue = [] { return new httplib::ThreadPool(8); };
  server->set_keep_alive_timeout(1);
  server->set_payload_max_length(4096);
  // Reusing the address lets a restarted bench have its port back at once; unlike the
  // library's default, no SO_REUSEPORT, so a second bench cannot share a port in use.
  server->set_socket_options([](int sock) {
    const int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  const auto serve = [this](const httplib::Request& request, httplib::Response& response) {
    const WebReply reply = handle(request.method, request.path, request.params);
    response.status = reply.status;
    response.set_header("Cache-Control", "no-store");
    response.set_content(reply.body, reply.contentType.c_str());
  };
  server->Get(".*", serve);
  server->Post(".*", serve);
  int bound = -1;
  if (port == 0) {
    bound = server->bind_to_any_port("127.0.0.1");
  } else if (server->bind_to_port("127.0.0.1", port)) {
    bound = port;
  }
  if (bound <= 0) {
    error = "cannot listen on 127.0.0.1:" + std::to_string(port);
    return false;
  }
  server_ = std::move(server);
  port_ = bound;
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  return true;
}

void WebView::stop() {
  if (server_) {
    server_->stop();
    if (thread_.joinable()) thread_.join();
    server_.reset();
  }
  presser_.stop();
  gpio_.releaseAll();
}

WebReply WebView::handle(std::string_view method, std::string_view path, const FormValues& form) {
  struct Route {
    std::string_view path;
    std::string_view method;
    WebReply (WebView::*action)(const FormValues&);
  };
  static constexpr std::array<Route, 7> kActions = {{
      {"/key", "POST", &WebView::onKey},
      {"/frequency", "POST", &WebView::onFrequency},
      {"/transmit", "POST", &WebView::onTransmit},
      {"/drive", "POST", &WebView::onDrive},
      {"/swr", "POST", &WebView::onSwr},
      {"/fault", "POST", &WebView::onFault},
      {"/keyboard", "POST", &WebView::onKeyboard},
  }};
  for (const Route& route : kActions) {
    if (route.path != path) continue;
    if (method != route.method) return textReply(405, "use POST for " + std::string(path));
    return (this->*route.action)(form);
  }
  if (path == "/" || path == "/panel.png" || path == "/state") {
    if (method != "GET") return textReply(405, "use GET for " + std::string(path));
    if (path == "/") return {200, "text/html; charset=utf-8", std::string(kWebPage)};
    if (path == "/panel.png") return panelPng();
    return state();
  }
  return textReply(404, "no such page: " + std::string(path.substr(0, kMaxValueLength)));
}

WebReply WebView::onKey(const FormValues& form) {
  std::string why;
  const std::optional<std::string> keyText = valueOf(form, "key", why);
  if (!keyText) return badRequest(why);
  const std::optional<uint32_t> key = wholeNumber(*keyText);
  if (!key || *key < 1 || *key > 6) return badRequest("key must be 1 to 6");
  const std::optional<std::string> actionText = valueOf(form, "action", why);
  if (!actionText) return badRequest(why);
  const std::optional<KeyAction> action = parseKeyAction(*actionText);
  if (!action) return badRequest("action must be short, long, down, up or hold");
  std::chrono::milliseconds hold{0};
  std::string said = "key " + std::to_string(*key) + " " + *actionText;
  if (*action == KeyAction::Hold) {
    const std::optional<std::string> msText = valueOf(form, "ms", why);
    if (!msText) return badRequest(why);
    const std::optional<uint32_t> ms = wholeNumber(*msText);
    if (!ms || *ms > static_cast<uint32_t>(kLongestHold.count())) {
      return badRequest("ms must be a whole number from 0 to " +
                        std::to_string(kLongestHold.count()));
    }
    hold = std::chrono::milliseconds(*ms);
    said += " " + std::to_string(*ms) + " ms";
  } else if (form.count("ms") != 0) {
    return badRequest("ms goes only with action hold");
  }
  if (!gpio_.ok()) return textReply(503, "no panel keys: " + gpio_.error());
  // Read at each press: the operator may change it in the menu meanwhile.
  const std::chrono::milliseconds longPress = longPressTime(root_);
  presser_.queue(keySteps(static_cast<int>(*key), *action, longPress, hold));
  return textReply(200, said);
}

WebReply WebView::onFrequency(const FormValues& form) {
  std::string why;
  const std::optional<std::string> text = valueOf(form, "hz", why);
  if (!text) return badRequest(why);
  const std::optional<uint32_t> hz = wholeNumber(*text);
  if (!hz || *hz < kMinFrequency || *hz > kMaxFrequency) {
    return badRequest("hz must be a whole number from " + std::to_string(kMinFrequency) + " to " +
                      std::to_string(kMaxFrequency));
  }
  if (!options_.station) return textReply(503, "no station");
  options_.station->setFrequency(*hz);
  return textReply(200, "frequency " + std::to_string(*hz));
}

WebReply WebView::onTransmit(const FormValues& form) {
  std::string why;
  const std::optional<std::string> text = valueOf(form, "on", why);
  if (!text) return badRequest(why);
  const std::optional<bool> on = onOff(*text);
  if (!on) return badRequest("on must be 0 or 1");
  if (!options_.station) return textReply(503, "no station");
  options_.station->setPtt(*on);
  return textReply(200, *on ? "transmit on" : "transmit off");
}

WebReply WebView::onDrive(const FormValues& form) {
  std::string why;
  const std::optional<double> watts = realIn(form, "watts", 0.0, kMaxDrive, why);
  if (!watts) return badRequest(why);
  if (!options_.station) return textReply(503, "no station");
  options_.station->update([w = *watts](StationState& s) { s.pttWatts = w; });
  return textReply(200, "drive " + jsonNumber(*watts) + " W");
}

WebReply WebView::onSwr(const FormValues& form) {
  std::string why;
  const std::optional<double> swr = realIn(form, "swr", kMinSwr, kMaxSwr, why);
  if (!swr) return badRequest(why);
  if (options_.micro == nullptr) return textReply(503, "no amplifier micro");
  options_.micro->withMicro([s = *swr](AmpMicro& m) {
    m.setTuner(nullptr);
    m.setLoadSwr(s);
  });
  return textReply(200, "load SWR " + jsonNumber(*swr));
}

WebReply WebView::onFault(const FormValues& form) {
  std::string why;
  const std::optional<std::string> word = valueOf(form, "word", why);
  if (!word) return badRequest(why);
  if (std::find(kFaultWords.begin(), kFaultWords.end(), *word) == kFaultWords.end()) {
    return badRequest("unknown fault word " + *word);
  }
  std::optional<bool> on;
  if (form.count("on") != 0) {
    const std::optional<std::string> text = valueOf(form, "on", why);
    if (!text) return badRequest(why);
    on = onOff(*text);
    if (!on) return badRequest("on must be 0 or 1");
  }
  std::scoped_lock lock(faultsMutex_);
  const std::filesystem::path file = root_.faultsFile();
  const std::string text = withFault(slurp(file), *word, on);
  // Replaced whole: the simulators never read half a change.
  const std::filesystem::path temp = file.string() + ".web-new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) return textReply(500, "cannot write " + temp.string());
  }
  std::error_code ec;
  std::filesystem::rename(temp, file, ec);
  if (ec) return textReply(500, "cannot replace " + file.string() + ": " + ec.message());
  return textReply(200, *word + (hasFault(text, *word) ? " on" : " off"));
}

WebReply WebView::onKeyboard(const FormValues& form) {
  std::string why;
  const std::optional<std::string> name = valueOf(form, "key", why);
  if (!name) return badRequest(why);
  const std::optional<uint16_t> code = keyCode(*name);
  if (!code) return badRequest("unknown key " + *name + " (keys: " + serviceKeyNames() + ")");
  if (options_.keyboard == nullptr) return textReply(503, "no service keyboard");
  if (!options_.keyboard->press(*code)) {
    return textReply(503, "no key typed: " + options_.keyboard->error());
  }
  return textReply(200, "keyboard " + *name);
}

WebReply WebView::panelPng() const {
  std::string error;
  const std::optional<std::vector<uint8_t>> png = framebufferPng(root_.framebuffer(), error);
  if (!png) return textReply(503, error);
  return {200, "image/png", std::string(png->begin(), png->end())};
}

WebReply WebView::state() {
  std::string json = "{";
  if (options_.station) {
    const StationState s = options_.station->get();
    json += "\"frequency\":" + std::to_string(s.receiveFreq()) +
            ",\"shownFrequency\":" + std::to_string(s.displayFreq()) +
            ",\"mode\":" + jsonString(modeName(s.activeMode())) +
            ",\"transmit\":" + std::string(jsonBool(s.ptt)) +
            ",\"transmitting\":" + std::string(jsonBool(s.transmitting())) +
            ",\"drive\":" + jsonNumber(s.pttWatts) + ",\"driveNow\":" + jsonNumber(s.driveWatts()) +
            ",";
  }
  json += "\"keysHeld\":[";
  bool first = true;
  for (int key = 1; key <= 6; ++key) {
    if (!gpio_.down(key)) continue;
    if (!first) json += ',';
    json += std::to_string(key);
    first = false;
  }
  json += "],\"longPressMs\":" + std::to_string(longPressTime(root_).count());
  if (options_.panelState != nullptr) {
    json += ",\"panelState\":" + jsonString(options_.panelState->name());
  }
  if (options_.remoteClient != nullptr) {
    json += ",\"remoteClient\":" + jsonString(options_.remoteClient->text());
  }
  json += ",\"faults\":[";
  first = true;
  const Faults faults = Faults::load(root_.faultsFile());
  for (const Fault& fault : faults.all()) {
    if (!first) json += ',';
    json += jsonString(fault.word);
    first = false;
  }
  json += "],\"knownFaults\":[";
  first = true;
  for (std::string_view word : kFaultWords) {
    if (!first) json += ',';
    json += jsonString(word);
    first = false;
  }
  json += "]";
  if (options_.micro != nullptr) {
    json += options_.micro->withMicro([](AmpMicro& m) {
      const StatusReadings r = m.readings();
      const RfState rf = m.rf();
      return ",\"micro\":{\"bypassed\":" + std::string(jsonBool(m.settings().bypassed)) +
             ",\"antenna\":" + std::to_string(m.settings().selectedAntenna) +
             ",\"frequency\":" + std::to_string(m.transceiverFrequency()) +
             ",\"drive\":" + jsonNumber(m.drive()) + ",\"loadSwr\":" + jsonNumber(m.loadSwr()) +
             ",\"forwardWatts\":" + jsonNumber(rf.forwardWatts) +
             ",\"reflectedWatts\":" + jsonNumber(rf.reflectedWatts) +
             ",\"heatSink1\":" + jsonNumber(m.heatSink(0)) +
             ",\"heatSink2\":" + jsonNumber(m.heatSink(1)) +
             ",\"statusA\":" + std::to_string(r.statusA) +
             ",\"statusB\":" + std::to_string(r.statusB) + ",\"input\":" + std::to_string(r.input) +
             ",\"forward\":" + std::to_string(r.forward) +
             ",\"reflected\":" + std::to_string(r.reflected) +
             ",\"current\":" + std::to_string(r.current) + ",\"temp1\":" + std::to_string(r.temp1) +
             ",\"temp2\":" + std::to_string(r.temp2) + ",\"alarms\":" + std::to_string(r.alarms) +
             "}";
    });
  }
  json += "}\n";
  return {200, "application/json", std::move(json)};
}

}  // namespace corvid::bench

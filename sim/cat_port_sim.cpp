#include "sim/cat_port_sim.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <cstdio>

namespace corvid::bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kIdentity = "DT001";
constexpr std::string_view kModel = "ID077";
constexpr std::string_view kRefused = "?;";
constexpr size_t kLongestCommand = 40;
constexpr size_t kCommandsKept = 1000;
constexpr size_t kFrequencyDigits = 11;
constexpr uint32_t kLowestHz = 30'000;
constexpr uint32_t kHighestHz = 60'000'000;
constexpr auto kPieceGap = std::chrono::milliseconds(4);
constexpr auto kFaultsFilePeriod = std::chrono::milliseconds(200);
constexpr int kIdlePollMs = 20;
// What may wait for a controller that does not read: a few hundred replies.
constexpr size_t kOutLimit = 8 * 1024;

struct ModeDigit {
  StationMode mode;
  char digit;
};
constexpr std::array<ModeDigit, 7> kModeDigits = {{
    {StationMode::Lsb, '1'},
    {StationMode::Usb, '2'},
    {StationMode::Cw, '3'},
    {StationMode::Fm, '4'},
    {StationMode::Am, '5'},
    {StationMode::Dig, '6'},
    {StationMode::Cwr, '7'},
}};

CatPortFaults merged(const CatPortFaults& a, const CatPortFaults& b) {
  return {a.silent || b.silent, a.noId || b.noId, a.pieces || b.pieces, a.gone || b.gone};
}

bool allDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string frequencyText(uint32_t hz) {
  char text[16];
  std::snprintf(text, sizeof text, "%011u", hz);
  return text;
}

// 11 digits in the tuning range; empty otherwise.
std::optional<uint32_t> frequencyOf(std::string_view digits) {
  if (digits.size() != kFrequencyDigits || !allDigits(digits)) return std::nullopt;
  uint64_t hz = 0;
  for (char c : digits) hz = hz * 10 + static_cast<uint64_t>(c - '0');
  if (hz < kLowestHz || hz > kHighestHz) return std::nullopt;
  return static_cast<uint32_t>(hz);
}

}  // namespace

char catModeDigit(StationMode mode) {
  for (const ModeDigit& m : kModeDigits) {
    if (m.mode == mode) return m.digit;
  }
  return '2';
}

std::optional<StationMode> catMode(char digit) {
  for (const ModeDigit& m : kModeDigits) {
    if (m.digit == digit) return m.mode;
  }
  return std::nullopt;
}

std::vector<std::string> catReplyPieces(std::string_view reply) {
  const size_t n = reply.size();
  if (n <= 1) return {std::string(reply)};
  if (n < 6) return {std::string(reply.substr(0, n / 2)), std::string(reply.substr(n / 2))};
  const size_t a = n / 3;
  const size_t b = 2 * n / 3;
  return {std::string(reply.substr(0, a)), std::string(reply.substr(a, b - a)),
          std::string(reply.substr(b))};
}

CatPortRadio::CatPortRadio(Station& station) : station_(station) {
  const StationState s = station_.get();
  seenA_ = s.freqA;
  seenB_ = s.freqB;
}

void CatPortRadio::unplugged() {
  pending_.clear();
  overlong_ = false;
  autoInformation_ = false;
}

std::vector<std::string> CatPortRadio::take(std::span<const uint8_t> bytes,
                                            const CatPortFaults& faults) {
  std::vector<std::string> replies;
  for (uint8_t byte : bytes) {
    if (byte == ';') {
      std::string reply;
      if (overlong_) {
        ++counters_.commands;
        ++counters_.unknown;
        reply = std::string(kRefused);
      } else {
        reply = answer(pending_, faults);
      }
      pending_.clear();
      overlong_ = false;
      if (!reply.empty()) replies.push_back(std::move(reply));
    } else if (byte == '\r' || byte == '\n') {
      // Some programs end their commands with a line end as well.
    } else if (byte < 0x20 || byte >= 0x7F) {
      pending_.clear();  // no command: start again with the next one
      overlong_ = false;
    } else if (pending_.size() < kLongestCommand) {
      pending_ += static_cast<char>(byte);
    } else {
      overlong_ = true;
    }
  }
  return replies;
}

std::string CatPortRadio::answer(std::string_view command, const CatPortFaults& faults) {
  ++counters_.commands;
  counters_.received.emplace_back(command);
  if (counters_.received.size() > kCommandsKept) {
    counters_.received.erase(counters_.received.begin());
  }
  std::string reply;
  const std::string_view letters = command.substr(0, std::min<size_t>(2, command.size()));
  const std::string_view value = command.substr(letters.size());
  if (letters.size() < 2) {
    reply = std::string(kRefused);
  } else if (value.empty()) {
    reply = read(letters);
    if (letters == "DT" && faults.noId) reply = std::string(kRefused);
  } else if (!set(letters, value)) {
    reply = std::string(kRefused);
  }
  if (reply == kRefused) ++counters_.unknown;
  if (faults.silent) return {};
  if (!reply.empty()) noteSent(reply);
  return reply;
}

std::string CatPortRadio::read(std::string_view letters) {
  const StationState s = station_.get();
  if (letters == "DT") return std::string(kIdentity) + ";";
  if (letters == "ID") return std::string(kModel) + ";";
  if (letters == "FA") return "FA" + frequencyText(s.freqA) + ";";
  if (letters == "FB") return "FB" + frequencyText(s.freqB) + ";";
  if (letters == "MD") return std::string("MD") + catModeDigit(s.activeMode()) + ";";
  if (letters == "AI") return autoInformation_ ? "AI1;" : "AI0;";
  if (letters == "TX") return set("TX", "0") ? std::string() : std::string(kRefused);
  if (letters == "RX") {
    station_.update([](StationState& st) {
      st.ptt = false;
      st.tuneCarrier = false;
    });
    return {};
  }
  if (letters == "IF") {
    const char vfo = s.memory ? '2' : s.vfoB ? '1' : '0';
    char text[48];
    std::snprintf(text, sizeof text, "IF%s00000+0000000000%c%c%c0%c0000;",
                  frequencyText(s.displayFreq()).c_str(), s.transmitting() ? '1' : '0',
                  catModeDigit(s.displayMode()), vfo, s.split ? '1' : '0');
    return text;
  }
  return std::string(kRefused);
}

bool CatPortRadio::set(std::string_view letters, std::string_view value) {
  if (letters == "FA" || letters == "FB") {
    const std::optional<uint32_t> hz = frequencyOf(value);
    if (!hz) return false;
    const bool vfoB = letters == "FB";
    station_.setVfoFrequency(vfoB, *hz);
    // Changed from here: the client knows, no message goes back.
    (vfoB ? seenB_ : seenA_) = *hz;
    return true;
  }
  if (letters == "MD") {
    const std::optional<StationMode> mode = value.size() == 1 ? catMode(value[0]) : std::nullopt;
    if (!mode) return false;
    station_.setMode(*mode);
    return true;
  }
  if (letters == "TX") {
    if (value != "0" && value != "1" && value != "2") return false;
    const bool tune = value == "2";
    station_.update([tune](StationState& s) { (tune ? s.tuneCarrier : s.ptt) = true; });
    return true;
  }
  if (letters == "AI") {
    if (value != "0" && value != "1") return false;
    autoInformation_ = value == "1";
    if (autoInformation_) {
      const StationState s = station_.get();
      seenA_ = s.freqA;
      seenB_ = s.freqB;
    }
    return true;
  }
  return false;
}

std::vector<std::string> CatPortRadio::autoInformation(const CatPortFaults& faults) {
  std::vector<std::string> messages;
  const StationState s = station_.get();
  const bool changedA = s.freqA != seenA_;
  const bool changedB = s.freqB != seenB_;
  seenA_ = s.freqA;
  seenB_ = s.freqB;
  if (!autoInformation_ || faults.silent) return messages;
  if (changedA) messages.push_back("FA" + frequencyText(s.freqA) + ";");
  if (changedB) messages.push_back("FB" + frequencyText(s.freqB) + ";");
  for (const std::string& m : messages) noteSent(m);
  counters_.autoInformation += messages.size();
  return messages;
}

void CatPortRadio::noteSent(std::string_view reply) {
  // "FA", "FB" and "IF" carry a frequency in their first 11 digits.
  const std::string_view letters = reply.substr(0, 2);
  if ((letters == "FA" || letters == "FB" || letters == "IF") &&
      reply.size() >= 2 + kFrequencyDigits && allDigits(reply.substr(2, kFrequencyDigits))) {
    uint32_t hz = 0;
    for (char c : reply.substr(2, kFrequencyDigits)) hz = hz * 10 + static_cast<uint32_t>(c - '0');
    noteFrequencySent(counters_.frequencies, hz);
  }
}

CatPortSimulator::CatPortSimulator(CatPortOptions options)
    : options_(std::move(options)),
      station_(options_.station ? options_.station : std::make_shared<Station>()),
      radio_(*station_) {}

CatPortSimulator::~CatPortSimulator() {
  stop();
}

std::filesystem::path CatPortSimulator::linkPath() const {
  return options_.root / std::filesystem::path(options_.port).relative_path();
}

std::filesystem::path CatPortSimulator::silentLinkPath() const {
  if (options_.silentPort.empty()) return {};
  return options_.root / std::filesystem::path(options_.silentPort).relative_path();
}

std::string CatPortSimulator::slavePath() const {
  std::scoped_lock lock(mutex_);
  return line_ ? line_->slavePath() : std::string();
}

bool CatPortSimulator::start(std::string& error) {
  if (thread_.joinable()) return true;
  if (!waker_.ok()) {
    error = "no wake-up pipe";
    return false;
  }
  if (options_.watchFaultsFile) readFaultsFile();
  if (!faults().gone) {
    std::optional<TrxLine> line = TrxLine::open(linkPath(), error);
    if (!line) return false;
    std::scoped_lock lock(mutex_);
    line_.emplace(std::move(*line));
  }
  if (!options_.silentPort.empty()) {
    std::optional<TrxLine> line = TrxLine::open(silentLinkPath(), error);
    if (!line) {
      std::scoped_lock lock(mutex_);
      line_.reset();
      return false;
    }
    std::scoped_lock lock(mutex_);
    silent_.emplace(std::move(*line));
  }
  stopRequested_ = false;
  thread_ = std::thread([this] { run(); });
  return true;
}

void CatPortSimulator::stop() {
  if (thread_.joinable()) {
    stopRequested_ = true;
    waker_.wake();
    thread_.join();
  }
  std::scoped_lock lock(mutex_);
  line_.reset();
  silent_.reset();
}

void CatPortSimulator::setFaults(CatPortFaults faults) {
  {
    std::scoped_lock lock(mutex_);
    apiFaults_ = faults;
  }
  waker_.wake();
}

CatPortFaults CatPortSimulator::faults() const {
  std::scoped_lock lock(mutex_);
  return merged(apiFaults_, fileFaults_);
}

CatPortCounters CatPortSimulator::counters() const {
  std::scoped_lock lock(mutex_);
  return radio_.counters();
}

void CatPortSimulator::readFaultsFile() {
  CatPortFaults file;
  for (const std::string& word : faultWords(options_.root, "cat-")) {
    if (word == "silent") file.silent = true;
    if (word == "no-id") file.noId = true;
    if (word == "pieces") file.pieces = true;
    if (word == "gone") file.gone = true;
  }
  std::scoped_lock lock(mutex_);
  fileFaults_ = file;
}

// Unplugging closes both ends: the controller's descriptor of the slave then reads a
// hang-up. Plugging in again makes a new pseudo-terminal, as a new USB device would be.
void CatPortSimulator::plug(bool in) {
  if (in == line_.has_value()) return;
  if (!in) {
    out_.clear();
    std::scoped_lock lock(mutex_);
    line_.reset();
    radio_.unplugged();
    ++radio_.counters().gone;
    return;
  }
  std::string error;
  std::optional<TrxLine> line = TrxLine::open(linkPath(), error);
  if (!line) return;  // tried again on the next round
  std::scoped_lock lock(mutex_);
  line_.emplace(std::move(*line));
}

void CatPortSimulator::queue(const std::vector<std::string>& replies, bool pieces) {
  size_t waiting = 0;
  for (const Piece& piece : out_) waiting += piece.bytes.size();
  auto at = Clock::now();
  for (const std::string& reply : replies) {
    if (waiting + reply.size() > kOutLimit) return;  // the controller does not read
    waiting += reply.size();
    {
      std::scoped_lock lock(mutex_);
      ++radio_.counters().replies;
    }
    if (!pieces) {
      out_.push_back({reply, at});
      continue;
    }
    for (std::string& piece : catReplyPieces(reply)) {
      out_.push_back({std::move(piece), at});
      at += kPieceGap;
    }
  }
}

void CatPortSimulator::writeDue() {
  while (line_ && !out_.empty() && Clock::now() >= out_.front().notBefore) {
    Piece& piece = out_.front();
    const long n = line_->write(std::span<const uint8_t>(
        reinterpret_cast<const uint8_t*>(piece.bytes.data()), piece.bytes.size()));
    if (n <= 0) return;  // full: again when the line can take more
    {
      std::scoped_lock lock(mutex_);
      ++radio_.counters().writes;
    }
    if (static_cast<size_t>(n) < piece.bytes.size()) {
      piece.bytes.erase(0, static_cast<size_t>(n));
      return;
    }
    out_.pop_front();
  }
}

void CatPortSimulator::run() {
  auto nextFaultsCheck = Clock::now();
  std::array<uint8_t, 256> buffer{};
  while (!stopRequested_) {
    const auto now = Clock::now();
    if (now >= nextFaultsCheck) {
      if (options_.watchFaultsFile) readFaultsFile();
      nextFaultsCheck = now + kFaultsFilePeriod;
    }
    const CatPortFaults faults = this->faults();
    plug(!faults.gone);
    {
      std::vector<std::string> messages;
      {
        std::scoped_lock lock(mutex_);
        messages = radio_.autoInformation(faults);
      }
      if (line_) queue(messages, faults.pieces);
    }

    // A piece that is due waits for room on the line; one that is not yet due, for its
    // time.
    int timeout = kIdlePollMs;
    bool due = false;
    if (!out_.empty()) {
      const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
          out_.front().notBefore - Clock::now());
      due = wait.count() <= 0;
      if (!due) timeout = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(wait.count(), 1, kIdlePollMs));
    }
    std::array<pollfd, 3> fds{};
    nfds_t count = 0;
    fds[count++] = {waker_.fd(), POLLIN, 0};
    const nfds_t lineIndex = count;
    if (line_) {
      fds[count++] = {line_->master(), static_cast<short>(POLLIN | (due ? POLLOUT : 0)), 0};
    }
    const nfds_t silentIndex = count;
    if (silent_) fds[count++] = {silent_->master(), POLLIN, 0};
    const int ready = ::poll(fds.data(), count, timeout);
    if (stopRequested_) break;
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) waker_.drain();
    if (ready > 0 && line_ && (fds[lineIndex].revents & POLLIN) != 0) {
      const long n = line_->read(buffer);
      if (n > 0) {
        // The faults as they are now: a change may have been what woke the poll.
        const CatPortFaults current = this->faults();
        std::vector<std::string> replies;
        {
          std::scoped_lock lock(mutex_);
          replies =
              radio_.take(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n)), current);
        }
        queue(replies, current.pieces);
      }
    }
    if (ready > 0 && silent_ && (fds[silentIndex].revents & POLLIN) != 0) {
      const long n = silent_->read(buffer);
      if (n > 0) {
        std::scoped_lock lock(mutex_);
        radio_.counters().silentPortBytes += static_cast<size_t>(n);
      }
    }
    writeDue();
  }
}

}  // namespace corvid::bench

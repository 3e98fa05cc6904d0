// The remote client's run (see remote_session.h).
#include "client/remote_session.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "client/scope_picture.h"
#include "client/status_block.h"
#include "platform/serial.h"
#include "platform/socket.h"

namespace corvid::client {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kConnectTimeoutMs = 5000;
constexpr milliseconds kHandshakeTimeout{5000};
// The server answers a wrong password only by closing; a link that closes this soon after
// the password, before any frame, was refused.
constexpr milliseconds kPasswordVerdict{2000};
constexpr milliseconds kSendPause{200};
// A command acts at once, but the status text that shows it leaves with a later display
// cycle: with --send, the first status printed is one that left this long after the last
// word.
constexpr milliseconds kSettleAfterSend{500};
// The server drops a client that has sent nothing for 12 s.
constexpr milliseconds kHeartbeatPeriod{2000};
constexpr milliseconds kPrintPeriod{1000};
constexpr milliseconds kCatLinger{1000};
// --once and --count wait this long after the login for a status block to print.
constexpr milliseconds kStatusPatience{10000};
constexpr int kReadSliceMs = 20;
constexpr size_t kMaxDataBytes = kShortLengthLimit - 2;

constexpr std::array<std::string_view, 7> kTags{"ST", "SP", "CA", "HB", "PA", "SO", "CF"};

int code(ExitCode exit) {
  return static_cast<int>(exit);
}

std::span<const uint8_t> asBytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

bool isDottedIpv4(std::string_view text) {
  int parts = 0;
  while (true) {
    const size_t dot = text.find('.');
    const std::string_view part = text.substr(0, dot);
    unsigned value = 0;
    const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (part.empty() || part.size() > 3 || error != std::errc() ||
        end != part.data() + part.size() || value > 255) {
      return false;
    }
    ++parts;
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  return parts == 4;
}

template <typename T>
bool parseNumber(std::string_view text, T& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

std::string errnoText(int error) {
  return std::strerror(error);
}

// Our clock for the heartbeat: only we compare it, so the monotonic one serves.
std::pair<uint32_t, uint32_t> heartbeatClock() {
  const auto since =
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch());
  return {static_cast<uint32_t>(since.count() / 1000000),
          static_cast<uint32_t>(since.count() % 1000000)};
}

class Session {
 public:
  Session(const ClientOptions& options, ClientStreams streams)
      : options_(options), io_(streams), started_(Clock::now()) {}

  int run();

 private:
  int connectAndLogIn();
  int loop();
  int finish(ExitCode exit);
  int fail(ExitCode exit, const std::string& message);
  bool send(std::string_view what, const std::vector<uint8_t>& frame, size_t dataBytes);
  // False when the stream cannot be followed any further (the result is then set).
  bool takeFrames(Clock::time_point now);
  void handle(const ServerFrame& frame, Clock::time_point now);
  void sendDue(Clock::time_point now);
  void relayCat(Clock::time_point now);
  void printDue(Clock::time_point now);
  void writeSpectrum(bool atExit);
  bool timeIsUp(Clock::time_point now) const;
  void summary();
  std::string openAudio();
  void sendAudio(Clock::time_point now);
  int readSliceMs(Clock::time_point now) const;

  const ClientOptions& options_;
  ClientStreams io_;
  Clock::time_point started_;
  platform::TcpSocket socket_;
  FrameReader reader_;
  SpectrumAssembler spectrum_;
  uint64_t spectrumWritten_ = 0;

  Clock::time_point passwordSent_{};
  Clock::time_point loggedInAt_{};
  bool loggedIn_ = false;
  bool anyFrame_ = false;

  size_t nextWord_ = 0;
  Clock::time_point nextSend_{};
  Clock::time_point sendsDone_{};
  Clock::time_point nextHeartbeat_{};

  std::string catPending_;
  bool catEnded_ = false;
  Clock::time_point catEndedAt_{};

  std::optional<StatusBlock> status_;
  Clock::time_point statusAt_{};
  std::optional<TrxParameters> parameters_;
  int printed_ = 0;
  Clock::time_point nextPrint_{};

  std::array<uint64_t, kTags.size()> counts_{};
  uint64_t other_ = 0;
  uint64_t bad_ = 0;
  std::optional<double> roundTripMs_;
  int brokenExit_ = -1;

  std::optional<AudioReceiver> heard_;
  std::optional<AudioSender> spoken_;
  bool audioConfigured_ = false;
  bool audioEchoed_ = false;
};

std::string Session::openAudio() {
  if (!options_.audioOutPath.empty()) {
    heard_.emplace();
    if (std::string error = heard_->open(options_.audioOutPath, options_.audio); !error.empty()) {
      return "--audio-out: " + error;
    }
  }
  if (!options_.audioInPath.empty()) {
    spoken_.emplace();
    if (std::string error = spoken_->open(options_.audioInPath, options_.audio,
                                          !options_.audioInOnce, options_.audioJitterMs);
        !error.empty()) {
      return "--audio-in: " + error;
    }
  }
  return {};
}

// Once logged in: the audio configuration, then the client's audio chunk by chunk.
void Session::sendAudio(Clock::time_point now) {
  if (!options_.wantsAudio()) return;
  if (!audioConfigured_) {
    const auto frame = binaryFrame("CF", configurationData(options_.audio));
    if (!frame || !send("CF", *frame, frame->size() - 4)) {
      brokenExit_ = fail(ExitCode::connectionLost, "connection lost");
      return;
    }
    audioConfigured_ = true;
    if (spoken_) {
      spoken_->start(now);
      if (!options_.audioInAxisPath.empty()) {
        std::ofstream(options_.audioInAxisPath) << spoken_->startMonotonicNs() << "\n";
      }
    }
  }
  if (!spoken_) return;
  while (auto frame = spoken_->nextDue(now)) {
    if (!send("SO", *frame, frame->size() - 6)) {
      brokenExit_ = fail(ExitCode::connectionLost, "connection lost");
      return;
    }
  }
}

// The socket is read in slices short enough for the next audio chunk to leave on time.
int Session::readSliceMs(Clock::time_point now) const {
  if (!spoken_ || !audioConfigured_ || spoken_->finished()) return kReadSliceMs;
  const auto wait = std::chrono::duration_cast<milliseconds>(spoken_->nextDueTime() - now).count();
  return static_cast<int>(std::clamp<int64_t>(wait, 0, kReadSliceMs));
}

int Session::run() {
  if (std::string error = openAudio(); !error.empty()) {
    io_.err << "corvid-remote: " << error << "\n" << std::flush;
    return code(ExitCode::usage);
  }
  const int result = connectAndLogIn();
  if (result >= 0) return result;
  return loop();
}

int Session::fail(ExitCode exit, const std::string& message) {
  io_.err << "corvid-remote: " << message << "\n" << std::flush;
  return finish(exit);
}

int Session::finish(ExitCode exit) {
  writeSpectrum(true);
  if (options_.stats) summary();
  io_.out << std::flush;
  return code(exit);
}

void Session::summary() {
  std::string line = "frames";
  for (size_t i = 0; i < kTags.size(); ++i) {
    line += " " + std::string(kTags[i]) + "=" + std::to_string(counts_[i]);
  }
  line += " other=" + std::to_string(other_) + " bad=" + std::to_string(bad_);
  line += " spectra=" + std::to_string(spectrum_.completed());
  const double seconds =
      loggedIn_ ? std::chrono::duration<double>(Clock::now() - passwordSent_).count() : 0.0;
  char figures[128];
  std::snprintf(figures, sizeof figures, " seconds=%.2f st-per-second=%.2f", seconds,
                seconds > 0 ? static_cast<double>(counts_[0]) / seconds : 0.0);
  line += figures;
  if (roundTripMs_) {
    std::snprintf(figures, sizeof figures, " rtt-ms=%.3f", *roundTripMs_);
    line += figures;
  } else {
    line += " rtt-ms=none";
  }
  if (heard_) {
    line += " audio-heard=" + std::to_string(heard_->chunks()) +
            " audio-decode-errors=" + std::to_string(heard_->errors());
  }
  if (spoken_) line += " audio-sent=" + std::to_string(spoken_->sent());
  io_.out << line << "\n";
}

bool Session::send(std::string_view what, const std::vector<uint8_t>& frame, size_t dataBytes) {
  if (socket_.write(frame) != static_cast<long>(frame.size())) return false;
  if (options_.verbose) io_.err << "sent " << what << ", " << dataBytes << " data bytes\n";
  return true;
}

int Session::connectAndLogIn() {
  const std::string where = options_.host + ":" + std::to_string(options_.port);
  auto connected = platform::TcpSocket::connect(options_.host, options_.port, kConnectTimeoutMs);
  if (!connected.ok()) {
    const int error = connected.error();
    const std::string why = error == ETIMEDOUT      ? "no answer within 5 s"
                            : error == ECONNREFUSED ? "connection refused"
                                                    : errnoText(error);
    return fail(ExitCode::noConnection, "cannot connect to " + where + ": " + why);
  }
  socket_ = std::move(connected.value());

  const std::string key = newKey();
  const std::string request = upgradeRequest(options_.host, options_.port, key);
  if (socket_.write(asBytes(request)) != static_cast<long>(request.size())) {
    return fail(ExitCode::handshakeFailed, "handshake failed: the request could not be sent");
  }
  std::string answer;
  const auto deadline = Clock::now() + kHandshakeTimeout;
  ResponseCheck check;
  for (;;) {
    check = checkUpgradeResponse(answer, key);
    if (check.verdict != ResponseVerdict::incomplete) break;
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return fail(ExitCode::handshakeFailed, "handshake failed: no answer within 5 s");
    std::array<uint8_t, 1024> buffer{};
    const long n = socket_.read(buffer, static_cast<int>(std::min<decltype(left)>(left, 100)));
    if (n < 0) {
      return fail(ExitCode::handshakeFailed,
                  "handshake failed: the server closed the connection during the handshake");
    }
    answer.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n));
  }
  if (check.verdict != ResponseVerdict::accepted) {
    std::string message = "handshake failed: " + std::string(describe(check.verdict));
    if (check.verdict == ResponseVerdict::notSwitching)
      message += " (\"" + check.statusLine + "\")";
    return fail(ExitCode::handshakeFailed, message);
  }
  if (options_.verbose) io_.err << "handshake accepted: " << check.statusLine << "\n";
  // Frames may already follow the header.
  reader_.feed(asBytes(std::string_view(answer).substr(check.headerBytes)));

  const auto password = passwordFrame(options_.password, randomMask());
  if (!password || !send("password", *password, options_.password.size())) {
    return fail(ExitCode::connectionLost, "connection lost while sending the password");
  }
  passwordSent_ = Clock::now();
  return -1;
}

bool Session::timeIsUp(Clock::time_point now) const {
  if (io_.stop != nullptr && io_.stop->load()) return true;
  if (options_.forSeconds > 0 &&
      now - started_ >= std::chrono::duration<double>(options_.forSeconds)) {
    return true;
  }
  return options_.cat && catEnded_ && options_.forSeconds <= 0 && now - catEndedAt_ >= kCatLinger;
}

int Session::loop() {
  for (;;) {
    auto now = Clock::now();
    if (timeIsUp(now)) return finish(ExitCode::ok);
    if (!loggedIn_ && now - passwordSent_ >= kPasswordVerdict) {
      // No frame yet, but the link stayed open: the password was taken.
      loggedIn_ = true;
      loggedInAt_ = now;
      nextSend_ = now;
      nextHeartbeat_ = now;
    }
    if (loggedIn_) {
      sendDue(now);
      if (brokenExit_ >= 0) return brokenExit_;
      if (options_.cat) relayCat(now);
      if (brokenExit_ >= 0) return brokenExit_;
      sendAudio(now);
      if (brokenExit_ >= 0) return brokenExit_;
    }

    std::array<uint8_t, 4096> buffer{};
    const long n = socket_.read(buffer, loggedIn_ ? readSliceMs(now) : kReadSliceMs);
    now = Clock::now();
    if (n < 0) {
      if (!loggedIn_) {
        return fail(ExitCode::passwordRefused,
                    "password refused (the server closed the connection)");
      }
      return fail(ExitCode::connectionLost, "connection lost");
    }
    if (n > 0) {
      reader_.feed(std::span(buffer.data(), static_cast<size_t>(n)));
      if (!takeFrames(now)) return brokenExit_;
    }
    printDue(now);
    if (options_.once && printed_ >= 1) return finish(ExitCode::ok);
    if ((options_.once || options_.count > 0) && printed_ == 0 && loggedIn_ &&
        nextWord_ == options_.sendWords.size() && now - loggedInAt_ >= kStatusPatience &&
        now - sendsDone_ >= kStatusPatience) {
      return fail(ExitCode::connectionLost, "no status block arrived within 10 s");
    }
    if (options_.count > 0 && printed_ >= options_.count) return finish(ExitCode::ok);
  }
}

bool Session::takeFrames(Clock::time_point now) {
  for (;;) {
    ServerFrame frame;
    switch (reader_.next(frame)) {
      case ReadResult::needMore:
        return true;
      case ReadResult::skipped:
        ++bad_;
        if (options_.verbose) io_.err << "skipped a frame too short for a tag\n";
        continue;
      case ReadResult::broken:
        brokenExit_ = fail(ExitCode::brokenStream, "connection broken: " + reader_.problem());
        return false;
      case ReadResult::frame:
        handle(frame, now);
        continue;
    }
  }
}

void Session::handle(const ServerFrame& frame, Clock::time_point now) {
  if (!anyFrame_) {
    anyFrame_ = true;
    if (!loggedIn_) {
      loggedIn_ = true;
      loggedInAt_ = now;
      nextSend_ = now;
      nextHeartbeat_ = now;
    }
  }
  if (options_.verbose) {
    io_.err << "received " << frame.tag << ", " << frame.data.size() << " data bytes"
            << (frame.longForm ? " (16-bit length)" : "") << "\n";
  }
  const auto known = std::find(kTags.begin(), kTags.end(), frame.tag);
  if (known == kTags.end()) {
    ++other_;
    return;
  }
  ++counts_[static_cast<size_t>(known - kTags.begin())];
  const std::string_view tag = frame.tag;
  if (tag == "ST") {
    status_ = decodeStatus(frame.data);
    statusAt_ = now;
  } else if (tag == "CA") {
    std::string reply(frame.data.begin(), frame.data.end());
    reply = reply.substr(0, reply.find('\0'));
    io_.out << "cat: " << reply << "\n" << std::flush;
  } else if (tag == "PA") {
    if (const auto parameters = decodeParameters(frame.data)) parameters_ = parameters;
  } else if (tag == "SP") {
    const auto piece = decodeSpectrumPiece(frame.data);
    if (!piece || spectrum_.add(*piece) == SpectrumAssembler::Step::rejected) ++bad_;
  } else if (tag == "HB") {
    const auto reply = decodeHeartbeat(frame.data);
    if (!reply) {
      ++bad_;
      return;
    }
    const auto [seconds, micros] = heartbeatClock();
    const int64_t elapsed = (static_cast<int64_t>(seconds) - reply->echoedSeconds) * 1000000 +
                            (static_cast<int64_t>(micros) - reply->echoedMicros);
    roundTripMs_ = static_cast<double>(elapsed) / 1000.0;
    if (options_.verbose) {
      char text[128];
      std::snprintf(text, sizeof text, "heartbeat: round trip %.3f ms, server clock %u.%06u\n",
                    *roundTripMs_, reply->serverSeconds, reply->serverMicros);
      io_.err << text;
    }
  }
  // Audio that left before the server took our configuration is in its old coding: it
  // is heard only from the echo of the "CF" on.
  if (tag == "CF") audioEchoed_ = true;
  if (tag == "SO" && heard_ && audioEchoed_) heard_->take(frame.data);
}

void Session::sendDue(Clock::time_point now) {
  if (nextWord_ < options_.sendWords.size() && now >= nextSend_) {
    const std::string& word = options_.sendWords[nextWord_];
    const auto frame = textMessage("ST", word);
    if (!frame || !send("ST", *frame, word.size())) {
      brokenExit_ = fail(ExitCode::connectionLost, "connection lost");
      return;
    }
    ++nextWord_;
    nextSend_ = now + kSendPause;
    if (nextWord_ == options_.sendWords.size()) sendsDone_ = now;
  }
  if (now >= nextHeartbeat_) {
    const auto [seconds, micros] = heartbeatClock();
    if (!send("HB", heartbeatFrame(seconds, micros), 8)) {
      brokenExit_ = fail(ExitCode::connectionLost, "connection lost");
      return;
    }
    nextHeartbeat_ = now + kHeartbeatPeriod;
  }
}

void Session::relayCat(Clock::time_point now) {
  if (!catEnded_) {
    std::array<uint8_t, 1024> buffer{};
    const long n = platform::readWithTimeout(io_.inputFd, buffer, 0);
    if (n > 0) {
      catPending_.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n));
    } else if (n < 0) {
      catEnded_ = true;
      catEndedAt_ = now;
      if (!catPending_.empty()) catPending_ += '\n';  // the last line had no line feed
    }
  }
  size_t end;
  while ((end = catPending_.find('\n')) != std::string::npos) {
    std::string line = catPending_.substr(0, end);
    catPending_.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line.back() != ';') line += ';';
    if (line.size() > kMaxDataBytes) {
      io_.err << "corvid-remote: CAT line of " << line.size() << " bytes not sent (at most "
              << kMaxDataBytes << ")\n";
      continue;
    }
    if (!send("CA", *textMessage("CA", line), line.size())) {
      brokenExit_ = fail(ExitCode::connectionLost, "connection lost");
      return;
    }
  }
}

void Session::printDue(Clock::time_point now) {
  if (!status_) return;
  if (printed_ == 0) {
    // The first block waits for the command words and for a status that can show them.
    if (nextWord_ < options_.sendWords.size()) return;
    if (!options_.sendWords.empty() && statusAt_ < sendsDone_ + kSettleAfterSend) return;
  } else if (now < nextPrint_) {
    return;
  }
  std::string block = formatStatus(*status_);
  if (parameters_) block += formatParameters(*parameters_);
  io_.out << block << std::flush;
  ++printed_;
  nextPrint_ = (printed_ == 1 ? now : nextPrint_) + kPrintPeriod;
  if (nextPrint_ < now) nextPrint_ = now + kPrintPeriod;
  writeSpectrum(false);
}

void Session::writeSpectrum(bool atExit) {
  if (options_.spectrumPath.empty() && options_.spectrumDataPath.empty()) return;
  if (spectrum_.completed() == spectrumWritten_) {
    if (atExit && spectrumWritten_ == 0) {
      io_.err << "corvid-remote: no complete spectrum arrived; "
              << (options_.spectrumPath.empty() ? options_.spectrumDataPath
                                                : options_.spectrumPath)
              << " not written\n";
    }
    return;
  }
  std::string problem;
  if (!options_.spectrumPath.empty()) {
    problem = writeSpectrumPicture(options_.spectrumPath, spectrum_.last());
  }
  if (problem.empty() && !options_.spectrumDataPath.empty()) {
    problem = writeSpectrumData(options_.spectrumDataPath, spectrum_.last());
  }
  if (!problem.empty()) {
    io_.err << "corvid-remote: " << problem << "\n";
    return;
  }
  spectrumWritten_ = spectrum_.completed();
}

}  // namespace

std::string usageText() {
  return "usage: corvid-remote HOST[:PORT] --password P [options]\n"
         "  HOST is a dotted IPv4 address or localhost; PORT defaults to 6666.\n"
         "  --once            print the first status block and leave (status 4 when none\n"
         "                    comes within 10 s; likewise --count)\n"
         "  --count N         print N status blocks (one a second) and leave\n"
         "  --send WORD       send a remote command word after the login (repeatable,\n"
         "                    in order, 200 ms apart), e.g. --send \"VORNAN 2\"\n"
         "  --cat             send the lines of standard input as CAT commands (';' added\n"
         "                    when missing) and print each CAT reply as \"cat: REPLY\"\n"
         "  --spectrum FILE   write the last complete spectrum as a PNG picture\n"
         "  --spectrum-data FILE  the same spectrum's bytes, one a point (level + 192)\n"
         "  --for SECONDS     run that long, then leave\n"
         "  --stats           at exit, print \"frames ST=.. SP=.. ... bad=..\" (also\n"
         "                    --count-frames)\n"
         "  --verbose         log every frame sent and received on standard error\n"
         "  --audio-out FILE  write the amplifier's receive audio to a 48 kHz stereo WAV\n"
         "                    (FILE.t0: CLOCK_MONOTONIC ns of its sample 0)\n"
         "  --audio-in FILE   send a 48 kHz 16-bit WAV (mono or stereo) as the client's\n"
         "                    audio, looped (--audio-in-once: once), paced in real time;\n"
         "                    --audio-jitter MS delays each chunk by 0..MS ms;\n"
         "                    --audio-in-t0 FILE: CLOCK_MONOTONIC ns its sample 0 was due\n"
         "  --bitrate N       Opus bitrate of the audio both ways, 0 for raw (30000)\n"
         "  --chunk-us N      audio chunk, 2500, 5000, 10000 or 20000 us (10000)\n"
         "  --buffer-chunks N the amplifier's playback pre-buffer in chunks (10)\n"
         "exit status: 0 done, 1 usage or local file, 2 no connection, 3 password refused,\n"
         "  4 connection lost, 5 handshake failed, 6 undecodable frame stream\n";
}

ParsedArguments parseArguments(std::span<const std::string> arguments) {
  ParsedArguments parsed;
  ClientOptions options;
  bool havePassword = false;
  std::string address;
  const auto failWith = [&parsed](std::string message) {
    parsed.error = std::move(message);
    return parsed;
  };
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const auto value = [&](std::string& out) {
      if (i + 1 >= arguments.size()) return false;
      out = arguments[++i];
      return true;
    };
    std::string text;
    if (argument == "--help" || argument == "-h") {
      parsed.help = true;
      return parsed;
    } else if (argument == "--password") {
      if (!value(options.password)) return failWith("--password needs a value");
      havePassword = true;
    } else if (argument == "--once") {
      options.once = true;
    } else if (argument == "--count") {
      if (!value(text) || !parseNumber(text, options.count) || options.count < 1) {
        return failWith("--count needs a number of status blocks (1 or more)");
      }
    } else if (argument == "--send") {
      if (!value(text)) return failWith("--send needs a command word");
      if (text.size() > kMaxDataBytes) return failWith("--send: the word is too long");
      options.sendWords.push_back(text);
    } else if (argument == "--cat") {
      options.cat = true;
    } else if (argument == "--spectrum") {
      if (!value(options.spectrumPath)) return failWith("--spectrum needs a file name");
    } else if (argument == "--spectrum-data") {
      if (!value(options.spectrumDataPath)) return failWith("--spectrum-data needs a file name");
    } else if (argument == "--for") {
      if (!value(text) || !parseNumber(text, options.forSeconds) || !(options.forSeconds > 0)) {
        return failWith("--for needs a number of seconds above 0");
      }
    } else if (argument == "--audio-out") {
      if (!value(options.audioOutPath)) return failWith("--audio-out needs a file name");
    } else if (argument == "--audio-in") {
      if (!value(options.audioInPath)) return failWith("--audio-in needs a file name");
    } else if (argument == "--audio-in-t0") {
      if (!value(options.audioInAxisPath)) return failWith("--audio-in-t0 needs a file name");
    } else if (argument == "--audio-in-once") {
      options.audioInOnce = true;
    } else if (argument == "--audio-jitter") {
      if (!value(text) || !parseNumber(text, options.audioJitterMs) || options.audioJitterMs < 0 ||
          options.audioJitterMs > 1000) {
        return failWith("--audio-jitter needs milliseconds from 0 to 1000");
      }
    } else if (argument == "--bitrate") {
      if (!value(text) || !parseNumber(text, options.audio.bitrate) ||
          (options.audio.bitrate != 0 &&
           (options.audio.bitrate < 500 || options.audio.bitrate > 512000))) {
        return failWith("--bitrate needs 0 (raw audio) or 500 to 512000 bits a second");
      }
    } else if (argument == "--chunk-us") {
      if (!value(text) || !parseNumber(text, options.audio.chunkUs) ||
          (options.audio.chunkUs != 2500 && options.audio.chunkUs != 5000 &&
           options.audio.chunkUs != 10000 && options.audio.chunkUs != 20000)) {
        return failWith("--chunk-us needs 2500, 5000, 10000 or 20000 (the Opus frame lengths)");
      }
    } else if (argument == "--buffer-chunks") {
      if (!value(text) || !parseNumber(text, options.audio.bufferChunks) ||
          options.audio.bufferChunks < 1 || options.audio.bufferChunks > 99) {
        // The amplifier's ring holds 200 chunks: twice the pre-buffer must fit in it.
        return failWith("--buffer-chunks needs a number of chunks from 1 to 99");
      }
    } else if (argument == "--stats" || argument == "--count-frames") {
      options.stats = true;
    } else if (argument == "--verbose" || argument == "-v") {
      options.verbose = true;
    } else if (argument.starts_with("-")) {
      return failWith("unknown option " + argument);
    } else if (address.empty()) {
      address = argument;
    } else {
      return failWith("only one HOST[:PORT] may be given");
    }
  }
  if (address.empty()) return failWith("no HOST[:PORT] given");
  if (!havePassword) return failWith("--password is required");
  if (options.password.size() > kShortLengthLimit) {
    return failWith("the password is longer than 125 bytes");
  }
  const size_t colon = address.find(':');
  options.host = address.substr(0, colon);
  if (colon != std::string::npos) {
    unsigned port = 0;
    if (!parseNumber(std::string_view(address).substr(colon + 1), port) || port == 0 ||
        port > 65535) {
      return failWith("bad port in " + address);
    }
    options.port = static_cast<uint16_t>(port);
  }
  if (options.host == "localhost") options.host = "127.0.0.1";
  if (!isDottedIpv4(options.host)) {
    return failWith("HOST must be a dotted IPv4 address or localhost: " + options.host);
  }
  parsed.options = std::move(options);
  return parsed;
}

int runClient(const ClientOptions& options, ClientStreams streams) {
  Session session(options, streams);
  return session.run();
}

int runRemote(std::span<const std::string> arguments, ClientStreams streams) {
  const ParsedArguments parsed = parseArguments(arguments);
  if (parsed.help) {
    streams.out << usageText();
    return code(ExitCode::ok);
  }
  if (!parsed.options) {
    streams.err << "corvid-remote: " << parsed.error << "\n" << usageText();
    return code(ExitCode::usage);
  }
  return runClient(*parsed.options, streams);
}

}  // namespace corvid::client

#include "sim/amp_simulator.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

#include "sim/bench_root.h"
#include "sim/faults.h"

namespace corvid::bench {

namespace {

using namespace std::chrono_literals;

constexpr auto kIdleWait = 50ms;
constexpr auto kFaultsFileLook = 200ms;
constexpr auto kWriteWait = 100ms;
constexpr size_t kGarbageBytes = 24;
constexpr size_t kOverlongBytes = 500;

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
  return text.empty() ? "none" : text;
}

}  // namespace

AmpSimulator::AmpSimulator(AmpSimulatorOptions options)
    : options_(std::move(options)), wire_(options_.wireKeep), micro_(options_.model) {}

AmpSimulator::~AmpSimulator() {
  stop();
}

std::filesystem::path AmpSimulator::linkPath() const {
  return BenchRoot(options_.root).under(options_.linPort);
}

bool AmpSimulator::start(std::string& error) {
  if (running()) return true;
  pty_ = openPty(error);
  if (!pty_) return false;
  if (!waker_.open(error)) {
    pty_.reset();
    return false;
  }
  slavePath_ = pty_->slavePath;

  // The link is replaced in one rename, so the controller never finds it missing.
  std::error_code ec;
  const std::filesystem::path link = linkPath();
  const std::filesystem::path temp = link.string() + ".new";
  std::filesystem::remove(temp, ec);
  std::filesystem::create_symlink(slavePath_, temp, ec);
  if (!ec) std::filesystem::rename(temp, link, ec);
  if (ec) {
    error = "cannot link " + link.string() + " to " + slavePath_ + ": " + ec.message();
    std::filesystem::remove(temp, ec);
    pty_.reset();
    return false;
  }

  const SimClock::time_point now = SimClock::now();
  if (options_.writeWireFile) {
    std::string fileError;
    if (wire_.openFile(BenchRoot(options_.root).under("/var/log/amp-wire.log"), now, fileError)) {
      wire_.note("amplifier micro on " + slavePath_ + " (" + link.string() + "), " +
                 (options_.model == AmpModel::Watts120 ? "120 W" : "60 W") + " model");
    }
  }
  if (options_.watchFaultsFile) checkFaultsFile();
  {
    std::scoped_lock lock(mutex_);
    micro_.advance(now);
  }
  stopRequested_ = false;
  thread_ = std::thread([this] { run(); });
  return true;
}

void AmpSimulator::stop() {
  if (!thread_.joinable()) return;
  stopRequested_ = true;
  waker_.wake();
  thread_.join();
  removeLink();
  wire_.note("stopped");
  wire_.closeFile();
  pty_.reset();
}

void AmpSimulator::removeLink() {
  std::error_code ec;
  const std::filesystem::path link = linkPath();
  // Only our own link: a later simulator may have replaced it.
  if (std::filesystem::read_symlink(link, ec) == slavePath_ && !ec) {
    std::filesystem::remove(link, ec);
  }
}

void AmpSimulator::setFaults(MicroFaults faults) {
  std::scoped_lock lock(mutex_);
  apiFaults_ = std::move(faults);
  faults_ = apiFaults_.mergedWith(fileFaults_);
}

MicroFaults AmpSimulator::faults() const {
  std::scoped_lock lock(mutex_);
  return faults_;
}

std::vector<std::string> AmpSimulator::faultsFileErrors() const {
  std::scoped_lock lock(mutex_);
  return fileErrors_;
}

SimulatorCounters AmpSimulator::counters() const {
  std::scoped_lock lock(mutex_);
  SimulatorCounters counters = counters_;
  counters.refused = micro_.refusedCount();
  return counters;
}

std::optional<BestMatch> AmpSimulator::bestReachable() {
  std::shared_ptr<const TunerLoad> tuner;
  int antenna = 0;
  uint64_t frequency = 0;
  {
    std::scoped_lock lock(mutex_);
    tuner = micro_.tuner();
    antenna = micro_.settings().selectedAntenna;
    frequency = micro_.transceiverFrequency();
  }
  if (!tuner) return std::nullopt;
  return tuner->best(antenna, frequency);
}

void AmpSimulator::checkFaultsFile() {
  const std::filesystem::path file = BenchRoot(options_.root).faultsFile();
  FileStamp stamp;
  struct stat st {};
  if (::stat(file.c_str(), &st) == 0) {
    std::error_code ec;
    stamp.exists = true;
    stamp.size = static_cast<uintmax_t>(st.st_size);
    stamp.inode = st.st_ino;
    stamp.time = std::filesystem::last_write_time(file, ec);
  }
  if (faultsStamp_ && *faultsStamp_ == stamp) return;
  faultsStamp_ = stamp;
  std::vector<std::string> errors;
  const MicroFaults fromFile = microFaultsOf(Faults::load(file), &errors);
  {
    std::scoped_lock lock(mutex_);
    fileFaults_ = fromFile;
    fileErrors_ = errors;
    faults_ = apiFaults_.mergedWith(fileFaults_);
  }
  wire_.note("faults file: " + joined(fromFile.words()));
  for (const std::string& err : errors) wire_.note(err);
}

void AmpSimulator::run() {
  std::vector<Frame> frames;
  FrameParser parser;
  SimClock::time_point nextFileLook = SimClock::now() + kFaultsFileLook;
  while (!stopRequested_) {
    SimClock::time_point wakeAt = SimClock::now() + kIdleWait;
    if (!pending_.empty() && pending_.front().due < wakeAt) wakeAt = pending_.front().due;
    const auto wait =
        std::chrono::ceil<std::chrono::milliseconds>(wakeAt - SimClock::now()).count();
    std::array<pollfd, 2> fds = {{{waker_.readFd(), POLLIN, 0}, {pty_->master.get(), POLLIN, 0}}};
    const int timeoutMs = static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait, 0));
    const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
    if (ready < 0 && errno != EINTR) break;
    if ((fds[0].revents & POLLIN) != 0) waker_.drain();
    if (stopRequested_) break;

    if ((fds[1].revents & POLLIN) != 0) {
      std::array<char, 1024> buffer{};
      const ssize_t n = ::read(pty_->master.get(), buffer.data(), buffer.size());
      if (n > 0) {
        frames.clear();
        parser.feed(std::string_view(buffer.data(), static_cast<size_t>(n)), frames);
        const SimClock::time_point now = SimClock::now();
        for (const Frame& frame : frames) onFrame(frame, now);
      }
    } else if ((fds[1].revents & (POLLHUP | POLLERR)) != 0) {
      // Cannot happen while the slave end is held, but must not spin if it does.
      std::this_thread::sleep_for(10ms);
    }

    const SimClock::time_point now = SimClock::now();
    while (!pending_.empty() && pending_.front().due <= now) {
      send(pending_.front().bytes);
      pending_.pop_front();
    }
    if (options_.watchFaultsFile && now >= nextFileLook) {
      checkFaultsFile();
      nextFileLook = now + kFaultsFileLook;
    }
    std::scoped_lock lock(mutex_);
    micro_.advance(now);
  }
}

void AmpSimulator::onFrame(const Frame& frame, SimClock::time_point now) {
  wire_.add({now, WireDirection::FromController, frame.bytes, frame.check});
  std::optional<std::string> bytes;
  std::optional<std::chrono::milliseconds> late;
  {
    std::scoped_lock lock(mutex_);
    ++counters_.frames;
    if (frame.check != FrameCheck::Ok) {
      ++counters_.badFrames;
      return;
    }
    bytes = replyBytes(frame.text(), now);
    late = faults_.late;
  }
  if (!bytes) return;
  if (late && late->count() > 0) {
    pending_.push_back({now + *late, std::move(*bytes)});
  } else {
    send(*bytes);
  }
}

// Under the lock: the bytes to send for one command text, faults applied.
std::optional<std::string> AmpSimulator::replyBytes(std::string_view text,
                                                    SimClock::time_point now) {
  const std::optional<ReplyFault> fault = faults_.replyFaultFor(text);
  // A silent micro never hears the command; a refusing one does not act on it.
  if (fault == ReplyFault::Silent) return std::nullopt;
  if (fault == ReplyFault::Refused) {
    return frameReply(std::string(text.substr(0, std::min<size_t>(2, text.size()))) + "?;");
  }
  const std::optional<std::string> reply = micro_.answer(text, now, faults_);
  if (!reply) return std::nullopt;
  if (!fault) return frameReply(*reply);
  switch (*fault) {
    case ReplyFault::BadChecksum: {
      std::string framed = frameReply(*reply);
      // One more than the right value, so the digits are always wrong.
      const uint8_t wrong = static_cast<uint8_t>(crc8Maxim(*reply) + 1);
      constexpr std::string_view kDigits = "0123456789ABCDEF";
      framed[0] = kDigits[wrong >> 4];
      framed[1] = kDigits[wrong & 0x0F];
      return framed;
    }
    case ReplyFault::LowerCaseChecksum:
      return frameReply(*reply, DigitCase::Lower);
    case ReplyFault::Garbage: {
      // Line noise: bytes a terminal would translate or act on (CR, LF, NUL, XON,
      // XOFF, 0xFF) and then random ones; never ';'.
      std::string noise("\r\n\0\x11\x13\xFF", 6);
      for (size_t i = noise.size(); i < kGarbageBytes; ++i) {
        noiseSeed_ = noiseSeed_ * 1664525u + 1013904223u;
        auto byte = static_cast<char>(noiseSeed_ >> 24);
        if (byte == ';') byte = '\r';
        noise += byte;
      }
      return noise;
    }
    case ReplyFault::Semicolon:
      return std::string(";");
    case ReplyFault::Overlong: {
      constexpr std::string_view kPattern = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
      std::string text500;
      for (size_t i = 0; i < kOverlongBytes; ++i) text500 += kPattern[i % kPattern.size()];
      return text500;
    }
    case ReplyFault::Silent:
    case ReplyFault::Refused:
      break;  // handled above
  }
  return frameReply(*reply);
}

void AmpSimulator::send(const std::string& bytes) {
  // Logged before it is written: whatever the controller has read is in the log.
  wire_.add({SimClock::now(), WireDirection::ToController, bytes, FrameCheck::Ok});
  {
    std::scoped_lock lock(mutex_);
    ++counters_.replies;
  }
  std::string_view rest = bytes;
  const SimClock::time_point deadline = SimClock::now() + kWriteWait;
  while (!rest.empty()) {
    const ssize_t n = ::write(pty_->master.get(), rest.data(), rest.size());
    if (n > 0) {
      rest.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) break;
    // The controller is not reading: give it a little while, then drop the rest.
    if (SimClock::now() >= deadline) break;
    pollfd out{pty_->master.get(), POLLOUT, 0};
    ::poll(&out, 1, 10);
  }
  if (!rest.empty()) {
    wire_.note("the line took only " + std::to_string(bytes.size() - rest.size()) + " of " +
               std::to_string(bytes.size()) + " bytes of the last reply");
  }
}

}  // namespace corvid::bench

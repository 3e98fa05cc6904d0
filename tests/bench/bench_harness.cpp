#include "tests/bench/bench_harness.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include "sim/calls_log.h"

namespace corvid::bench::test {

namespace fs = std::filesystem;

namespace {

// A program's thread name as the kernel gives it at exec: at most 15 bytes.
std::string commOf(const fs::path& program) {
  return program.filename().string().substr(0, 15);
}

}  // namespace

TempFolder::TempFolder() {
  const char* base = std::getenv("TMPDIR");  // NOLINT(concurrency-mt-unsafe): no setenv
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/corvid-bench-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp " << pattern << ": " << std::generic_category().message(errno);
    return;
  }
  path_ = pattern;
}

TempFolder::~TempFolder() {
  if (path_.empty()) return;
  std::error_code ec;
  fs::remove_all(path_, ec);
}

CorvidRun::CorvidRun(const RunOptions& options) : workingDir_(options.workingDir) {
  if (temp_.path().empty()) return;
  PrepareOptions prepare;
  prepare.dir = temp_.path() / "root";
  prepare.standin = CORVID_STANDIN_BINARY;
  prepare.settings = SettingsStart::Fresh;
  prepare.faults = options.faults;
  prepare.answers = options.answers;
  PrepareResult result = prepareRoot(prepare);
  if (!result.root) {
    ADD_FAILURE() << "bench root not prepared: " << result.error;
    return;
  }
  root_ = std::move(result.root);
}

void CorvidRun::stop() {
  if (child_) child_->stop();
}

CorvidRun::~CorvidRun() {
  if (child_) child_->stop();
  stopReading_ = true;
  if (reader_.joinable()) reader_.join();
  child_.reset();
  // ThreadSanitizer only reports and the controller is stopped by a signal, so its
  // exit status says nothing: the report in the log is what fails the run. The stand-ins
  // write to the same standard error.
  for (std::string_view report : {"WARNING: ThreadSanitizer:", "ERROR: AddressSanitizer:",
                                  "ERROR: LeakSanitizer:", "runtime error:"}) {
    if (const size_t at = log_.find(report); at != std::string::npos) {
      ADD_FAILURE() << "sanitizer report in the controller's log:\n" << log_.substr(at, 4000);
    }
  }
}

void CorvidRun::writeFile(std::string_view unitPath, std::string_view content) const {
  ASSERT_TRUE(root_);
  std::ofstream out(root_->under(unitPath), std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  ASSERT_TRUE(out) << "cannot write " << root_->under(unitPath);
}

std::optional<std::string> CorvidRun::readFile(std::string_view unitPath) const {
  if (!root_) return std::nullopt;
  return readWholeFile(root_->under(unitPath));
}

bool CorvidRun::start() {
  if (!root_) return false;
  if (child_) {
    // A restart: the last run is reaped and its reader has read its pipe to the end (a
    // stand-in that outlives the controller may hold it open: two seconds at most).
    child_->stop();
    {
      std::unique_lock lock(mutex_);
      changed_.wait_for(lock, 2s, [&] { return logEnded_; });
    }
    stopReading_ = true;
    if (reader_.joinable()) reader_.join();
    stopReading_ = false;
    child_.reset();
    std::scoped_lock lock(mutex_);
    logEnded_ = false;
  }
  ChildOptions options;
  options.argv = emulatorWords();
  options.argv.insert(options.argv.end(), {CORVID_BINARY, "--root", root_->dir().string()});
  options.stdoutFile = temp_.path() / "stdout.txt";
  options.workingDir = workingDir_;
  if (!environment_.empty()) options.env = environmentWith(environment_);
  std::string error;
  child_ = ChildProcess::start(options, error);
  if (!child_) {
    ADD_FAILURE() << "cannot start corvid: " << error;
    return false;
  }
  reader_ = std::thread([this, fd = child_->stderrFd()] { readStderr(fd); });
  return true;
}

void CorvidRun::readStderr(int fd) {
  // Polled with a timeout rather than blocked on: a stand-in that outlives the controller
  // may hold the pipe open, and the run must still end.
  while (!stopReading_) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, 50);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    std::scoped_lock lock(mutex_);
    log_.append(buffer, static_cast<size_t>(n));
    changed_.notify_all();
  }
  std::scoped_lock lock(mutex_);
  logEnded_ = true;
  changed_.notify_all();
}

bool CorvidRun::waitForLog(std::string_view text, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout,
                    [&] { return log_.find(text) != std::string::npos || logEnded_; });
  return log_.find(text) != std::string::npos;
}

std::string CorvidRun::log() const {
  std::scoped_lock lock(mutex_);
  return log_;
}

size_t CorvidRun::logSize() const {
  std::scoped_lock lock(mutex_);
  return log_.size();
}

std::string CorvidRun::logFrom(size_t from) const {
  std::scoped_lock lock(mutex_);
  return from < log_.size() ? log_.substr(from) : std::string();
}

std::optional<size_t> CorvidRun::waitForLogFrom(size_t from, std::string_view text,
                                                std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  size_t at = std::string::npos;
  changed_.wait_for(lock, timeout, [&] {
    at = from < log_.size() ? log_.find(text, from) : std::string::npos;
    return at != std::string::npos || logEnded_;
  });
  if (at == std::string::npos) return std::nullopt;
  return at + text.size();
}

std::vector<std::string> CorvidRun::calls() const {
  return root_ ? readCallsLog(root_->callsLog()) : std::vector<std::string>{};
}

std::vector<std::string> CorvidRun::threadNames() const {
  std::vector<std::string> names;
  if (!child_) return names;
  std::error_code ec;
  const fs::path tasks = fs::path("/proc") / std::to_string(child_->pid()) / "task";
  // Under an emulator the main thread (and the emulator's own helper thread) carry the
  // emulator's name; they are shown under the controller's, as natively.
  const std::vector<std::string> emulator = emulatorWords();
  const std::string emulatorComm = emulator.empty() ? std::string() : commOf(emulator.front());
  for (const auto& task : fs::directory_iterator(tasks, ec)) {
    // A thread may end between the listing and the read: it is then simply gone.
    std::optional<std::string> comm = readWholeFile(task.path() / "comm");
    if (!comm) continue;
    if (!comm->empty() && comm->back() == '\n') comm->pop_back();
    if (!emulatorComm.empty() && *comm == emulatorComm) *comm = commOf(CORVID_BINARY);
    names.push_back(*comm);
  }
  return names;
}

MicroRun::MicroRun(const RunOptions& options) : run_(options) {
  // Without a prepared root the simulator gets a folder that does not exist, and its
  // start fails: the test has its failure already.
  AmpSimulatorOptions micro;
  micro.root = run_.prepared() ? run_.root().dir() : fs::path("/nonexistent");
  micro_.emplace(micro);
}

MicroRun::~MicroRun() {
  run_.stop();
  micro_->stop();
}

bool MicroRun::start() {
  std::string error;
  if (!micro_->start(error)) {
    ADD_FAILURE() << "amplifier micro simulator: " << error;
    return false;
  }
  return run_.start();
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
}

bool waitForFrame(AmpSimulator& micro, std::string_view text, size_t from,
                  std::chrono::milliseconds timeout) {
  return micro.wire().waitFor(
      from,
      [&](std::span<const WireEntry> wire) {
        return std::any_of(wire.begin(), wire.end(), [&](const WireEntry& entry) {
          return entry.fromController() && entry.text() == text;
        });
      },
      timeout);
}

std::vector<std::string> framesSince(const AmpSimulator& micro, size_t from) {
  std::vector<std::string> frames;
  for (const WireEntry& entry : micro.wire().since(from)) {
    if (entry.fromController()) frames.emplace_back(entry.text());
  }
  return frames;
}

std::string factoryBandTable(std::string_view interfaceLine, std::string_view choices) {
  static constexpr const char* kBands[11] = {
      "160m 1800000 2000000",  "80m 3500000 4000000",   "60m 5330500 5450000",
      "40m 7000000 7300000",   "30m 10100000 10150000", "20m 14000000 14350000",
      "17m 18068000 18168000", "15m 21000000 21450000", "12m 24890000 24990000",
      "10m 28000000 29700000", "6m 50000000 54000000"};
  std::string text = std::string(interfaceLine) + "\n";
  for (const char* row : kBands) text += std::string(row) + " " + std::string(choices) + "\n";
  return text;
}

void writeBandTables(const CorvidRun& run, const std::string& table) {
  run.writeFile("/opt/set/antenna.txt", table);
  run.writeFile("/opt/set/antenna_b1.txt", table);
}

std::string goldenSetup() {
  const std::optional<std::string> text =
      readWholeFile(fs::path(CORVID_GOLDEN_DIR) / "setup_default.txt");
  if (!text) ADD_FAILURE() << "no golden setup_default.txt in " << CORVID_GOLDEN_DIR;
  return text.value_or("");
}

std::string withValues(std::string setupText,
                       const std::vector<std::pair<std::string, std::string>>& values) {
  for (const auto& [key, value] : values) {
    const std::string start = key + ": ";
    size_t at = setupText.starts_with(start) ? 0 : setupText.find("\n" + start);
    if (at == std::string::npos) {
      ADD_FAILURE() << "no key " << key << " in the settings text";
      continue;
    }
    if (at != 0) ++at;
    const size_t valueStart = at + start.size();
    const size_t end = setupText.find('\n', valueStart);
    setupText.replace(valueStart, (end == std::string::npos ? setupText.size() : end) - valueStart,
                      value);
  }
  return setupText;
}

}  // namespace corvid::bench::test

// The harness of the bench tests: a fresh bench root in a temporary folder of its own,
// the real controller started on it ("corvid --root DIR") with its standard error
// captured by a reader thread, and the means to wait for a log line, read the calls log
// and the root's files, and list the controller's threads. The controller is always
// stopped and reaped, and the folder removed, when the run goes out of scope, also when
// an assertion ended the test early.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "sim/amp_simulator.h"
#include "sim/bench_root.h"
#include "sim/child_process.h"

namespace corvid::bench::test {

using namespace std::chrono_literals;

// Generous: a sanitizer build on a busy machine is slow, and only a fault makes a test
// wait this long.
inline constexpr std::chrono::seconds kLogTimeout = 30s;

struct RunOptions {
  std::vector<std::string> faults;
  std::map<std::string, std::string> answers;
  // The controller's working folder, where it reads the panel pictures ("%s.png");
  // empty: the test's own.
  std::filesystem::path workingDir = {};
};

// A temporary folder, removed with everything in it at the end of its scope.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class CorvidRun {
 public:
  explicit CorvidRun(const RunOptions& options = {});
  ~CorvidRun();
  CorvidRun(const CorvidRun&) = delete;
  CorvidRun& operator=(const CorvidRun&) = delete;

  const BenchRoot& root() const { return *root_; }
  bool prepared() const { return root_.has_value(); }

  // Files of the unit, by their path on the unit ("/opt/set/setup.txt").
  void writeFile(std::string_view unitPath, std::string_view content) const;
  std::optional<std::string> readFile(std::string_view unitPath) const;

  // Starts the controller; false (with a test failure added) when it cannot. After
  // stop() it starts the controller again on the same root; the log goes on.
  bool start();
  // Words ("NAME=value") added to the controller's environment at its next start.
  void setEnvironment(std::vector<std::string> words) { environment_ = std::move(words); }
  pid_t pid() const { return child_ ? child_->pid() : -1; }
  bool alive() { return child_ && child_->running(); }
  // How the controller ended; empty while it runs (or before it started).
  std::optional<ExitStatus> exitStatus() { return child_ ? child_->poll() : std::nullopt; }
  // Stops the controller (it is also stopped at the end of the run).
  void stop();

  // Waits until the captured log holds text; false after the timeout or when the log
  // ended without it.
  bool waitForLog(std::string_view text, std::chrono::milliseconds timeout = kLogTimeout);
  std::string log() const;
  // The length of the log so far, and the log from offset from on.
  size_t logSize() const;
  std::string logFrom(size_t from) const;
  // Waits until the log holds text at or after offset from; the offset just past its
  // first occurrence there, empty after the timeout or when the log ended without it.
  std::optional<size_t> waitForLogFrom(size_t from, std::string_view text,
                                       std::chrono::milliseconds timeout = kLogTimeout);

  std::vector<std::string> calls() const;
  // The names of the controller's threads (/proc/PID/task/*/comm).
  std::vector<std::string> threadNames() const;

 private:
  void readStderr(int fd);

  TempFolder temp_;
  std::optional<BenchRoot> root_;
  std::filesystem::path workingDir_;
  std::vector<std::string> environment_;
  std::optional<ChildProcess> child_;
  std::thread reader_;
  std::atomic<bool> stopReading_{false};
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string log_;
  bool logEnded_ = false;
};

// The controller with the amplifier micro simulator on its line. The simulator is made
// with the run, so that a test can set it up before start(); it starts before the
// controller and stops after it.
class MicroRun {
 public:
  explicit MicroRun(const RunOptions& options = {});
  ~MicroRun();
  MicroRun(const MicroRun&) = delete;
  MicroRun& operator=(const MicroRun&) = delete;

  CorvidRun& corvid() { return run_; }
  AmpSimulator& micro() { return *micro_; }
  // False (with a test failure added) when either cannot start.
  bool start();

 private:
  CorvidRun run_;
  std::optional<AmpSimulator> micro_;
};

// Waits until the controller has sent the micro a frame with this text (after the two
// checksum digits), looking at the wire from entry from on.
bool waitForFrame(AmpSimulator& micro, std::string_view text, size_t from = 0,
                  std::chrono::milliseconds timeout = kLogTimeout);
// The texts of the controller's frames from wire entry from on.
std::vector<std::string> framesSince(const AmpSimulator& micro, size_t from);

// Polls condition every 20 ms until it holds; false after the timeout.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = kLogTimeout);

// The settings file as the controller writes it with every default.
std::string goldenSetup();

// The eleven factory band rows behind an interface line ("!Pex", "!817", "!Gen"), each
// with the same choices (AmpEnable Ant Atu Att PwrIn); 14.07 MHz is in row 5 (20 m).
std::string factoryBandTable(std::string_view interfaceLine,
                             std::string_view choices = "1 1 0 0 5.0");
// That table for bank 0 and for bank 1 (the one in use with the factory settings).
void writeBandTables(const CorvidRun& run, const std::string& table);

// setupText with the values of some keys replaced; every key must be present.
std::string withValues(std::string setupText,
                       const std::vector<std::pair<std::string, std::string>>& values);

}  // namespace corvid::bench::test

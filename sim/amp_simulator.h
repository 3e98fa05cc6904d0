// The amplifier micro simulator: the micro (amp_micro.h) served on a pseudo-terminal
// whose slave end is linked where the controller looks for its amplifier line
// (DIR/dev/ttyAMA0 for the default LinPort "/dev/ttyAMA0"). One thread of its own reads
// the controller's frames, checks each one, answers it as the micro does (with the
// faults of micro_faults.h applied), logs both (wire_log.h, DIR/var/log/amp-wire.log),
// and lets the micro's physics follow the time. The thread runs from start() to stop()
// (or the destructor); stop() also removes the link.
//
// A frame that fails the check (checksum wrong, not hexadecimal, upper-case digits, too
// short, overlong) is counted as bad and not answered: a micro does not act on a
// command it cannot trust, and the controller then sees a missing reply.
//
// The faults file DIR/bench/faults is looked at every 200 ms and read again when it
// changed (its time, size or inode); each change is noted in the wire log file.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim/amp_micro.h"
#include "sim/micro_faults.h"
#include "sim/pty.h"
#include "sim/wire_log.h"

namespace corvid::bench {

struct AmpSimulatorOptions {
  std::filesystem::path root;            // the bench root (absolute)
  std::string linPort = "/dev/ttyAMA0";  // the controller's LinPort, taken under root
  AmpModel model = AmpModel::Watts60;    // chooses the EEPROM's page 2
  bool watchFaultsFile = true;           // DIR/bench/faults
  bool writeWireFile = true;             // DIR/var/log/amp-wire.log
  size_t wireKeep = 200000;              // entries kept in memory
};

struct SimulatorCounters {
  size_t frames = 0;     // frames received from the controller
  size_t badFrames = 0;  // of which failed the check
  size_t replies = 0;    // replies (or fault bytes) sent
  int refused = 0;       // commands the micro refused as unknown or malformed
};

class AmpSimulator {
 public:
  explicit AmpSimulator(AmpSimulatorOptions options);
  ~AmpSimulator();
  AmpSimulator(const AmpSimulator&) = delete;
  AmpSimulator& operator=(const AmpSimulator&) = delete;

  // Opens the pseudo-terminal, links it, starts the thread; false (with error) on
  // failure, when nothing is left behind.
  bool start(std::string& error);
  void stop();
  bool running() const { return thread_.joinable(); }

  std::filesystem::path linkPath() const;
  const std::string& slavePath() const { return slavePath_; }

  // Runs f on the micro under the simulator's lock, after its physics has followed the
  // time: set-up and inspection between two frames.
  template <class F>
  decltype(auto) withMicro(F&& f) {
    std::scoped_lock lock(mutex_);
    micro_.advance(SimClock::now());
    return std::forward<F>(f)(micro_);
  }

  // The faults set through this interface (replacing the earlier ones); they apply
  // together with the faults file's.
  void setFaults(MicroFaults faults);
  void clearFaults() { setFaults({}); }
  // The faults in force: the file's and this interface's.
  MicroFaults faults() const;
  // What was wrong with the amp- words of the faults file at its last reading.
  std::vector<std::string> faultsFileErrors() const;

  // The best SWR the tuner network could reach for the micro's present antenna and
  // frequency; nullopt without a tuner. The first call for an antenna and frequency
  // searches every setting (tens of milliseconds) outside the lock, so the serial line
  // is served meanwhile.
  std::optional<BestMatch> bestReachable();

  const WireLog& wire() const { return wire_; }
  SimulatorCounters counters() const;

 private:
  struct PendingReply {
    SimClock::time_point due;
    std::string bytes;
  };

  void run();
  void onFrame(const Frame& frame, SimClock::time_point now);
  std::optional<std::string> replyBytes(std::string_view text, SimClock::time_point now);
  void send(const std::string& bytes);
  void checkFaultsFile();
  void removeLink();

  AmpSimulatorOptions options_;
  std::optional<Pty> pty_;
  Waker waker_;
  std::string slavePath_;
  std::thread thread_;
  std::atomic<bool> stopRequested_{false};
  WireLog wire_;

  mutable std::mutex mutex_;  // the micro, the faults, the counters
  AmpMicro micro_;
  MicroFaults apiFaults_;
  MicroFaults fileFaults_;
  MicroFaults faults_;  // in force
  std::vector<std::string> fileErrors_;
  SimulatorCounters counters_;
  uint32_t noiseSeed_ = 0x2545F491u;

  // Only the thread touches these.
  std::deque<PendingReply> pending_;
  struct FileStamp {
    std::filesystem::file_time_type time{};
    uintmax_t size = 0;
    uintmax_t inode = 0;
    bool exists = false;
    bool operator==(const FileStamp&) const = default;
  };
  std::optional<FileStamp> faultsStamp_;
};

}  // namespace corvid::bench

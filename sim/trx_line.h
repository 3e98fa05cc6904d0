// The serial line of a simulated transceiver: a pseudo-terminal whose master end the
// simulator serves and whose slave end is linked under the bench root where the
// controller looks for its port (DIR/dev/VORN817, DIR/dev/VORNSER). The simulator keeps
// the slave open too, so that the master never sees a hang-up while the controller has
// the line closed. Also: a pipe that wakes the simulator's poll loop for its stop, and
// the faults-file words a simulator reads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace corvid::bench {

class TrxLine {
 public:
  // A raw pseudo-terminal linked at link (an existing link there is replaced); empty,
  // with error set, on failure.
  static std::optional<TrxLine> open(const std::filesystem::path& link, std::string& error);

  TrxLine(TrxLine&& other) noexcept;
  TrxLine& operator=(TrxLine&& other) = delete;
  TrxLine(const TrxLine&) = delete;
  TrxLine& operator=(const TrxLine&) = delete;
  ~TrxLine();  // closes both ends and removes the link

  int master() const { return master_; }
  const std::string& slavePath() const { return slavePath_; }
  const std::filesystem::path& link() const { return link_; }

  // Without waiting: bytes read (0 none), or -errno.
  long read(std::span<uint8_t> buffer) const;
  // Without waiting: bytes taken (0 when the line is full), or -errno.
  long write(std::span<const uint8_t> data) const;

 private:
  TrxLine() = default;
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
  std::filesystem::path link_;
};

// Wakes a poll loop from another thread.
class TrxWaker {
 public:
  TrxWaker();
  ~TrxWaker();
  TrxWaker(const TrxWaker&) = delete;
  TrxWaker& operator=(const TrxWaker&) = delete;
  bool ok() const { return read_ >= 0; }
  int fd() const { return read_; }
  void wake() const;
  void drain() const;

 private:
  int read_ = -1;
  int write_ = -1;
};

// The line and the thread of a transceiver simulator: start() opens the line, links it at
// root + port and runs body on a thread of its own; stop() (also the destructor) wakes
// the body, joins it and closes the line. The body polls with waitLine and ends when
// stopRequested() holds.
class TrxLineThread {
 public:
  TrxLineThread(std::filesystem::path root, std::string port)
      : root_(std::move(root)), port_(std::move(port)) {}
  ~TrxLineThread() { stop(); }
  TrxLineThread(const TrxLineThread&) = delete;
  TrxLineThread& operator=(const TrxLineThread&) = delete;

  std::filesystem::path linkPath() const;
  // True at once when already running; false (with error) when the line cannot open.
  bool start(std::function<void()> body, std::string& error);
  void stop();

  bool stopRequested() const { return stopRequested_; }
  // Only while running.
  const TrxLine& line() const { return *line_; }
  const TrxWaker& waker() const { return waker_; }

 private:
  std::filesystem::path root_;
  std::string port_;
  std::optional<TrxLine> line_;
  TrxWaker waker_;
  std::thread thread_;
  std::atomic<bool> stopRequested_{false};
};

// Waits until the line has bytes, the waker fired or timeoutMs passed; with wantWrite
// also until the line can take bytes. Returns the poll flags of the line.
short waitLine(const TrxLine& line, const TrxWaker& waker, int timeoutMs, bool wantWrite);

// The words of the faults file DIR/bench/faults that start with prefix ("ft817-"),
// with the prefix removed; none when the file is missing.
std::vector<std::string> faultWords(const std::filesystem::path& root, std::string_view prefix);

}  // namespace corvid::bench

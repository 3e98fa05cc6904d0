// The wire log of the amplifier micro simulator: every frame received from the
// controller and every reply sent, with the time it passed (steady clock). It is kept in
// memory for tests and the benchmark (the newest entries, up to a limit) and appended to
// a file for the person at the bench (emptied when the simulator starts), one line each:
//
//       12.345678 ctl> 5cST;
//       12.345712 amp> 4AST080000000000000000000001300130000000000;
//       13.001200 ctl> 5CST;   ! upper-case checksum digits
//   # a note
//
// The time is in seconds since the simulator started; "ctl>" is a frame from the
// controller, "amp>" bytes sent by the micro; bytes outside printable ASCII are shown as
// \xHH. A frame the micro found bad ends with "! " and the reason.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/micro_protocol.h"
#include "sim/pty.h"

namespace corvid::bench {

enum class WireDirection { FromController, ToController };

struct WireEntry {
  std::chrono::steady_clock::time_point at;
  WireDirection direction = WireDirection::FromController;
  std::string bytes;
  FrameCheck check = FrameCheck::Ok;  // of a frame from the controller

  bool fromController() const { return direction == WireDirection::FromController; }
  // The text after the two checksum digits.
  std::string_view text() const {
    return bytes.size() >= 2 ? std::string_view(bytes).substr(2) : std::string_view();
  }
};

// A frame of the controller and the micro's answer to it: the bytes sent next, before
// the controller's next frame (none when the micro stayed silent).
struct WireExchange {
  const WireEntry* frame = nullptr;
  const WireEntry* reply = nullptr;
};

// The exchanges of a stretch of the log (bytes sent before its first frame are skipped);
// the pointers point into wire.
std::vector<WireExchange> exchangesOf(std::span<const WireEntry> wire);

class WireLog {
 public:
  explicit WireLog(size_t keep = 200000) : keep_(keep) {}

  // Writes the lines to file from now on (emptied first: one file per run); false (with
  // error) when it cannot be opened.
  bool openFile(const std::filesystem::path& file, std::chrono::steady_clock::time_point start,
                std::string& error);
  void closeFile();
  // A line "# text" in the file.
  void note(std::string_view text);

  void add(WireEntry entry);

  // Entries logged since the start, also those no longer kept.
  size_t size() const;
  // The kept entries with an index of at least from.
  std::vector<WireEntry> since(size_t from = 0) const;
  // Waits until done holds for the kept entries from index from on (evaluated under the
  // log's lock at each new entry); false after the timeout.
  bool waitFor(size_t from, const std::function<bool(std::span<const WireEntry>)>& done,
               std::chrono::milliseconds timeout) const;

 private:
  std::span<const WireEntry> keptFrom(size_t from) const;
  void writeLine(const WireEntry& entry);

  size_t keep_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<WireEntry> entries_;
  size_t firstIndex_ = 0;  // the index of entries_.front()
  UniqueFd file_;
  std::chrono::steady_clock::time_point start_{};
};

}  // namespace corvid::bench

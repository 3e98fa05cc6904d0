// The service keyboard of a bench root: the FIFO DIR/dev/input/by-id/
// usb-Corvid_Bench_Keyboard-event-kbd, which the controller finds and reads as a USB
// keyboard, and the bench writes Linux input events into. The records are this
// machine's own struct input_event (24 bytes on x86-64, 16 on armhf): the controller
// that reads them runs on the same machine, or under the same emulator as the bench.
//
// The FIFO is opened for reading and writing, without blocking. Linux allows O_RDWR on
// a FIFO (POSIX leaves it open): the open never waits for a reader, and since the bench
// itself then holds the FIFO open, the controller never reads end-of-file while the
// bench runs, however often it is started. Safe to use from any thread of one process;
// a key's records go into the FIFO in one write, so two threads never interleave them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace corvid::bench {

// The keys the controller acts on, by the names the bench takes.
struct ServiceKey {
  std::string_view name;
  uint16_t code;  // KEY_ of linux/input-event-codes.h
};
std::span<const ServiceKey> serviceKeys();
// The code of a key of serviceKeys(), its name taken without regard to case ("f12").
std::optional<uint16_t> keyCode(std::string_view name);
// "SysRq, F1, F2, ...": the names, for messages.
std::string serviceKeyNames();

// True when fifo is a FIFO and some process holds it open for reading: what is written then stays
// until it is read. Without a reader, what a short-lived writer puts in goes with its
// last descriptor.
bool hasReader(const std::filesystem::path& fifo);

class ServiceKeyboard {
 public:
  // Opens the FIFO; ok() tells whether that worked, error() why not.
  explicit ServiceKeyboard(const std::filesystem::path& fifo);
  ~ServiceKeyboard();
  ServiceKeyboard(const ServiceKeyboard&) = delete;
  ServiceKeyboard& operator=(const ServiceKeyboard&) = delete;

  bool ok() const { return fd_ >= 0; }
  // Why the FIFO could not be opened, or why the last write failed; empty after a
  // write that worked.
  std::string error() const;

  // One event record. False when it could not be written whole: the FIFO is full (the
  // controller does not read it) or was never opened. Never blocks.
  bool event(uint16_t type, uint16_t code, int32_t value);
  // A key-down and a key-up, each followed by a SYN_REPORT.
  bool press(uint16_t code);
  // An autorepeat (value 2) and a SYN_REPORT.
  bool repeat(uint16_t code);
  // A key-up and a SYN_REPORT.
  bool release(uint16_t code);

 private:
  struct Record {
    uint16_t type;
    uint16_t code;
    int32_t value;
  };
  bool write(std::span<const Record> records);

  int fd_ = -1;
  mutable std::mutex mutex_;
  std::string error_;
};

}  // namespace corvid::bench

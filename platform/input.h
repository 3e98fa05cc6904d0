// The service keyboard: a Linux input event device found under /dev/input/by-id (under
// the root), read one event at a time in the layout of the machine the program runs on
// (struct input_event: 16 bytes on 32-bit ARM, 24 on x86-64).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/fd.h"

namespace corvid::platform {

struct InputEvent {
  uint16_t type = 0;  // 1: a key
  uint16_t code = 0;  // the key's code of the input layer
  int32_t value = 0;  // key: 1 pressed, 0 released, 2 repeated
};

// The first "/dev/input/by-id/*-event-kbd" in name order, as its unit path; none when
// there is no keyboard.
std::optional<std::string> findKeyboard();

// Whole events from the bytes reads hand out, however they are cut: a read may stop
// inside an event, and the rest comes with the next.
class EventAssembler {
 public:
  // The size of one event on this machine.
  static size_t eventSize();
  // The bytes still wanted for the event begun (a whole event's size when none is).
  size_t wanted() const { return eventSize() - partial_.size(); }
  // Takes up to wanted() of the n bytes and returns how many it took; with the last byte
  // of an event it sets `event` (left alone otherwise).
  size_t add(const char* bytes, size_t n, std::optional<InputEvent>& event);

 private:
  std::string partial_;
};

class InputDevice {
 public:
  // Opens the device read-only; errno when it cannot.
  static Result<InputDevice> openDevice(const std::string& path);

  InputDevice() = default;
  // Takes the device for this program alone (EVIOCGRAB), so its keys no longer reach the
  // console; 0 or errno.
  int grab();

  enum class Read { Event, None, Ended, Failed };
  struct ReadResult {
    Read what = Read::None;
    InputEvent event;
    int error = 0;  // with Failed
  };
  // Waits up to timeoutMs for one whole event. Ended: the device is gone (unplugged, or
  // a FIFO whose writer closed it).
  ReadResult read(int timeoutMs);

  bool isOpen() const { return fd_.valid(); }
  void close() { fd_.reset(); }

 private:
  explicit InputDevice(Fd fd) : fd_(std::move(fd)) {}
  Fd fd_;
  EventAssembler assembler_;
};

}  // namespace corvid::platform

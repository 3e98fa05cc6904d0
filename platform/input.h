// The service keyboard: a Linux input event device found under /dev/input/by-id (under
// the root), read one event at a time in the layout of the machine the program runs on
// (struct input_event: 16 bytes on 32-bit ARM, 24 on x86-64).
#pragma once

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
  std::string partial_;  // the bytes of an event not read whole yet
};

}  // namespace corvid::platform

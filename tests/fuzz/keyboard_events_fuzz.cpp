// The service keyboard's events: the device's bytes in arbitrary pieces (the first byte of
// each piece gives its length, 0 to 63), assembled into whole events and acted on. Checks
// that every whole event's worth of bytes gives exactly one event, that an event's action
// is that of its key code and only for a press, and carries out the modem lines' actions
// (with no CAT port open) and the settings' save (the screenshot, the service shell and
// the end are left out).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/input.h"
#include "tests/fuzz/fuzz_support.h"
#include "ui/keyboard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using corvid::ServiceKey;
  corvid::platform::EventAssembler assembler;
  size_t bytes = 0;
  size_t events = 0;
  size_t at = 0;
  while (at < size) {
    size_t n = std::min<size_t>(data[at] % 64, size - at - 1);
    ++at;
    const char* piece = reinterpret_cast<const char*>(data + at);
    at += n;
    bytes += n;
    while (n > 0) {
      std::optional<corvid::platform::InputEvent> event;
      const size_t taken = assembler.add(piece, n, event);
      if (taken == 0 || taken > n) __builtin_trap();
      piece += taken;
      n -= taken;
      if (!event) continue;
      ++events;
      ServiceKey key{};
      const bool acts = corvid::serviceKeyOfEvent(*event, key);
      ServiceKey byCode{};
      const bool hasAction = corvid::serviceKeyOf(event->code, byCode);
      const bool pressedKey = event->type == 1 && event->value == 1;
      if (acts != (pressedKey && hasAction) || (acts && key != byCode)) __builtin_trap();
      if (!acts) continue;
      switch (key) {
        case ServiceKey::DtrOff:
        case ServiceKey::DtrOn:
        case ServiceKey::RtsOff:
        case ServiceKey::RtsOn:
        case ServiceKey::SaveSetup:
          if (!corvid::serviceKeyPressed(corvid::fuzz::works(), key)) __builtin_trap();
          break;
        default:
          break;
      }
    }
  }
  if (events != bytes / corvid::platform::EventAssembler::eventSize()) __builtin_trap();
  return 0;
}

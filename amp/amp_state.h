// Fields of the shared record owned by the amplifier link and its reply decoder.
#pragma once

#include <atomic>
#include <cstdint>

namespace corvid {

struct AmpState {
  // Model bytes of the amplifier's EEPROM page 2; 0xFF until it has been read.
  std::atomic<uint8_t> ampModel{0};
  std::atomic<uint8_t> ampModelAux{0};
  std::atomic<uint8_t> ampBypass{0};
  std::atomic<int> tsRow{0};        // row of the threshold table in force; -1 none yet
  std::atomic<int> lastFanSent{0};  // fan percent last sent; -1 none yet
  // Protection thresholds sent to the micro (converter counts).
  std::atomic<int> tsPwrIn{0};
  std::atomic<int> tsFwd{0};
  std::atomic<int> tsRefl{0};
  std::atomic<int> tsCurrent{0};
};

}  // namespace corvid

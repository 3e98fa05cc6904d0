// Fields of the shared record owned by the transceiver links.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace corvid {

// The decoded state of the maker's transceiver, as the EXT IO link last reported it.
struct PexParams {
  uint32_t freq = 0;    // Hz
  int transmit = 0;     // 1 while the transceiver transmits
  int pttOut = 0;       // 1 when it asks for PTT out
  int antennaInput = 0; // antenna input it reports, 0-based
};

struct TrxState {
  // Requests of the maker's transceiver over EXT IO (bit 0x10 antenna asked, 0x20 done).
  std::atomic<uint8_t> pexTxRequest{0};
  std::atomic<int> pexTxHold{0};
  std::atomic<uint8_t> pexRequests{0};    // 0x01 PTT-out wanted, 0x02 PTT-out to send
  std::atomic<int> pexPowerValue{0};      // drive power to ask for, mW
  std::atomic<uint8_t> pexPowerRequest{0};  // 0x01: send the drive power
  std::atomic<uint32_t> catSerFreq{0};    // FT-817 frequency, Hz
  mutable std::mutex serMut;              // guards pex
  PexParams pex;                          // under serMut
};

}  // namespace corvid

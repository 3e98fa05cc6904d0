// Fields of the shared record owned by the transceiver links.
#pragma once

#include <atomic>
#include <cstdint>

namespace corvid {

struct TrxState {
  // Requests of the maker's transceiver over EXT IO (bit 0x10 antenna asked, 0x20 done).
  std::atomic<uint8_t> pexTxRequest{0};
};

}  // namespace corvid

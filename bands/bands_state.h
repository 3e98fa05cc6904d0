// Fields of the shared record owned by the band tables, banks and receive filters.
#pragma once

#include <atomic>
#include <cstdint>

namespace corvid {

struct BandsState {
  // Where the operating frequency comes from: 0 "Generic", 1 "QTRPEX", 2 " FT-817".
  std::atomic<int> freqInterface{0};
  // Receive-filter relay byte last sent: bit i set for filter row i; 0 none.
  std::atomic<uint8_t> filterMask{0};
};

}  // namespace corvid

// Fields of the shared record owned by the band tables, banks and receive filters.
#pragma once

#include <atomic>

namespace corvid {

struct BandsState {
  // Where the operating frequency comes from: 0 "Generic", 1 "QTRPEX", 2 " FT-817".
  std::atomic<int> freqInterface{0};
};

}  // namespace corvid

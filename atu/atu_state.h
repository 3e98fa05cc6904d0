// Fields of the shared record owned by the antenna tuner and the frequency follow.
#pragma once

#include <atomic>

namespace corvid {

struct AtuState {
  std::atomic<int> lastBandApplied{0};  // band row last applied; -1 none yet
};

}  // namespace corvid

// Fields of the shared record owned by the error registry.
#pragma once

#include <atomic>
#include <cstdint>

namespace corvid {

struct ErrorsState {
  std::atomic<uint8_t> errorsMuted{0};
};

}  // namespace corvid

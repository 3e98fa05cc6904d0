// Fields of the shared record owned by the IQ capture and the spectrum display.
#pragma once

#include <atomic>

namespace corvid {

struct SpectrumState {
  std::atomic<int> span{0};  // Hz shown across the spectrum
  // Spectrum grid.
  int divX = 0;
  int divY = 0;
  int xRangeStart = 0;
  int xRangeEnd = 0;
};

}  // namespace corvid

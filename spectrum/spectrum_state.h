// Fields of the shared record owned by the IQ capture and the spectrum display.
#pragma once

#include <array>
#include <atomic>
#include <mutex>

namespace corvid {

inline constexpr int kPlotterRows = 12;  // one per band row, the last for "Other"

// The display settings of one band of the spectrum view.
struct PlotterRow {
  double plotOffset = 0;  // dB added to every level of the band
  int refLevel = 0;       // dBm
  int refPosition = 0;    // grid divisions from the bottom line to the reference level
  int dbPerDiv = 0;
};

// Read by the display loop, edited by the key thread: every access takes the lock.
class PlotterTable {
 public:
  using Rows = std::array<PlotterRow, kPlotterRows>;
  Rows get() const {
    std::scoped_lock lock(mutex_);
    return rows_;
  }
  void set(const Rows& rows) {
    std::scoped_lock lock(mutex_);
    rows_ = rows;
  }
  PlotterRow row(int i) const {
    std::scoped_lock lock(mutex_);
    return i >= 0 && i < kPlotterRows ? rows_[static_cast<size_t>(i)] : PlotterRow{};
  }
  void setRow(int i, const PlotterRow& row) {
    if (i < 0 || i >= kPlotterRows) return;
    std::scoped_lock lock(mutex_);
    rows_[static_cast<size_t>(i)] = row;
  }

 private:
  mutable std::mutex mutex_;
  Rows rows_{};
};

struct SpectrumState {
  PlotterTable plotter;
  std::atomic<int> span{0};  // Hz shown across the spectrum
  // Spectrum grid.
  int divX = 0;
  int divY = 0;
  int xRangeStart = 0;
  int xRangeEnd = 0;
};

}  // namespace corvid

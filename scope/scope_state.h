// Fields of the shared record owned by the IQ capture and the spectrum display.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace corvid {

inline constexpr int kPlotterRows = 12;         // one per band row, the last for "Other"
inline constexpr size_t kSpectrumPoints = 854;  // levels of the panel's spectrum
inline constexpr int kColourSteps = 17;         // entries of the waterfall's colour map

// Bits of the settings' waterfallFlags.
inline constexpr int kWaterfallEnable = 0x01;         // the waterfall is shown
inline constexpr int kWaterfallOnTop = 0x02;          // above the plot, else below
inline constexpr int kWaterfallEnablePending = 0x10;  // the menu's copies until ENTER
inline constexpr int kWaterfallOnTopPending = 0x20;
inline constexpr int kWaterfallRebuild = 0x80;  // the display loop runs InitGrid once

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

// The geometry of the spectrum view, computed by InitGrid (pixels; rows from the top of
// the panel). The view it was built for is kept with it, so that one frame never mixes
// two views when a key changes the view while the loop draws.
struct SpectrumLayout {
  int SchermoWidth = 800;
  int SchermoHeight = 280;
  int borderLeft = 70;
  int borderRight = 40;
  int borderTop = 60;
  int borderBottom = 50;
  int LabelBorder = 4;
  int divX = 16;
  int divY = 10;
  int xRangeStart = 0;
  int xRangeEnd = 854;
  int spanHz = 160000;
  int r_x = 0;
  int bound_left = 0;
  int bound_right = 0;
  int graphH = 0;
  int graph_Start = 0;
  int waterfall_Start = 0;
  int b_top = 0;
  int r_y = 0;
  int b_bottom = 0;
  int w_waterfall = 0;
  int h_waterfall = 0;
  size_t size_waterfall = 0;  // bytes of the waterfall image
  bool waterfallShown = false;
  bool waterfallOnTop = false;
};

struct SpectrumState {
  PlotterTable plotter;
  // The view's grid, set by the key thread (the view key) and read by the display loop.
  std::atomic<int> spanHz{0};  // Hz shown across the spectrum
  std::atomic<int> divX{0};
  std::atomic<int> divY{0};
  std::atomic<int> xRangeStart{0};
  std::atomic<int> xRangeEnd{0};

  // Owned by the display loop (and by main before the loop starts): no lock.
  SpectrumLayout layout;
  // w_waterfall x h_waterfall pixels of blue, green, red; row 0 the newest line. Empty
  // without the waterfall or when it could not be allocated.
  std::unique_ptr<uint8_t[]> vectWaterfall;
  std::array<double, kColourSteps> ThrValColor{};  // percent of the waterfall's range
  // The frame's copy of the transceiver's levels (dB), taken under serMut.
  std::array<float, kSpectrumPoints> frameLevels{};
};

}  // namespace corvid

// The simulated station: what the transceiver on the other end of a link is doing — its
// VFOs, memory, mode, split, transmission and drive power. The transceiver simulators
// (FT-817, EXT IO) read and change it; a test or scenario changes it as the operator
// would; the amplifier simulator can read the drive it gets. Safe to use from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

namespace corvid::bench {

enum class StationMode : uint8_t { Lsb, Usb, Cw, Cwr, Am, Fm, Dig };

std::string_view modeName(StationMode mode);

struct StationState {
  uint32_t freqA = 14'070'000;      // Hz
  uint32_t freqB = 7'100'000;       // Hz
  uint32_t memoryFreq = 3'573'000;  // Hz, the memory channel in use
  StationMode modeA = StationMode::Usb;
  StationMode modeB = StationMode::Lsb;
  bool vfoB = false;         // VFO B is the active one
  bool memory = false;       // a memory channel is in use (instead of the VFOs)
  bool split = false;        // receive on the active VFO, transmit on the other
  bool ptt = false;          // the operator transmits
  bool tuneCarrier = false;  // a tune carrier asked over the link ("TX2;")
  double pttWatts = 10;      // drive while the operator transmits, W
  double carrierWatts = 5;   // drive of the tune carrier ("TQ" in mW), W
  int antennaInput = 0;      // 0 or 1
  bool pttOut = false;       // the transceiver asks for PTT out ("PT00;" answers it)

  bool transmitting() const { return ptt || tuneCarrier; }
  // The frequency shown: the memory's, or the active VFO's.
  uint32_t receiveFreq() const;
  // Where the transmitter is: the other VFO in split.
  uint32_t transmitFreq() const;
  // What the display shows now: the transmit frequency while transmitting.
  uint32_t displayFreq() const { return transmitting() ? transmitFreq() : receiveFreq(); }
  StationMode activeMode() const { return vfoB ? modeB : modeA; }
  // The mode of the shown frequency: the transmit VFO's while transmitting in split.
  StationMode displayMode() const;
  // Drive power into the amplifier now, W.
  double driveWatts() const;
};

// The moment a transceiver simulator first put a frequency on its line: what the
// controller's follow-up latency is measured from.
struct FrequencySent {
  std::chrono::steady_clock::time_point at;
  uint32_t hz = 0;
};
// Appends hz when it differs from the last frequency noted; keeps the newest 1000.
void noteFrequencySent(std::vector<FrequencySent>& sent, uint32_t hz);

class Station {
 public:
  StationState get() const {
    std::scoped_lock lock(mutex_);
    return state_;
  }
  // Runs f on the state under the lock.
  template <class F>
  decltype(auto) update(F&& f) {
    std::scoped_lock lock(mutex_);
    return std::forward<F>(f)(state_);
  }

  // What an operator does at the front panel.
  void setFrequency(uint32_t hz);  // the memory's or the active VFO's
  void setVfoFrequency(bool vfoB, uint32_t hz);
  void selectVfoB(bool b);
  void setMemory(bool on);
  void setMode(StationMode mode);  // of the active VFO
  void setSplit(bool on);
  void setPtt(bool on);
  void setAntennaInput(int input);
  void setPttOut(bool on);
  double driveWatts() const { return get().driveWatts(); }

 private:
  mutable std::mutex mutex_;
  StationState state_;
};

}  // namespace corvid::bench

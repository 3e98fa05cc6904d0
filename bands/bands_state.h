// Fields of the shared record owned by the band tables, banks and receive filters.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace corvid {

inline constexpr int kBandRows = 11;

// Where the operating frequency comes from; a bank's band table names it on its "!" line
// ("!Gen", "!Pex", "!817") and the status text sends the number.
enum class FreqInterface : int {
  Generic = 0,  // the amplifier's own frequency counter
  ExtIo = 1,    // the maker's transceiver over EXT IO ("QTRPEX")
  Ft817 = 2,    // an FT-817 over its CAT port
};
inline constexpr int kFreqInterfaces = 3;
constexpr int interfaceNumber(FreqInterface i) {
  return static_cast<int>(i);
}
inline constexpr int kFilterRows = 8;

// The per-band choices of a bank.
struct BandRow {
  char name[8] = {};
  uint32_t start = 0;     // Hz
  uint32_t end = 0;       // Hz, inclusive
  uint8_t AmpEnable = 0;  // 1 amplify, 0 standby
  uint8_t Ant = 0;        // antenna 1..3; 0 leaves it unchanged
  uint8_t Atu = 0;        // 1 tuner bypassed
  uint8_t Att = 0;        // attenuator step 0..3
  float PwrIn = 0;        // drive power asked of the transceiver, W
};

// The band table of the current bank; read by the display loop, written by the keys and
// the remote handler, so every access takes its lock.
class BandTable {
 public:
  struct Snapshot {
    std::array<BandRow, kBandRows> rows;
    int count = 0;
  };
  Snapshot get() const {
    std::scoped_lock lock(mutex_);
    return {rows_, count_};
  }
  void set(const Snapshot& s) {
    std::scoped_lock lock(mutex_);
    rows_ = s.rows;
    count_ = s.count;
  }

 private:
  mutable std::mutex mutex_;
  std::array<BandRow, kBandRows> rows_{};
  int count_ = 0;
};

struct FilterRow {
  int32_t Fstart = 0;   // Hz
  int32_t Fstop = 0;    // Hz, inclusive
  int32_t enabled = 0;  // only 1 takes part in the selection
};

struct Works;

// Calls from the bank loads into the tuner above them; app/ fills them in.
struct BandsHooks {
  // Reads the tune memory of an antenna (0-based) of a bank into the tuner's table.
  void (*LoadTabAtu)(Works&, int bank, int antenna) = nullptr;
};

struct BandsState {
  BandsHooks hooks;
  BandTable bands;
  std::atomic<FreqInterface> freqInterface{FreqInterface::Generic};
  mutable std::mutex filterMutex;
  std::array<FilterRow, kFilterRows> filters{};  // under filterMutex
  // Receive-filter relay byte last sent: bit i set for filter row i; 0 none.
  std::atomic<uint8_t> filterMask{0};
};

}  // namespace corvid

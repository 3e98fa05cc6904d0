// Fields of the shared record owned by the antenna tuner: the tune value, the automatic
// tuning search, the tune memories and the frequency follow.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "core/guarded_text.h"

namespace corvid {

struct Works;

// One evaluated tuner setting.
struct TunePoint {
  float swr = 999;  // 999: an empty record
  float fwd = 0;    // W
  int32_t L = 0;
  int32_t C = 0;
  uint32_t value = 0;
};

// The search state of the automatic tuning; only the amplifier link thread touches it.
struct TuneSearch {
  TunePoint tuneParam;          // latest evaluation
  TunePoint miglioretuneParam;  // best so far
  TunePoint starttuneParam;     // start of the current fine-2 search
  std::array<TunePoint, 10> vTuneParam;  // history, 0 newest
  std::array<TunePoint, 36> TUNEtableL;  // 0..17 coarse rows, 18..35 fine results
  int32_t cnttune = 0;
};

// One cell of a tune memory: a remembered setting.
struct TuneRecord {
  uint8_t valid = 0;
  uint8_t mode = 0;
  uint16_t L = 0;
  uint16_t C = 0;
};

inline constexpr int kTuneCells = 5000;
inline constexpr int kAntennas = 3;

// The tune memories of the current bank, one table per antenna.
class TuneMemory {
 public:
  TuneRecord get(int antenna, int cell) const;
  void set(int antenna, int cell, TuneRecord record);
  void clear(int antenna);

 private:
  mutable std::mutex mutex_;
  std::array<std::array<TuneRecord, kTuneCells>, kAntennas> cells_{};
};

// Calls from the tuner into the panel; app/ fills them in, an empty one is skipped.
struct AtuHooks {
  // Second text line of a key label of a screen state.
  void (*setKeyLabel)(Works&, int panelState, int key, const char* text) = nullptr;
};

struct AtuState {
  AtuHooks hooks;
  std::atomic<int> lastBandApplied{0};  // band row last applied; -1 none yet
  // The tune value and its decoded copies.
  std::atomic<uint32_t> tuneValue{0};  // packed L/C/network setting of the tuner
  std::atomic<int> tuneL{0};
  std::atomic<int> tuneC{0};
  std::atomic<uint8_t> tuneMode{0};
  std::atomic<uint8_t> tunerBypassed{0};
  // Attenuator and antenna follow.
  std::atomic<int> attStep{0};       // attenuator step applied now, 0..3
  std::atomic<int> attSelect{0};     // attenuator selected, 0..3, 4 standby
  std::atomic<int> antennaInUse{0};  // 0-based
  // Automatic tuning.
  std::atomic<int> tuneState{0};  // 0 idle, 1 tuning, 2 alarm hit, 3 settle
  std::atomic<int> tuneStep{0};
  std::atomic<int> tuneCounter{0};
  std::atomic<int> tuneSpanC{0};
  std::atomic<int> tuneSpanL{0};
  std::atomic<float> tuneResultSwr{0};
  std::atomic<uint8_t> tunePowerError{0};
  std::atomic<int> fineTuneRequest{0};
  std::atomic<uint8_t> tuneFlags{0};
  std::atomic<int> trxTransmitting{0};  // interface 1: the transceiver transmits
  TuneSearch search;
  // Tune memories.
  TuneMemory memory;
  GuardedText<64> tuneInfoText;
};

}  // namespace corvid

// Fields of the shared record owned by the antenna tuner: the tune value, the automatic
// tuning search, the tune memories and the frequency follow.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
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
  TunePoint tuneParam;                   // latest evaluation
  TunePoint miglioretuneParam;           // best so far
  TunePoint starttuneParam;              // start of the current fine-2 search
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

// The tune memories of the current bank, one table per antenna. Cells outside the
// table read as empty and are never written.
class TuneMemory {
 public:
  TuneRecord get(int antenna, int cell) const {
    if (!inRange(antenna, cell)) return {};
    std::scoped_lock lock(mutex_);
    return cells_[static_cast<size_t>(antenna)][static_cast<size_t>(cell)];
  }
  void set(int antenna, int cell, TuneRecord record) {
    if (!inRange(antenna, cell)) return;
    std::scoped_lock lock(mutex_);
    cells_[static_cast<size_t>(antenna)][static_cast<size_t>(cell)] = record;
  }
  void clear(int antenna) {
    if (antenna < 0 || antenna >= kAntennas) return;
    std::scoped_lock lock(mutex_);
    cells_[static_cast<size_t>(antenna)].fill(TuneRecord{});
  }

 private:
  static bool inRange(int antenna, int cell) {
    return antenna >= 0 && antenna < kAntennas && cell >= 0 && cell < kTuneCells;
  }
  mutable std::mutex mutex_;
  std::array<std::array<TuneRecord, kTuneCells>, kAntennas> cells_{};
};

// What the automatic tuning is doing, as the link thread's reply decoder sees it.
enum class TuneState : int {
  Idle = 0,
  Tuning = 1,    // a step runs on every status reply
  AlarmHit = 2,  // the amplifier's protection tripped: reset it, then go on
  Settle = 3,    // the SWR is low enough: one more status poll first
};

// The steps of the tuning search, one per status reply. A complete tune runs the coarse
// search (400-410) and up to three fine passes (450-457), then fine 2 (200-211); a fine
// tune runs fine 2 alone. Within a phase the steps follow in number order; the numbers
// appear in the trace lines.
enum class AutotuneStep : int {
  None = 0,  // no tune has run yet
  // Fine 2: sweeps of C at L and at L-1..L-5, L+1..L+5 around the start point.
  Fine2Start = 200,
  Fine2WaitTransmit = 201,
  Fine2WaitDrive = 202,
  Fine2Begin = 203,
  Fine2CUp = 204,
  Fine2CDown = 205,
  Fine2LDown = 206,
  Fine2LUp = 207,
  Fine2CUpAbove = 208,  // the C sweeps once L is above the start
  Fine2CDownAbove = 209,
  Fine2Hold = 210,
  Fine2Save = 211,
  // Complete tune: bit combinations of L and C on network A (LC), then B (CL).
  Start = 400,
  WaitTransmit = 401,
  WaitDrive = 402,
  NetworkA = 403,
  CoarseFirstA = 404,
  CoarseA = 405,
  NetworkB = 406,
  CoarseFirstB = 407,
  CoarseB = 408,
  CoarsePause = 409,
  CoarseSort = 410,
  // Fine passes around the best coarse points.
  FineStart = 450,
  FineCUp = 451,
  FineCDown = 452,
  FineLUp = 453,
  FineLDown = 454,
  FineNext = 455,
  FineAgain = 456,
  FineEnd = 457,
};
constexpr int stepNumber(AutotuneStep step) {
  return static_cast<int>(step);
}
// The step after this one in its phase.
constexpr AutotuneStep nextStep(AutotuneStep step) {
  return static_cast<AutotuneStep>(stepNumber(step) + 1);
}

// Bits of tuneFlags: how a tune was started and what it asks of the transceiver.
inline constexpr uint8_t kTuneByTransmission = 0x02;
inline constexpr uint8_t kTuneAskReceive = 0x04;  // send "RX;" over EXT IO
inline constexpr uint8_t kTuneRefused = 0x08;
inline constexpr uint8_t kTuneByKey = 0x10;
inline constexpr uint8_t kTuneAskCarrier = 0x20;  // send the tune carrier over EXT IO
inline constexpr uint8_t kTuneCarrierAsked = 0x40;

struct AtuState {
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
  std::atomic<TuneState> tuneState{TuneState::Idle};
  std::atomic<AutotuneStep> tuneStep{AutotuneStep::None};
  std::atomic<int> tuneCounter{0};
  std::atomic<int> tuneSpanC{0};
  std::atomic<int> tuneSpanL{0};
  std::atomic<float> tuneResultSwr{0};
  std::atomic<uint8_t> tunePowerError{0};
  std::atomic<int> fineTuneRequest{0};
  std::atomic<uint8_t> tuneFlags{0};
  std::atomic<int> trxTransmitting{0};  // interface 1: the transceiver transmits
  // The search belongs to the link thread, which steps it; a tune aborted from the keys
  // ends it from the key thread. Both take this lock (the step may end the tune itself).
  std::recursive_mutex searchMutex;
  TuneSearch search;  // under searchMutex
  // Tune memories.
  TuneMemory memory;
  GuardedText<64> tuneInfoText;
};

}  // namespace corvid

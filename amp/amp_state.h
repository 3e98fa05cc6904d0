// Fields of the shared record owned by the amplifier link, its reply decoder, the
// calibration, and the temperature and fan rules.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "core/guarded_text.h"

namespace corvid {

struct Works;

// Command indices: the link's state is the index of the command to send next, or one
// of the receive, decode and idle states.
enum Cmd : int {
  CmdVSM = 0,
  CmdST = 1,
  StateReceive = 2,
  StateDecode = 3,
  CmdSA = 7,
  CmdFM = 8,
  CmdFA = 9,
  CmdMTread = 10,
  CmdMTwrite = 11,
  CmdFS = 12,
  CmdCP = 13,
  CmdATstep = 14,
  CmdATtune = 15,
  CmdATmax = 16,
  CmdMP0 = 17,
  CmdMP1 = 18,
  CmdAB0 = 19,
  CmdAB1 = 20,
  CmdAN = 21,
  CmdTS = 22,
  CmdFN = 23,
  CmdPS = 24,
  CmdMTmemory = 27,
  CmdSF = 28,
  CmdMR1 = 30,
  StateIdle = 31,
  CmdMR0 = 32,
  CmdGM = 33,
  CmdGSread = 34,
  CmdGSwrite = 35,
  CmdER0 = 36,
  CmdER1 = 37,
  CmdER2 = 38,
  CmdMTbypass = 39,
  CmdMTdefault = 40,
  CmdFNcpu = 41,
  CmdCM = 42,
  CmdER3 = 43,
  CmdMTbypassZero = 44,
};

// The command queue of the link: a ring of 30 command indices that any thread may fill
// and only the link thread empties. The 31st unsent entry overwrites the oldest.
class CommandQueue {
 public:
  static constexpr int kSlots = 30;
  // Appends; returns the index. Safe from any thread.
  int push(int index) {
    std::scoped_lock lock(mutex_);
    slots_[static_cast<size_t>(in_)] = index;
    in_ = (in_ + 1) % kSlots;
    if (count_ == kSlots) {
      out_ = in_;  // the oldest unsent command has been overwritten
    } else {
      ++count_;
    }
    return index;
  }
  // The oldest unsent index, or -1 when empty; its slot is set to 0.
  int pop() {
    std::scoped_lock lock(mutex_);
    if (count_ == 0) return -1;
    const int index = slots_[static_cast<size_t>(out_)];
    slots_[static_cast<size_t>(out_)] = 0;
    out_ = (out_ + 1) % kSlots;
    --count_;
    return index;
  }
  bool empty() const {
    std::scoped_lock lock(mutex_);
    return count_ == 0;
  }
  int size() const {
    std::scoped_lock lock(mutex_);
    return count_;
  }
  void clear() {
    std::scoped_lock lock(mutex_);
    slots_.fill(0);
    in_ = out_ = count_ = 0;
  }

 private:
  mutable std::mutex mutex_;
  std::array<int, kSlots> slots_{};
  int in_ = 0;
  int out_ = 0;
  int count_ = 0;
};

// One frequency range of config.txt: power calibration constants and protection
// thresholds.
struct ConfigRow {
  uint32_t freqLow = 0;   // Hz
  uint32_t freqHigh = 0;  // Hz; printed, not used by the look-ups
  float kForward = 0;
  float kReflected = 0;
  float kInput = 0;
  float kCorrection = 0;
  float thInput = 0;      // W
  float thCurrent = 0;    // A
  float thReflected = 0;  // W
  float thForward = 0;    // W
  std::array<int32_t, 5> extraA{};
  std::array<int32_t, 5> extraB{};
  int32_t extraLast = 0;
};

struct FanStep {
  float temperature = 0;  // °C
  int32_t percent = 0;
};

// The amplifier's EEPROM pages as last read.
struct EepromPages {
  std::array<uint8_t, 32> page0{};
  std::array<uint8_t, 32> page1{};
  std::array<uint8_t, 6> page2{};
};

// Calls from the link into subsystems built on top of it; app/ fills them in and an
// empty one is skipped.
struct AmpHooks {
  void (*LoadTuneFromMEM)(Works&) = nullptr;     // stored tune of the frequency
  void (*TuneTask)(Works&) = nullptr;            // one step of the automatic tuning
  void (*SetAttenuatorLabel)(Works&) = nullptr;  // redraw the attenuator label
  // Name of the band whose range holds the frequency; false when none.
  bool (*bandName)(const Works&, uint32_t freq, char name[5]) = nullptr;
};

struct AmpState {
  AmpHooks hooks;
  // --- the link ---
  std::atomic<int> linearProcessStatus{0};  // next command index, or 2/3/31
  int counterrortimeout = 0;                // link thread only
  std::atomic<int> linkFailed{0};           // 1: port cannot be opened or set up
  GuardedText<104> linkErrorText;
  CommandQueue cmdQueue;
  std::atomic<uint8_t> cmdQueueDrain{0};
  std::atomic<int> errorBurst{0};
  std::array<std::atomic<char>, 2> lastCmdLetters{};
  std::atomic<int> lastCmdIndex{0};
  std::atomic<int> retryCount{0};
  std::atomic<int> retryTotal{0};
  std::atomic<int> linkRestarts{0};
  std::atomic<int> commErrorHoldoff{0};  // counted down by the display loop
  std::atomic<bool> tuneValueLock{false};
  std::atomic<int> ampBypassRequest{0};

  // --- replies and measurements ---
  std::atomic<uint8_t> statusA{0};
  std::atomic<uint8_t> statusB{0};
  std::atomic<uint8_t> statusC{0};
  std::atomic<uint8_t> alarmBits{0};
  std::atomic<uint16_t> rawPwrIn{0};
  std::atomic<uint16_t> rawFwd{0};
  std::atomic<uint16_t> rawRefl{0};
  std::atomic<float> pwrIn{0};
  std::atomic<float> pwrFwd{0};
  std::atomic<float> pwrRefl{0};
  std::atomic<float> fwdPeak{0};
  std::atomic<float> swr{0};
  std::atomic<float> ampCurrentRaw{0};
  std::atomic<float> temp1{0};
  std::atomic<float> temp2{0};
  std::atomic<uint8_t> statusValid{0};
  GuardedText<8> ampFwVersion;
  std::atomic<uint32_t> ampFreq{0};
  mutable std::mutex eepromMutex;
  EepromPages eeprom;  // under eepromMutex
  // Model bytes of the amplifier's EEPROM page 2; 0xFF until it has been read.
  std::atomic<uint8_t> ampModel{0};
  std::atomic<uint8_t> ampModelAux{0};
  std::atomic<double> powerMultiplier{0};
  GuardedText<11> generalSettings;
  std::atomic<uint8_t> attReported{0};
  std::atomic<uint8_t> ampBypass{0};
  std::atomic<uint8_t> microResetFlags{0};
  std::atomic<uint8_t> logRemoved{0};  // the temperature log was restarted this run

  // --- calibration (loaded at start, before the link runs) ---
  std::atomic<int> KostPWRIN{0};
  std::atomic<int> KostFORW{0};
  std::atomic<int> KostREFL{0};
  std::vector<ConfigRow> configRows;
  // Protection thresholds sent to the micro (converter counts).
  std::atomic<int> tsPwrIn{0};
  std::atomic<int> tsFwd{0};
  std::atomic<int> tsRefl{0};
  std::atomic<int> tsCurrent{0};
  std::atomic<int> tsRow{0};  // -1: none sent yet

  // --- fans and temperature ---
  std::array<std::vector<FanStep>, 3> fanTables;  // loaded at start
  std::atomic<int> fanPercent{0};
  std::atomic<int> lastFanSent{0};  // -1 none yet
  std::atomic<int> cpuFanPercent{0};
  std::atomic<int> cpuFanSent{0};
  std::atomic<uint8_t> fanCmdPending{0};
  std::atomic<uint8_t> fanModeChanged{0};
  std::atomic<float> cpuTemp{0};
  std::atomic<float> gpuTemp{0};
  std::atomic<uint8_t> logActive{0};
  std::atomic<double> logTimer{0};  // ms
};

}  // namespace corvid

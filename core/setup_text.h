// The settings text block: one fixed slot per setup.txt key (plus a few keyless flags),
// in block order. Flags are one character ('0'/'1' or a digit) that any thread may read
// at any time; text slots hold a NUL-terminated value of at most width - 1 characters
// and are read and written as whole copies; four slots hold 32-bit floats.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace corvid {

enum class Slot : uint8_t {
  EnableKeyb, EnableSpi, EnableTouch, DelayedTouch, EnableRead, EnableWrite, EnableCAT,
  extIoEnable, EnableLinear, EnableTime, EnableGPIO, WebSocket, Pitch, Quality, AudioIn,
  EnableFFT, EnableFFT2, Enable1600, Divide, InChannels, AudioCompress, AudioOut, Server,
  CatPort, SerPort, LinPort, NumAntenna, EnablePwrPeak, TempMode, FreqSensIn,
  FreqPeriodTime, AttenuatorTune, SWRescAutoTune, ViewTimeStr, ViewTemp, MaxTemperature,
  MaxTemperature2, AutoTuneMaxCicli, PowerUnits, SaveScreenIdx, AutoTuneMode,
  MaxTempAllowed, MaxTempAllowed2, PSpar1, PSpar2, PSpar3, PSpar4, Isteresi1, Isteresi2,
  OffsetPlot, RefLevelPlot, RefPosPlot, PointDivPlot, catSerialEnable, CatSerialPort,
  TUNEenabled, NumBanco, GMpar1, GMpar2, Peak_media, Peak_ValDec, Peak_TimeDec, Peak_Time,
  MAXbank, BTN_longpress_Time, EnableDebug, EnableLOGTemp, AudioBuffers, AutoTuneTipo,
  CPUTempVentola, CPUPercVentola, ChunkTime, BufferingTime, FANmode, ViewType, ViewTX,
  TUNEpttout, WTenable, WTposition, WTscroll, WTminVal, WTmaxVal, LocalRemote,
  Count,
  None = 0xFF,  // a key without a slot
};

enum class SlotType : uint8_t { Char, Text, Float };

struct SlotInfo {
  Slot slot;
  uint8_t width;  // bytes
  SlotType type;
};

inline constexpr size_t kSlotCount = static_cast<size_t>(Slot::Count);

// Widths of the block, in block order.
inline constexpr std::array<SlotInfo, kSlotCount> kSlots = [] {
  using enum Slot;
  using enum SlotType;
  constexpr auto c = Char;
  constexpr auto t = Text;
  return std::array<SlotInfo, kSlotCount>{{
      {EnableKeyb, 1, c}, {EnableSpi, 1, c}, {EnableTouch, 1, c}, {DelayedTouch, 1, c},
      {EnableRead, 1, c}, {EnableWrite, 1, c}, {EnableCAT, 1, c}, {extIoEnable, 1, c},
      {EnableLinear, 1, c}, {EnableTime, 1, c}, {EnableGPIO, 1, c}, {WebSocket, 1, c},
      {Pitch, 10, t}, {Quality, 4, t}, {AudioIn, 20, t}, {EnableFFT, 1, c},
      {EnableFFT2, 1, c}, {Enable1600, 1, c}, {Divide, 3, t}, {InChannels, 2, t},
      {AudioCompress, 10, t}, {AudioOut, 20, t}, {Server, 16, t}, {CatPort, 13, t},
      {SerPort, 13, t}, {LinPort, 13, t}, {NumAntenna, 1, c}, {EnablePwrPeak, 1, c},
      {TempMode, 1, c}, {FreqSensIn, 1, c}, {FreqPeriodTime, 5, t},
      {AttenuatorTune, 1, c}, {SWRescAutoTune, 6, t}, {ViewTimeStr, 1, c},
      {ViewTemp, 1, c}, {MaxTemperature, 6, t}, {MaxTemperature2, 6, t},
      {AutoTuneMaxCicli, 1, c}, {PowerUnits, 1, c}, {SaveScreenIdx, 1, c},
      {AutoTuneMode, 1, c}, {MaxTempAllowed, 6, t}, {MaxTempAllowed2, 6, t},
      {PSpar1, 6, t}, {PSpar2, 6, t}, {PSpar3, 6, t}, {PSpar4, 6, t}, {Isteresi1, 1, c},
      {Isteresi2, 1, c}, {OffsetPlot, 6, t}, {RefLevelPlot, 6, t}, {RefPosPlot, 6, t},
      {PointDivPlot, 6, t}, {catSerialEnable, 1, c}, {CatSerialPort, 13, t},
      {TUNEenabled, 4, t}, {NumBanco, 4, t}, {GMpar1, 6, t}, {GMpar2, 6, t},
      {Peak_media, 6, t}, {Peak_ValDec, 6, t}, {Peak_TimeDec, 6, t}, {Peak_Time, 6, t},
      {MAXbank, 4, t}, {BTN_longpress_Time, 6, t}, {EnableDebug, 1, c},
      {EnableLOGTemp, 1, c}, {AudioBuffers, 6, t}, {AutoTuneTipo, 1, c},
      {CPUTempVentola, 6, t}, {CPUPercVentola, 6, t}, {ChunkTime, 4, Float},
      {BufferingTime, 4, Float}, {FANmode, 1, c}, {ViewType, 1, c}, {ViewTX, 1, c},
      {TUNEpttout, 4, t}, {WTenable, 1, c}, {WTposition, 1, c}, {WTscroll, 1, c},
      {WTminVal, 4, Float}, {WTmaxVal, 4, Float}, {LocalRemote, 1, c},
  }};
}();

class SetupText {
 public:
  SetupText() { fill(); }

  // Every byte '1', as the block is before the defaults are given: text slots then read
  // as width - 1 '1's, flags as '1', floats as 0.
  void fill();

  char flag(Slot slot) const { return chars_[index(slot)].load(std::memory_order_relaxed); }
  bool on(Slot slot) const { return flag(slot) == '1'; }
  void setFlag(Slot slot, char value) {
    chars_[index(slot)].store(value, std::memory_order_relaxed);
  }

  std::string text(Slot slot) const;
  // Cut to the slot: at most width - 1 characters.
  void setText(Slot slot, std::string_view value);

  float real(Slot slot) const { return reals_[index(slot)].load(std::memory_order_relaxed); }
  void setReal(Slot slot, float value) {
    reals_[index(slot)].store(value, std::memory_order_relaxed);
  }

  static constexpr size_t width(Slot slot) { return kSlots[index(slot)].width; }

 private:
  static constexpr size_t index(Slot slot) { return static_cast<size_t>(slot); }
  static constexpr size_t kMaxWidth = 20;

  // Flags live in the first byte of their row; text slots use up to kMaxWidth bytes.
  std::array<std::atomic<char>, kSlotCount> chars_{};
  std::array<std::array<char, kMaxWidth>, kSlotCount> texts_{};
  std::array<std::atomic<float>, kSlotCount> reals_{};
  mutable std::mutex textMutex_;
};

}  // namespace corvid

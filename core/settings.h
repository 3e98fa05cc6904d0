// The operator's settings: "/opt/set/setup.txt", one line per key ("Key: value"), its
// text block and the numeric copies that the rest of the program uses, and the unit's
// name in "/opt/set/name.txt".
#pragma once

#include <array>
#include <atomic>
#include <string_view>
#include <variant>

#include "core/guarded_text.h"
#include "core/setup_text.h"

namespace corvid {

struct Works;

inline constexpr std::string_view kSetupPath = "/opt/set/setup.txt";
inline constexpr std::string_view kNamePath = "/opt/set/name.txt";
inline constexpr size_t kSetupLineMax = 99;  // characters of a setup.txt line

// Numeric copies of the settings, named by their key where the program has no other
// name for them. Read by every thread, written by the menus, the keyboard and the remote
// switch.
struct Settings {
  SetupText text;
  GuardedText<116> Passphrase;     // password of the remote client
  GuardedText<16> serverAddress;   // copy of Server
  std::atomic<int> AudioCompress{0};
  std::atomic<int> TcpPort{0};
  std::atomic<int> NumAntenna{0};  // 0-based
  std::atomic<int> EnablePwrPeak{0};
  std::atomic<int> TempMode{0};
  std::atomic<int> FreqSensIn{0};
  std::atomic<int> FreqPeriodTime{0};
  std::atomic<int> AttenuatorTune{0};
  std::atomic<float> swrTarget{0};  // SWRescAutoTune
  std::atomic<int> ViewTimeStr{0};
  std::atomic<int> ViewTemp{0};
  std::atomic<float> MaxTemperature{0};   // °C
  std::atomic<float> MaxTemperature2{0};  // °C
  std::atomic<int> AutoTuneMaxCicli{0};
  std::atomic<int> PowerUnits{0};
  std::atomic<int> SaveScreenIdx{0};
  std::atomic<int> AutoTuneMode{0};
  std::atomic<int> Divide{0};
  std::atomic<int> MaxTempAllowed{0};
  std::atomic<int> MaxTempAllowed2{0};
  std::atomic<int> PSpar1{0};
  std::atomic<int> PSpar2{0};
  std::atomic<int> Isteresi1{0};
  std::atomic<int> Isteresi2{0};
  std::atomic<int> PSpar3{0};
  std::atomic<int> PSpar4{0};
  std::atomic<double> OffsetPlot{0};
  std::atomic<int> RefLevelPlot{0};
  std::atomic<int> RefPosPlot{0};
  std::atomic<int> PointDivPlot{0};
  std::atomic<int> TUNEenabled{0};  // 8-bit: bit 7 set = no tuner installed
  std::atomic<int> TUNEpttout{0};   // 8-bit
  std::atomic<int> NumBanco{0};
  std::atomic<int> GMpar1{0};
  std::atomic<int> GMpar2{0};
  std::atomic<int> fattoremedia{0};        // Peak_media
  std::atomic<double> PeakDecrement{0};    // Peak_ValDec
  std::atomic<int> PeakDecrementTime{0};   // Peak_TimeDec
  std::atomic<int> TimerPeakSec{0};        // Peak_Time
  std::atomic<int> MAXbank{0};
  std::atomic<double> TIME_LONG_PRESS{0};  // BTN_longpress_Time, seconds
  std::atomic<int> EnableDebug{0};
  std::atomic<int> EnableLOGTemp{0};
  std::atomic<int> AudioBuffers{0};
  std::atomic<int> CPUTempVentola{0};
  std::atomic<int> CPUPercVentola{0};
  std::atomic<int> FANmode{0};  // 8-bit
  std::atomic<int> ViewType{0};
  std::atomic<int> ViewTX{0};
  // Waterfall: bit 0 shown and bit 1 above (with their copies in bits 4 and 5).
  std::atomic<int> waterfallFlags{0};
  std::atomic<int> WTscroll{0};  // 8-bit
  std::atomic<double> WTminVal{0};
  std::atomic<double> WTmaxVal{0};
  std::atomic<int> LocalRemote{0};
};

// How a key's value is written and read.
enum class SetupKind : uint8_t { Char, Text, Int, Float };

// What a key does beyond storing its value.
enum class SetupSpecial : uint8_t {
  None, Passphrase, AudioCompress, Server, TcpPort, NumAntenna, EnableFFT, Enable1600,
  OffsetPlot, EnableDebug, ChunkTime, BufferingTime, WTenable, WTposition, AutoTuneMaxCicli, MAXbank,
};

using IntField = std::atomic<int> Settings::*;
using FloatField = std::atomic<float> Settings::*;
using DoubleField = std::atomic<double> Settings::*;
using NumericField = std::variant<std::monostate, IntField, FloatField, DoubleField>;

struct SetupKey {
  std::string_view key;
  SetupKind kind;
  Slot slot;
  NumericField numeric;
  int scale;                     // the number in the file is the value times this
  double numericDefault;         // what InitGlobalVar gives the numeric copy
  const char* textDefault;       // what initSetup puts in the slot
  bool completeResetOnly;        // numeric default comes only from a complete reset
  SetupSpecial special;
};

inline constexpr size_t kSetupKeyCount = 82;
extern const std::array<SetupKey, kSetupKeyCount> kSetupKeys;

// Defaults of the numeric copies and text slots, then the file.
void readSetup(Works& works);
// Refreshes the text slots from the numeric copies and replaces the file; returns 0.
int writeSetup(Works& works);
// InitGlobalVar plus the text defaults of the block.
void initSetup(Works& works);
// Keeps the two temperature limits between 20 °C and their allowed maximum.
void VerifyTemperature(Works& works);
// Numeric values of a complete reset; always followed by InitVar_Default.
void InitCompleteVar(Works& works);
// Factory reset of the files and settings.
void InitVar_Default(Works& works);
// Reads the unit's name.
void LoadNameCORVID(Works& works);

// The numeric settings part of InitGlobalVar.
void initSettingsNumbers(Works& works);

}  // namespace corvid

// The operator's settings: "/opt/set/setup.txt", one line per key ("Key: value"), its
// text block and the numeric copies that the rest of the program uses, and the unit's
// name in "/opt/set/name.txt".
#pragma once

#include <array>
#include <atomic>
#include <string_view>
#include <variant>

#include "core/settings_state.h"
#include "core/setup_text.h"

namespace corvid {

struct Works;

inline constexpr std::string_view kSetupPath = "/opt/set/setup.txt";
inline constexpr std::string_view kNamePath = "/opt/set/name.txt";
inline constexpr size_t kSetupLineMax = 99;  // characters of a setup.txt line

// How a key's value is written and read.
enum class SetupKind : uint8_t { Char, Text, Int, Float };

// What a key does beyond storing its value.
enum class SetupSpecial : uint8_t {
  None,
  Passphrase,
  AudioCompress,
  Server,
  TcpPort,
  NumAntenna,
  EnableFFT,
  Enable1600,
  OffsetPlot,
  EnableDebug,
  ChunkTime,
  BufferingTime,
  WTenable,
  WTposition,
  AutoTuneMaxCicli,
  MAXbank,
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
  int scale;                // the number in the file is the value times this
  double numericDefault;    // what InitGlobalVar gives the numeric copy
  const char* textDefault;  // what initSetup puts in the slot
  bool completeResetOnly;   // numeric default comes only from a complete reset
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

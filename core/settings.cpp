#include "core/settings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <limits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>

#include "core/works.h"
#include "platform/files.h"
#include "platform/log.h"

namespace corvid {

namespace {
using enum SetupKind;
using S = Settings;
using Sp = SetupSpecial;
constexpr NumericField kNone{};
}  // namespace

// Every key of setup.txt in file order.
const std::array<SetupKey, kSetupKeyCount> kSetupKeys = {{
    {"Passphrase", Text, Slot::None, kNone, 1, 0, "", false, Sp::Passphrase},
    {"EnableKeyb", Char, Slot::EnableKeyb, kNone, 1, 0, "1", false, Sp::None},
    {"EnableSpi", Char, Slot::EnableSpi, kNone, 1, 0, "0", false, Sp::None},
    {"EnableTouch", Char, Slot::EnableTouch, kNone, 1, 0, "0", false, Sp::None},
    {"DelayedTouch", Char, Slot::DelayedTouch, kNone, 1, 0, "0", false, Sp::None},
    {"EnableGPIO", Char, Slot::EnableGPIO, kNone, 1, 0, "1", false, Sp::None},
    {"EnableRead", Char, Slot::EnableRead, kNone, 1, 0, "0", false, Sp::None},
    {"EnableWrite", Char, Slot::EnableWrite, kNone, 1, 0, "0", false, Sp::None},
    {"EnableCAT", Char, Slot::EnableCAT, kNone, 1, 0, "0", false, Sp::None},
    {"EnableLinear", Char, Slot::EnableLinear, kNone, 1, 0, "1", false, Sp::None},
    {"EnableTime", Char, Slot::EnableTime, kNone, 1, 0, "1", false, Sp::None},
    {"WebSocket", Char, Slot::WebSocket, kNone, 1, 0, "1", false, Sp::None},
    {"Pitch", Text, Slot::Pitch, kNone, 1, 0, "2500", false, Sp::None},
    {"Quality", Text, Slot::Quality, kNone, 1, 0, "100", false, Sp::None},
    {"AudioIn", Text, Slot::AudioIn, kNone, 1, 0, "hw:1", false, Sp::None},
    {"InChannels", Text, Slot::InChannels, kNone, 1, 0, "2", false, Sp::None},
    {"AudioCompress", Int, Slot::AudioCompress, &S::AudioCompress, 1, 30000, "30000", false,
     Sp::AudioCompress},
    {"AudioOut", Text, Slot::AudioOut, kNone, 1, 0, "hw:1", false, Sp::None},
    {"Server", Text, Slot::Server, kNone, 1, 0, "127.0.0.1", false, Sp::Server},
    {"TcpPort", Int, Slot::None, &S::TcpPort, 1, 6666, "", false, Sp::TcpPort},
    {"CatPort", Text, Slot::CatPort, kNone, 1, 0, "/dev/VORNCAT", false, Sp::None},
    {"SerPort", Text, Slot::SerPort, kNone, 1, 0, "/dev/VORNSER", false, Sp::None},
    {"LinPort", Text, Slot::LinPort, kNone, 1, 0, "/dev/ttyAMA0", false, Sp::None},
    {"NumAntenna", Char, Slot::NumAntenna, &S::NumAntenna, 1, 0, "1", false, Sp::NumAntenna},
    {"EnablePwrPeak", Char, Slot::EnablePwrPeak, &S::EnablePwrPeak, 1, 0, "0", false, Sp::None},
    {"TempMode", Char, Slot::TempMode, &S::TempMode, 1, 0, "0", true, Sp::None},
    {"FreqSensIn", Char, Slot::FreqSensIn, &S::FreqSensIn, 1, 0, "0", true, Sp::None},
    {"FreqPeriodTime", Int, Slot::FreqPeriodTime, &S::FreqPeriodTime, 1, 10, "10", false, Sp::None},
    {"AttenuatorTune", Char, Slot::AttenuatorTune, &S::AttenuatorTune, 1, 0, "0", true, Sp::None},
    {"SWRescAutoTune", Int, Slot::SWRescAutoTune, &S::swrTarget, 100, 0, "0", true, Sp::None},
    {"ViewTimeStr", Char, Slot::ViewTimeStr, &S::ViewTimeStr, 1, 0, "0", false, Sp::None},
    {"ViewTemp", Char, Slot::ViewTemp, &S::ViewTemp, 1, 0, "0", false, Sp::None},
    {"MaxTemperature", Int, Slot::MaxTemperature, &S::MaxTemperature, 10, 70, "800", false,
     Sp::None},
    {"MaxTemperature2", Int, Slot::MaxTemperature2, &S::MaxTemperature2, 10, 80, "700", false,
     Sp::None},
    {"AutoTuneMaxCicli", Char, Slot::AutoTuneMaxCicli, &S::AutoTuneMaxCicli, 1, 0, "0", true,
     Sp::AutoTuneMaxCicli},
    {"PowerUnits", Char, Slot::PowerUnits, &S::PowerUnits, 1, 0, "0", true, Sp::None},
    {"SaveScreenIdx", Char, Slot::SaveScreenIdx, &S::SaveScreenIdx, 1, 0, "1", true, Sp::None},
    {"AutoTuneMode", Char, Slot::AutoTuneMode, &S::AutoTuneMode, 1, 0, "0", true, Sp::None},
    {"EnableFFT", Char, Slot::EnableFFT, kNone, 1, 0, "0", false, Sp::EnableFFT},
    {"Divide", Int, Slot::Divide, &S::Divide, 1, 4, "4", false, Sp::None},
    {"MaxTempAllowed", Int, Slot::MaxTempAllowed, &S::MaxTempAllowed, 1, 75, "750", false,
     Sp::None},
    {"MaxTempAllowed2", Int, Slot::MaxTempAllowed2, &S::MaxTempAllowed2, 1, 85, "850", false,
     Sp::None},
    {"PSpar1", Int, Slot::PSpar1, &S::PSpar1, 1, 1, "3", false, Sp::None},
    {"PSpar2", Int, Slot::PSpar2, &S::PSpar2, 1, 1000, "150", false, Sp::None},
    {"Isteresi1", Char, Slot::Isteresi1, &S::Isteresi1, 1, 3, "3", false, Sp::None},
    {"Isteresi2", Char, Slot::Isteresi2, &S::Isteresi2, 1, 1, "3", false, Sp::None},
    {"PSpar3", Int, Slot::PSpar3, &S::PSpar3, 1, 0, "300", true, Sp::None},
    {"PSpar4", Int, Slot::PSpar4, &S::PSpar4, 1, 0, "100", true, Sp::None},
    {"OffsetPlot", Int, Slot::OffsetPlot, &S::OffsetPlot, 10, 0, "0", true, Sp::OffsetPlot},
    {"RefLevelPlot", Int, Slot::RefLevelPlot, &S::RefLevelPlot, 1, 0, "0", false, Sp::None},
    {"RefPosPlot", Int, Slot::RefPosPlot, &S::RefPosPlot, 1, 10, "10", false, Sp::None},
    {"PointDivPlot", Int, Slot::PointDivPlot, &S::PointDivPlot, 1, 10, "10", false, Sp::None},
    {"CatSerialPort", Text, Slot::CatSerialPort, kNone, 1, 0, "/dev/VORN817", false, Sp::None},
    {"TUNEenabled", Int, Slot::TUNEenabled, &S::TUNEenabled, 1, 0, "0", true, Sp::None},
    {"TUNEpttout", Int, Slot::TUNEpttout, &S::TUNEpttout, 1, 1, "1", false, Sp::None},
    {"NumBanco", Int, Slot::NumBanco, &S::NumBanco, 1, 0, "1", false, Sp::None},
    {"GMpar1", Int, Slot::GMpar1, &S::GMpar1, 1, 2, "2", false, Sp::None},
    {"GMpar2", Int, Slot::GMpar2, &S::GMpar2, 1, 100, "100", false, Sp::None},
    {"Peak_media", Int, Slot::Peak_media, &S::fattoremedia, 1, 2, "2", false, Sp::None},
    {"Peak_ValDec", Int, Slot::Peak_ValDec, &S::PeakDecrement, 10, 1.0, "10", false, Sp::None},
    {"Peak_TimeDec", Int, Slot::Peak_TimeDec, &S::PeakDecrementTime, 1, 1, "1", false, Sp::None},
    {"Peak_Time", Int, Slot::Peak_Time, &S::TimerPeakSec, 1, 3000, "3000", false, Sp::None},
    {"MAXbank", Int, Slot::MAXbank, &S::MAXbank, 1, 3, "20", false, Sp::MAXbank},
    {"BTN_longpress_Time", Int, Slot::BTN_longpress_Time, &S::TIME_LONG_PRESS, 10, 0.5, "5", false,
     Sp::None},
    {"EnableDebug", Char, Slot::EnableDebug, &S::EnableDebug, 1, 0, "1", false, Sp::EnableDebug},
    {"Enable1600", Char, Slot::Enable1600, kNone, 1, 0, "1", false, Sp::Enable1600},
    {"EnableLOGTemp", Char, Slot::EnableLOGTemp, &S::EnableLOGTemp, 1, 0, "1", false, Sp::None},
    {"AudioBuffers", Int, Slot::AudioBuffers, &S::AudioBuffers, 1, 20, "10", false, Sp::None},
    {"AutoTuneTipo", Char, Slot::AutoTuneTipo, kNone, 1, 0, "0", false, Sp::None},
    {"CPUTempVentola", Int, Slot::CPUTempVentola, &S::CPUTempVentola, 1, 80, "75", false, Sp::None},
    {"CPUPercVentola", Int, Slot::CPUPercVentola, &S::CPUPercVentola, 1, 70, "70", false, Sp::None},
    {"ChunkTime", Float, Slot::ChunkTime, kNone, 1, 10.0, "", false, Sp::ChunkTime},
    {"BufferingTime", Float, Slot::BufferingTime, kNone, 1, 100.0, "", false, Sp::BufferingTime},
    {"FANmode", Char, Slot::FANmode, &S::FANmode, 1, 0, "0", false, Sp::None},
    {"ViewType", Char, Slot::ViewType, &S::ViewType, 1, 1, "1", false, Sp::None},
    {"ViewTX", Char, Slot::ViewTX, &S::ViewTX, 1, 0, "0", false, Sp::None},
    {"WTenable", Char, Slot::WTenable, kNone, 1, 0, "0", false, Sp::WTenable},
    {"WTposition", Char, Slot::WTposition, kNone, 1, 0, "1", false, Sp::WTposition},
    {"WTscroll", Char, Slot::WTscroll, &S::WTscroll, 1, 0, "0", false, Sp::None},
    {"WTminVal", Float, Slot::WTminVal, &S::WTminVal, 1, -140.0, "", false, Sp::None},
    {"WTmaxVal", Float, Slot::WTmaxVal, &S::WTmaxVal, 1, -40.0, "", false, Sp::None},
    {"LocalRemote", Char, Slot::LocalRemote, &S::LocalRemote, 1, 0, "1", false, Sp::None},
}};

namespace {

constexpr int kNumAntennas = 3;
constexpr int kWaterfallShown = 0x11;  // bits 0 and 4
constexpr int kWaterfallAbove = 0x22;  // bits 1 and 5

// A decimal number as "%d" reads it: leading white space, a sign, at least one digit;
// whatever follows is ignored. Empty when nothing parses or it does not fit an int.
std::optional<int> parseInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  size_t digits = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) return std::nullopt;
  }
  if (digits == 0) return std::nullopt;
  if (negative) value = -value;
  if (value < INT_MIN || value > INT_MAX) return std::nullopt;
  return static_cast<int>(value);
}

// A number as "%f" reads it; only finite values count.
std::optional<double> parseReal(std::string_view text) {
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(copy.c_str(), &end);
  if (end == copy.c_str() || !std::isfinite(value)) return std::nullopt;
  return value;
}

// A double that must become an int: empty when it would not fit.
std::optional<int> toInt(double value) {
  if (!std::isfinite(value) || value < INT_MIN || value > INT_MAX) return std::nullopt;
  return static_cast<int>(value);
}

double numericValue(const Works& works, const NumericField& field) {
  const Settings& s = works.set;
  if (auto f = std::get_if<IntField>(&field)) return (s.**f).load();
  if (auto f = std::get_if<FloatField>(&field)) return (s.**f).load();
  if (auto f = std::get_if<DoubleField>(&field)) return (s.**f).load();
  return 0;
}

void storeNumeric(Works& works, const NumericField& field, double value) {
  Settings& s = works.set;
  if (auto f = std::get_if<IntField>(&field)) (s.**f).store(static_cast<int>(value));
  if (auto f = std::get_if<FloatField>(&field)) (s.**f).store(static_cast<float>(value));
  if (auto f = std::get_if<DoubleField>(&field)) (s.**f).store(value);
}

bool hasNumeric(const SetupKey& row) {
  return !std::holds_alternative<std::monostate>(row.numeric);
}

char charBase(const SetupKey& row) {
  return row.special == Sp::NumAntenna ? '1' : '0';
}

// The number a scaled or plain int key has in the file. Rounded, not truncated: a value
// such as 1.15 held as a double would otherwise drift one step down at every write.
long long fileInt(const Works& works, const SetupKey& row) {
  return std::llround(numericValue(works, row.numeric) * row.scale);
}

void applyChar(Works& works, const SetupKey& row, std::string_view value) {
  if (value.empty()) return;  // no character to store: the key keeps its value
  SetupText& text = works.set.text;
  const char c = value.front();
  if (row.special == Sp::NumAntenna && (c < '1' || c > '0' + kNumAntennas)) return;
  text.setFlag(row.slot, c);
  int number = c - charBase(row);
  // Five cycle limits exist: a larger digit in an edited file means the last one.
  if (row.special == Sp::AutoTuneMaxCicli) number = std::clamp(number, 0, 4);
  if (hasNumeric(row)) storeNumeric(works, row.numeric, number);
  switch (row.special) {
    case Sp::EnableFFT:
      text.setFlag(Slot::EnableFFT2, c);
      break;
    case Sp::Enable1600:
      text.setFlag(Slot::EnableFFT2, '1');
      break;
    case Sp::WTenable:
    case Sp::WTposition: {
      const int bits = row.special == Sp::WTenable ? kWaterfallShown : kWaterfallAbove;
      if (c == '1') works.set.waterfallFlags.fetch_or(bits);
      if (c == '0') works.set.waterfallFlags.fetch_and(~bits);
      break;
    }
    default:
      break;
  }
}

void applyInt(Works& works, const SetupKey& row, std::string_view value) {
  std::string cut(value);
  if (row.slot != Slot::None) {
    // The slot keeps what fits; the number is read from what was kept, so the slot and
    // its numeric copy never disagree.
    works.set.text.setText(row.slot, value);
    cut = works.set.text.text(row.slot);
  }
  const std::optional<int> parsed = parseInt(cut);
  if (!parsed) return;  // keeps the previous value
  int v = *parsed;
  switch (row.special) {
    case Sp::TcpPort:
      if (v < 0 || v > 65535) return;
      break;
    case Sp::OffsetPlot:
      storeNumeric(works, row.numeric, v / 10);  // integer division, remainder dropped
      return;
    case Sp::AudioCompress:
      works.remote.opusBitrate.store(v);
      break;
    case Sp::MAXbank:
      v = std::clamp(v, 1, 20);  // banks 20 and above would share one file
      break;
    default:
      break;
  }
  if (row.key == "TUNEenabled" || row.key == "TUNEpttout") v = static_cast<uint8_t>(v);
  storeNumeric(works, row.numeric, static_cast<double>(v) / row.scale);
}

void applyFloat(Works& works, const SetupKey& row, std::string_view value) {
  const std::optional<double> parsed = parseReal(value);
  // A number beyond float's range has no float to become: the setting stays as it was.
  if (!parsed || !(std::fabs(*parsed) <= std::numeric_limits<float>::max())) return;
  const float v = static_cast<float>(*parsed);
  if (!std::isfinite(v)) return;
  works.set.text.setReal(row.slot, v);
  if (hasNumeric(row)) storeNumeric(works, row.numeric, v);
  if (row.special == Sp::ChunkTime) {
    if (auto samples = toInt(static_cast<double>(v) * 240 / 5); samples && *samples > 0) {
      works.remote.captureChunkSamples.store(*samples);
      works.remote.playChunkSamples.store(*samples);
    }
  } else if (row.special == Sp::BufferingTime) {
    const float chunk = works.set.text.real(Slot::ChunkTime);
    if (chunk > 0) {
      if (auto chunks = toInt(static_cast<double>(v / chunk))) works.remote.bufferChunks = *chunks;
    }
  }
}

void applyValue(Works& works, const SetupKey& row, std::string_view value) {
  switch (row.kind) {
    case Char:
      applyChar(works, row, value);
      break;
    case Int:
      applyInt(works, row, value);
      break;
    case Float:
      applyFloat(works, row, value);
      break;
    case Text:
      if (row.special == Sp::Passphrase) {
        works.set.Passphrase.set(value);
      } else {
        works.set.text.setText(row.slot, value);
        if (row.special == Sp::Server) works.set.serverAddress.set(works.set.text.text(row.slot));
      }
      break;
  }
}

void applyLine(Works& works, std::string_view line) {
  for (const SetupKey& row : kSetupKeys) {
    if (line.size() >= row.key.size() + 2 && line.starts_with(row.key) &&
        line.substr(row.key.size(), 2) == ": ") {
      applyValue(works, row, line.substr(row.key.size() + 2));
      return;
    }
  }
}

std::string textValue(const Works& works, const SetupKey& row) {
  if (row.special == Sp::Passphrase) return works.set.Passphrase.get();
  return works.set.text.text(row.slot);
}

void logValues(const Works& works) {
  using platform::logInfo;
  for (const SetupKey& row : kSetupKeys) {
    const int n = static_cast<int>(row.key.size());
    const char* k = row.key.data();
    switch (row.kind) {
      case Char:
        logInfo("%.*s: -%c-", n, k, works.set.text.flag(row.slot));
        break;
      case Text:
        logInfo("%.*s: -%s-", n, k, textValue(works, row).c_str());
        break;
      case Int:
        logInfo("%.*s: -%lld-", n, k, fileInt(works, row));
        break;
      case Float:
        logInfo("%.*s: -%f-", n, k, static_cast<double>(works.set.text.real(row.slot)));
        break;
    }
  }
}

// Brings every text slot up to date with its numeric copy.
void refreshSlots(Works& works) {
  SetupText& text = works.set.text;
  const int flags = works.set.waterfallFlags.load();
  for (const SetupKey& row : kSetupKeys) {
    if (row.special == Sp::WTenable) text.setFlag(row.slot, (flags & 1) ? '1' : '0');
    if (row.special == Sp::WTposition) text.setFlag(row.slot, (flags & 2) ? '1' : '0');
    if (!hasNumeric(row)) continue;
    switch (row.kind) {
      case Char: {
        int v = static_cast<int>(numericValue(works, row.numeric));
        if (row.special == Sp::EnableDebug && v == 2) v = 0;
        text.setFlag(row.slot, static_cast<char>(v + charBase(row)));
        break;
      }
      case Int:
        if (row.slot != Slot::None) text.setText(row.slot, std::to_string(fileInt(works, row)));
        break;
      case Float:
        text.setReal(row.slot, static_cast<float>(numericValue(works, row.numeric)));
        break;
      case Text:
        break;
    }
  }
}

std::string renderSetup(const Works& works) {
  std::string out;
  char number[64];
  for (const SetupKey& row : kSetupKeys) {
    out.append(row.key).append(": ");
    switch (row.kind) {
      case Char:
        out += works.set.text.flag(row.slot);
        break;
      case Text:
        out += textValue(works, row);
        break;
      // The whole number, also where the slot would cut it: memory is the master.
      case Int:
        out += std::to_string(fileInt(works, row));
        break;
      case Float:
        std::snprintf(number, sizeof number, "%f",
                      static_cast<double>(works.set.text.real(row.slot)));
        out += number;
        break;
    }
    out += '\n';
  }
  return out;
}

void clampLimit(std::atomic<float>& limit, int allowed) {
  float t = limit.load();
  if (t < 20) t = 20;
  if (t > static_cast<float>(allowed)) t = static_cast<float>(allowed);
  limit.store(t);
}

// "A" and six random letters and digits.
std::string newPassphrase() {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  std::uniform_int_distribution<size_t> pick(0, sizeof kChars - 2);
  std::string pass = "A";
  for (int i = 0; i < 6; ++i) pass += kChars[pick(device)];
  return pass;
}

}  // namespace

void initSettingsNumbers(Works& works) {
  for (const SetupKey& row : kSetupKeys) {
    if (hasNumeric(row) && !row.completeResetOnly) {
      storeNumeric(works, row.numeric, row.numericDefault);
    }
  }
}

void initSetup(Works& works) {
  InitGlobalVar(works);
  SetupText& text = works.set.text;
  text.fill();
  for (const SetupKey& row : kSetupKeys) {
    if (row.slot == Slot::None) continue;
    if (row.kind == Float) {
      text.setReal(row.slot, static_cast<float>(row.numericDefault));
    } else {
      text.setText(row.slot, row.textDefault);
    }
  }
}

void readSetup(Works& works) {
  initSetup(works);
  platform::LineReader reader;
  if (!reader.open(kSetupPath)) {
    platform::trace("Init Setup! ");
    writeSetup(works);
    platform::logError("can't open /opt/set/setup.txt");
    return;
  }
  std::string line;
  while (reader.next(line, kSetupLineMax)) {
    platform::stripLineEnd(line);
    applyLine(works, line);
  }
  VerifyTemperature(works);
  logValues(works);
}

int writeSetup(Works& works) {
  refreshSlots(works);
  const std::string content = renderSetup(works);
  platform::SetWriteWindow window;
  if (!window.writable()) return 0;
  if (const int err = platform::replaceFileAtomically(kSetupPath, content); err != 0) {
    platform::logError("can't write /opt/set/setup.txt error %d", err);
  }
  return 0;
}

void VerifyTemperature(Works& works) {
  clampLimit(works.set.MaxTemperature, works.set.MaxTempAllowed.load());
  clampLimit(works.set.MaxTemperature2, works.set.MaxTempAllowed2.load());
}

void InitCompleteVar(Works& works) {
  Settings& s = works.set;
  s.TempMode = 0;
  s.FreqSensIn = 1;
  s.AttenuatorTune = 3;
  s.swrTarget = 0.0f;
  s.AutoTuneMaxCicli = 0;
  s.PowerUnits = 0;
  s.SaveScreenIdx = 4;
  s.AutoTuneMode = 1;
  s.PSpar3 = 80;
  s.PSpar4 = 50;
  s.OffsetPlot = 0.0;
  s.TUNEenabled = 0;
  works.remote.bufferChunks = 100;
}

void InitVar_Default(Works& works) {
  const CoreHooks& hooks = works.core.hooks;
  if (hooks.DeleteFileConf != nullptr) {
    for (int bank = 0; bank < 20; ++bank) {
      for (int kind = 0; kind < 4; ++kind) hooks.DeleteFileConf(works, bank, kind);
    }
  }
  InitGlobalVar(works);
  initSetup(works);
  const std::string pass = newPassphrase();
  works.set.Passphrase.set(pass);
  platform::trace("%s\n", pass.c_str());
  writeSetup(works);
  readSetup(works);
  VerifyTemperature(works);
  if (hooks.DeleteErrore != nullptr) {
    for (Err error : {Err::Temp1Recovered, Err::Temp1Alarm, Err::Temp2Recovered, Err::Temp2Alarm,
                      Err::Temp1Warning, Err::Temp2Warning}) {
      hooks.DeleteErrore(works, error);
    }
  }
  if (hooks.InitMicroCmd != nullptr) hooks.InitMicroCmd(works);
  if (hooks.LoadAllBankTable != nullptr) hooks.LoadAllBankTable(works, works.set.NumBanco);
  works.atu.lastBandApplied = -1;
}

void LoadNameCORVID(Works& works) {
  platform::LineReader reader;
  if (reader.open(kNamePath)) {
    std::string line;
    while (reader.next(line, kSetupLineMax)) works.core.unitName.set(line);
  }
  platform::trace("************ NOME: %s\n", works.core.unitName.get().c_str());
}

}  // namespace corvid

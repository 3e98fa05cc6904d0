// Power, SWR and temperature from raw readings; the calibration files; the protection
// thresholds; the status text for the remote client.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "amp/amp.h"
#include "amp/link.h"
#include "core/works.h"
#include "errors/errors.h"
#include "platform/files.h"
#include "platform/log.h"

namespace corvid {

using platform::logError;
using platform::trace;

float CalcolaWatt(int offset, int raw, float k) {
  if (raw >= offset) {
    const float sum = static_cast<float>(raw + offset);
    return k * sum * sum;
  }
  return 4 * k * static_cast<float>(offset) * static_cast<float>(raw);
}

namespace {

struct NtcPoint {
  float celsius;
  float kohm;
};

// NTC resistance against temperature; 10 kΩ at 25 °C.
constexpr NtcPoint K_T_R[] = {
    {-40, 347.808f}, {-35, 248.591f}, {-30, 179.973f}, {-25, 131.832f}, {-20, 97.679f},
    {-15, 73.119f},  {-10, 55.301f},  {-5, 42.257f},   {0, 32.582f},    {5, 25.324f},
    {10, 19.847f},   {15, 15.679f},   {20, 12.478f},   {25, 10.000f},   {30, 8.068f},
    {35, 6.552f},    {40, 5.353f},    {45, 4.399f},    {50, 3.635f},    {55, 3.020f},
    {60, 2.521f},    {65, 2.115f},    {70, 1.783f},    {75, 1.510f},    {80, 1.284f},
    {85, 1.096f},    {90, 0.939f},    {95, 0.808f},    {100, 0.698f},   {105, 0.605f},
    {110, 0.527f},   {115, 0.460f},   {120, 0.403f},   {125, 0.354f},
};

// Built-in constants used without config.txt.
constexpr float kBuiltInK[4] = {5.156579e-6f, 3.3262754e-6f, 5.5078103e-6f, -0.007f};

float rowK(const ConfigRow& row, int kind) {
  switch (kind) {
    case KostForward:
      return row.kForward;
    case KostReflected:
      return row.kReflected;
    case KostInput:
      return row.kInput;
    default:
      return row.kCorrection;
  }
}

// The row i (first to next-to-last) with low(i) <= f < low(i+1); -1 when none.
int configRowFor(const Works& works, uint32_t freq) {
  const auto& rows = works.amp.configRows;
  for (size_t i = 0; i + 1 < rows.size(); ++i) {
    if (rows[i].freqLow <= freq && freq < rows[i + 1].freqLow) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

float CalcolaTemp(int raw) {
  float t;
  if (raw >= 4095) {
    t = -40;  // open sensor: infinite resistance
  } else {
    const float r = 10.0f * static_cast<float>(std::max(raw, 0)) / static_cast<float>(4095 - raw);
    constexpr size_t n = std::size(K_T_R);
    if (r > K_T_R[0].kohm) {
      t = -40;
    } else if (r <= K_T_R[n - 1].kohm) {
      t = 101;
    } else {
      size_t i = 0;
      while (i < n && K_T_R[i].kohm >= r) ++i;  // first point below r
      const NtcPoint& a = K_T_R[i - 1];
      const NtcPoint& b = K_T_R[i];
      t = a.celsius + (a.kohm - r) / (a.kohm - b.kohm) * (b.celsius - a.celsius);
    }
  }
  if (t < -10) return -10;
  if (t > 100) return 101;
  return t;
}

float SearchK(const Works& works, int kind) {
  if (kind < 0 || kind > 3) return 1;
  const auto& rows = works.amp.configRows;
  if (rows.empty()) return kBuiltInK[kind];
  const int i = configRowFor(works, works.ui.trxFreq.load());
  return i < 0 ? 1.0f : rowK(rows[static_cast<size_t>(i)], kind);
}

float CalvTensVadcAmp(const Works& works, int reading) {
  const float k = works.amp.ampModel.load() == '1' ? 348.0f : 118.0f;
  return static_cast<float>(reading & 0xFF) * 3.3f * k / 255.0f / 18.0f;
}

float CalcolaSWRfromPowers(float forward, float reflected) {
  float swr = 0;
  if (forward > 0.3f) {
    if (forward < reflected) {
      swr = 100;
    } else {
      const float r = std::sqrt(reflected / forward);
      swr = r == 1.0f ? 100.0f : (1 + r) / (1 - r);
    }
  } else if (reflected > 0.5f) {
    swr = 100;
  }
  return std::min(swr, 100.0f);
}

// ---- config_offset.txt ----

namespace {
struct OffsetKey {
  const char* key;
  std::atomic<int> AmpState::*field;
  int fallback;
};
constexpr OffsetKey kOffsetKeys[] = {
    {"KostPWRIN", &AmpState::KostPWRIN, 150},
    {"KostFORW", &AmpState::KostFORW, 140},
    {"KostREFL", &AmpState::KostREFL, 100},
};

// An integer as "%i" reads it: 0x prefix hexadecimal, leading 0 octal.
bool parseCInt(const std::string& text, long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text.c_str(), &end, 0);
  return end != text.c_str() && errno == 0 && value >= INT32_MIN && value <= INT32_MAX;
}
}  // namespace

void LoadConfigOffsetFile(Works& works) {
  platform::LineReader reader;
  if (!reader.open(kConfigOffsetPath)) {
    for (const OffsetKey& k : kOffsetKeys) (works.amp.*k.field) = k.fallback;
    writeConfigOffset(works);
    return;
  }
  std::string line;
  while (reader.next(line, 99)) {
    platform::stripLineEnd(line);
    for (const OffsetKey& k : kOffsetKeys) {
      const std::string prefix = std::string(k.key) + ": ";
      long value = 0;
      if (line.rfind(prefix, 0) == 0 && parseCInt(line.substr(prefix.size()), value)) {
        (works.amp.*k.field) = static_cast<int>(value);
        trace("************ %s: %i\n", k.key, static_cast<int>(value));
      }
    }
  }
}

int writeConfigOffset(Works& works) {
  std::string content;
  char line[64];
  for (const OffsetKey& k : kOffsetKeys) {
    std::snprintf(line, sizeof line, "%s: %i\n", k.key, (works.amp.*k.field).load());
    content += line;
  }
  platform::SetWriteWindow window;
  if (!window.writable()) return 0;
  if (const int err = platform::replaceFileAtomically(kConfigOffsetPath, content); err != 0) {
    logError("can't write /opt/set/config_offset.txt error %d", err);
  }
  return 0;
}

// ---- config.txt ----

namespace {
// Numbers of one config.txt row: 2 frequencies, 3 pairs, correction, 4 thresholds,
// 10 integers, 1 integer.
constexpr int kRowNumbers = 2 + 6 + 1 + 4 + 10 + 1;
constexpr int kRowNumbersNeeded = 2 + 6 + 1 + 4;

bool parseRow(Works& works, const std::string& line, ConfigRow& row) {
  std::string words[kRowNumbers];
  int n = 0;
  size_t i = 0;
  while (n < kRowNumbers) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    words[n++] = line.substr(start, i - start);
  }
  if (n < kRowNumbersNeeded) return false;
  auto unsignedAt = [&](int k, uint32_t& out) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(words[k].c_str(), &end, 0);
    if (end == words[k].c_str() || errno != 0 || v > UINT32_MAX || words[k][0] == '-') return false;
    out = static_cast<uint32_t>(v);
    return true;
  };
  auto realAt = [&](int k, float& out) {
    char* end = nullptr;
    const double v = std::strtod(words[k].c_str(), &end);
    // Finite and within float's range: a larger number has no float to become.
    if (end == words[k].c_str() || !std::isfinite(v) ||
        std::fabs(v) > std::numeric_limits<float>::max()) {
      return false;
    }
    out = static_cast<float>(v);
    return true;
  };
  if (!unsignedAt(0, row.freqLow) || !unsignedAt(1, row.freqHigh)) return false;
  const int offsets[3] = {works.amp.KostFORW, works.amp.KostREFL, works.amp.KostPWRIN};
  float* constants[3] = {&row.kForward, &row.kReflected, &row.kInput};
  for (int p = 0; p < 3; ++p) {
    float power = 0;
    float reading = 0;
    if (!realAt(2 + 2 * p, power) || !realAt(3 + 2 * p, reading)) return false;
    const float sum = static_cast<float>(offsets[p]) + reading;
    *constants[p] = sum != 0 ? power / (sum * sum) : 0.0f;
  }
  if (!realAt(8, row.kCorrection) || !realAt(9, row.thInput) || !realAt(10, row.thCurrent) ||
      !realAt(11, row.thReflected) || !realAt(12, row.thForward)) {
    return false;
  }
  for (int k = 0; k < 11 && 13 + k < n; ++k) {
    const int32_t v = static_cast<int32_t>(std::strtol(words[13 + k].c_str(), nullptr, 10));
    if (k == 10)
      row.extraLast = v;
    else if (k % 2 == 0)
      row.extraA[static_cast<size_t>(k / 2)] = v;
    else
      row.extraB[static_cast<size_t>(k / 2)] = v;
  }
  return true;
}
}  // namespace

void ReadConfigFile(Works& works) {
  platform::LineReader reader;
  works.amp.configRows.clear();
  if (!reader.open(kConfigPath)) {
    trace("Config File not FOUND!!");
    logError("can't open /opt/set/config.txt");
    return;
  }
  std::vector<ConfigRow> rows;
  std::string line;
  int lineNumber = 0;
  while (reader.next(line, 255)) {
    ++lineNumber;
    platform::stripLineEnd(line);
    if (line.empty() || line[0] == ';') continue;
    ConfigRow row;
    if (!parseRow(works, line, row)) {
      logError("config.txt line %d skipped: not a calibration row", lineNumber);
      continue;
    }
    rows.push_back(row);
  }
  trace("N row Config File %d \n", static_cast<int>(rows.size()));
  for (const ConfigRow& r : rows) {
    trace(
        "->%u,%u,%02.07f,%02.07f,%02.07f,%02.07f (%02.02f,%02.02f) Soglie: PWIN %02.01f, "
        "Corrente: %02.01f, REFL: %02.01f, FWD: %02.01f\n",
        r.freqLow, r.freqHigh, static_cast<double>(r.kForward), static_cast<double>(r.kReflected),
        static_cast<double>(r.kInput), static_cast<double>(r.kCorrection),
        static_cast<double>(r.extraA[0]), static_cast<double>(r.extraB[0]),
        static_cast<double>(r.thInput), static_cast<double>(r.thCurrent),
        static_cast<double>(r.thReflected), static_cast<double>(r.thForward));
  }
  works.amp.configRows = std::move(rows);
}

// ---- thresholds ----

namespace {
// A threshold in converter counts: truncated, held within 0..4095.
int counts(double value) {
  if (!std::isfinite(value) || value < 0) return value > 0 ? 4095 : 0;
  return static_cast<int>(std::min(value, 4095.0));
}
}  // namespace

void SearchCambioSoglie_TS(Works& works) {
  AmpState& amp = works.amp;
  const uint32_t freq = works.ui.trxFreq.load();
  if (!amp.configRows.empty() && freq != 0) {
    const int i = configRowFor(works, freq);
    if (i < 0 || i == amp.tsRow.load()) return;
    const ConfigRow& row = amp.configRows[static_cast<size_t>(i)];
    auto root = [](float threshold, float k) {
      return k > 0 ? std::sqrt(static_cast<double>(threshold) / static_cast<double>(k)) : 4095.0;
    };
    amp.tsPwrIn = counts(root(row.thInput, row.kInput));
    amp.tsFwd = counts(root(row.thForward, row.kForward));
    amp.tsRefl = counts(root(row.thReflected, row.kReflected));
    amp.tsCurrent = counts(static_cast<double>(row.thCurrent) * 4096 / 14.05);
    amp.tsRow = i;
  } else {
    if (amp.tsRow.load() >= 0) return;
    amp.tsPwrIn = 4095;
    amp.tsFwd = 4095;
    amp.tsRefl = 1500;
    amp.tsCurrent = 3700;
    amp.tsRow = 0;
  }
  IncPNTIn_CMDLinear(CmdTS, works);
}

// ---- status text ----

int CreaBufferDiStato(Works& works, char out[kStatusTextSize]) {
  // Each field is printed at its place in turn: a value wider than its field is cut by
  // the next one. The scratch is wide enough for any value printed.
  char s[160] = {};
  auto put = [&](size_t at, const char* fmt, auto... args) {
    std::snprintf(s + at, sizeof s - at, fmt, args...);
  };
  char band[5] = "----";
  if (works.amp.hooks.bandName != nullptr &&
      !works.amp.hooks.bandName(works, works.ui.trxFreq.load(), band)) {
    std::strcpy(band, "----");
  }
  put(0, "%-4.4s", band);
  s[4] = static_cast<char>('0' + interfaceNumber(works.bands.freqInterface.load()));
  s[5] = static_cast<char>('0' + std::clamp(works.atu.attStep.load(), 0, 3));
  s[6] = static_cast<char>('0' + std::clamp(works.set.NumAntenna.load(), 0, 9));
  s[7] = works.amp.ampBypass.load() != 0 ? '1' : '0';
  s[8] = (works.set.TUNEenabled.load() & 0x80) != 0 ? 'N'
         : works.atu.tunerBypassed.load() != 0      ? 'B'
                                                    : 'T';
  const bool tuning = works.atu.tuneState.load() != TuneState::Idle;
  s[9] = tuning ? '1' : '0';
  put(10, "%06.02f", static_cast<double>(works.amp.swr.load()));
  put(16, "%06.2f", static_cast<double>(works.amp.pwrFwd.load()));
  put(22, "%06.02f", static_cast<double>(works.amp.pwrIn.load()));
  put(28, "%04.01f", static_cast<double>(std::max(works.amp.temp1.load(), works.amp.temp2.load())));
  put(32, "%4.1f", static_cast<double>(CalvTensVadcAmp(works, works.ui.tinyVamp.load())));
  put(36, "%04.01f", static_cast<double>(works.amp.ampCurrentRaw.load() / 4096.0f * 14.05f));
  put(40, "%02d", works.set.NumBanco.load());
  // The newest error's number plus one, as a character; '0' when none is listed.
  const std::optional<Err> newest = newestError(works);
  s[42] = !newest ? '0' : static_cast<char>(errorNumber(*newest) + 1);
  put(43, "%s %s", works.core.version.c_str(), works.amp.ampFwVersion.get().c_str());
  s[57] = tuning ? 1 : 0;
  s[58] = ';';
  s[59] = '\0';
  std::memcpy(out, s, kStatusTextSize);
  return 59;
}

}  // namespace corvid

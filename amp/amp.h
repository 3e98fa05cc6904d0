// The amplifier's replies, measurements and calibration, and the temperature and fan
// rules that run after each status reply.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "errors/errors_state.h"

namespace corvid {

struct Works;

inline constexpr std::string_view kConfigPath = "/opt/set/config.txt";
inline constexpr std::string_view kConfigOffsetPath = "/opt/set/config_offset.txt";
inline constexpr std::string_view kTempLogPath = "/opt/set/LOGtemp.txt";

// ---- replies ----

// Decodes one reply (the text after the two checksum characters, ';' included; count is
// every character received) and sets the link's next state.
void DecodeCatCmd(Works& works, std::string_view text, int count);
// '0'-'9', 'A'-'F', 'a'-'f' give 0-15; anything else -1.
int charToInt(char c);

// ---- measurements and calibration ----

// Watts from a raw reading: K (n + o)² at or above the offset, a straight line below.
float CalcolaWatt(int offset, int raw, float k);
// °C from a raw 12-bit NTC reading (10 kΩ pull-up), limited to -10 .. 101.
float CalcolaTemp(int raw);
enum KostKind { KostForward = 0, KostReflected = 1, KostInput = 2, KostCorrection = 3 };
float SearchK(const Works& works, int kind);
// Amplifier supply in volts from the power controller's 8-bit reading.
float CalvTensVadcAmp(const Works& works, int reading);
// SWR from forward and reflected watts: 0 idle, 1..100.
float CalcolaSWRfromPowers(float forward, float reflected);

void LoadConfigOffsetFile(Works& works);
int writeConfigOffset(Works& works);
void ReadConfigFile(Works& works);
// Picks the thresholds of the current frequency and queues TS when they change.
void SearchCambioSoglie_TS(Works& works);

inline constexpr int kStatusTextSize = 60;  // 59 bytes and a NUL
// The status text for the remote client; returns its length (59).
int CreaBufferDiStato(Works& works, char out[kStatusTextSize]);

// ---- temperature and fans ----

void ReadVentolaFile(Works& works, int table);
// The two lines of "my_temp": the board's CPU temperature ("45"), and a line whose
// characters 6 to 9 hold the GPU's ("temp=47.2'C"). A line without a finite number there
// leaves its reading as it was.
void takeCpuTempLine(Works& works, const std::string& line);
void takeGpuTempLine(Works& works, const std::string& line);
void searchPercentVentola(Works& works);
float SearchTemperatureFromVentola(int percent, const Works& works, int table);
// One sensor's three stages: the alarm above the limit, the recovered error after it,
// and the warning within the hysteresis below the limit.
void GestTemperatureFunction(Works& works, Err alarmError, Err afterError, Err warningError,
                             float temperature, float limit);
void AttivaDisattivaProtezione(Works& works, bool on);
float ConversionCelsius_to_Fahrenheit(float celsius);
// -1 deletes the log, 0 appends a line, 1 appends an alarm line.
void LogTempFunction(Works& works, int mode);

}  // namespace corvid

// The amplifier's status text as the remote client receives it in "ST" frames (58 bytes,
// fixed positions), decoded into named values, and the few facts the client reads from
// the transceiver's parameter record ("PA"). A field that the text does not hold (a short
// text) or that does not read as its kind stays empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace corvid::client {

inline constexpr size_t kStatusTextBytes = 58;

enum class FrequencySource { generic, extIo, ft817 };
enum class TunerState { notInstalled, bypassed, inLine };

struct StatusBlock {
  size_t length = 0;                // bytes the text had
  std::optional<std::string> band;  // "" when the frequency is in no band
  std::optional<FrequencySource> frequencySource;
  std::optional<int> attenuatorStep;  // 0..3
  std::optional<int> antenna;         // 1-based
  std::optional<bool> ampBypassed;
  std::optional<TunerState> tuner;
  std::optional<bool> tuning;
  std::optional<double> swr;
  std::optional<double> forwardW;
  std::optional<double> inputW;
  std::optional<double> temperatureC;  // the hotter of the two heat sinks
  std::optional<double> supplyV;
  std::optional<double> currentA;
  std::optional<int> bank;
  std::optional<int> errorCode;  // the raw byte: '0' none, else newest error number + 1
  std::optional<std::string> softwareVersion;
  std::optional<std::string> ampFirmware;
  std::optional<bool> tuningFlag;  // byte 57, a byte value 0 or 1
};

StatusBlock decodeStatus(std::span<const uint8_t> text);

// The error behind the status's error byte: -1 none, else the number (0..27 are known).
std::optional<int> newestError(const StatusBlock& status);
// Title and detail of a known error number ("HI SWR error"); empty for others.
std::string_view errorTitle(int number);
std::string_view errorDetail(int number);
// The attenuation of step 0..3 in dB.
std::optional<int> attenuatorDb(int step);
std::string_view name(FrequencySource source);
std::string_view name(TunerState state);

// The status block as lines of "name: value" for a person (every line ends in '\n').
std::string formatStatus(const StatusBlock& status);

// From the transceiver's parameter record: the frequency of the message (eight hex digit
// bytes after the flag byte), whose VFO it is, and whether it transmits.
struct TrxParameters {
  uint32_t frequencyHz = 0;
  bool vfoB = false;
  bool memory = false;
  std::optional<bool> transmitting;
};
std::optional<TrxParameters> decodeParameters(std::span<const uint8_t> payload);
std::string formatParameters(const TrxParameters& parameters);

}  // namespace corvid::client

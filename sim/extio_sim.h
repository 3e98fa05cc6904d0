// The maker's transceiver on its EXT IO port: streams parameter records and 1024-bin
// FFT messages on a pseudo-terminal linked at DIR/dev/VORNSER (the controller's
// SerPort), and obeys the text commands the amplifier sends back. Its state is a
// Station's.
//
// A message: type byte, kind character, four length digits least significant first
// (each 0x30 + value), payload. Every 100 ms it sends a parameter record (type 1, kind
// '1', 31 bytes) of the active VFO (or of the memory channel in use), every second
// cycle also one of the other VFO, and an FFT (type 0, kind '0', 1024 bins of 187.5 Hz,
// the tuned frequency at bin 512, each byte the level in dB + 192, kept to 0..255).
//
// The FFT looks like a band on a waterfall. Time is the cycle counter (100 ms a cycle), so
// the same cycle always gives the same bins:
//   - a noise floor of -114 dB (+/- 3 dB of noise) with a ripple of a few dB across the
//     bins that moves slowly in time;
//   - the bands' usual signals (digital-mode windows, beacons) at -50 dB;
//   - at the same places of every 100 kHz of the dial (so they move when the dial does):
//     carriers of -50 dB (at xx31.25 kHz), -70 dB (xx62.5 kHz) and -90 dB (xx87 kHz) a few
//     bins wide with skirts; one of -65 dB at xx48 kHz drifting 1.5 kHz up and down at
//     300 Hz/s (20 s back and forth); and a 2.6 kHz wide voice-like signal of about -78 dB
//     at xx18 kHz, on for 4 s and off for 3 s (on in cycles 0..39 of every 70).
//
// Record bytes: 0 flags (bit 5 VFO B active, bit 4 this record is VFO B's, bit 0 memory);
// 1..8 the frequency, eight hexadecimal digits most significant first; 9 0x80 | transmit
// << 6 | split << 5 | mode (LSB 4, USB 6, CW 2, CWR 3, AM 1, FM 5, DIG 7); 10 0x41 (audio
// gate open); 11 0x40 | antenna input << 5 | PTT-out request << 4 | squelch; 12..20 the
// receiver's filters, noise reduction, settings, attenuator; 21 level + 211; 22 volume;
// 23..25 the shift (2500 Hz) and 26..30 the offset (0), as digits.
//
// Commands: "RX;" back to receive (carrier and PTT off), "TU120;" tune set-up, "TX2;" a
// tune carrier at the "TQ%04i;" power (mW), "PT00;" the PTT-out request answered.
//
// Faults (the API, or words of DIR/bench/faults read every 200 ms):
//   extio-silent     nothing is sent (commands are still obeyed)
//   extio-junk       every cycle starts with bytes that are no message: bytes above 14,
//                    a type 7 header, a parameter type with the FFT kind
//   extio-oversized  every cycle starts with a record whose length reads 0xFFFF
//   extio-carrier:HZ a steady carrier HZ (signed) from the shown frequency, at bin
//                    512 + round(HZ / 187.5): -30 dB, its two neighbours -45 dB, stronger
//                    than anything else ("extio-carrier:+40000", "extio-carrier:-25000");
//                    also setCarrier(), which takes precedence over the file
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/station.h"
#include "sim/trx_line.h"

namespace corvid::bench {

struct ExtIoFaults {
  bool silent = false;
  bool junk = false;
  bool oversized = false;
  bool operator==(const ExtIoFaults&) const = default;
};

struct ExtIoCounters {
  size_t records = 0;
  size_t spectra = 0;
  size_t dropped = 0;                      // cycles not sent: the controller did not read the line
  std::vector<std::string> commands;       // as received, without ';' (the last 1000)
  std::vector<FrequencySent> frequencies;  // each new shown frequency, when its record went
};

uint8_t extIoModeValue(StationMode mode);

// One message: type, kind, length digits, payload.
std::vector<uint8_t> extIoFrame(uint8_t type, uint8_t kind, std::span<const uint8_t> payload);

// The 1024 FFT bins of one cycle around shownHz (at bin 512), with the test carrier
// carrierHz from it when set.
std::vector<uint8_t> extIoSpectrum(uint32_t shownHz, uint64_t cycle,
                                   std::optional<int> carrierHz = std::nullopt);
// The offset of a fault word "carrier:HZ" (without "extio-"); empty for any other word or
// a malformed number.
std::optional<int> parseCarrierWord(std::string_view word);

// The protocol without the line.
class ExtIoRadio {
 public:
  explicit ExtIoRadio(Station& station) : station_(station) {}
  // The 31-byte record of VFO B (vfoBRecord) or A, or of the memory channel in use.
  std::vector<uint8_t> record(bool vfoBRecord) const;
  // 1024 bins around the shown frequency, at the current cycle.
  std::vector<uint8_t> spectrum(std::optional<int> carrierHz = std::nullopt) const;
  // The bytes of one 100 ms cycle.
  std::vector<uint8_t> cycle(const ExtIoFaults& faults,
                             std::optional<int> carrierHz = std::nullopt);
  uint64_t cycles() const { return cycles_; }
  // Bytes from the controller: commands end with ';'.
  void take(std::span<const uint8_t> bytes);
  ExtIoCounters& counters() { return counters_; }
  const ExtIoCounters& counters() const { return counters_; }

 private:
  void command(const std::string& text);

  Station& station_;
  ExtIoCounters counters_;
  std::string pending_;
  uint64_t cycles_ = 0;
};

struct ExtIoOptions {
  std::filesystem::path root;         // the bench root (absolute)
  std::string port = "/dev/VORNSER";  // taken under root
  bool watchFaultsFile = true;
  int cycleMs = 100;
  std::shared_ptr<Station> station;  // a new one when empty
};

class ExtIoSimulator {
 public:
  explicit ExtIoSimulator(ExtIoOptions options);
  ~ExtIoSimulator();
  ExtIoSimulator(const ExtIoSimulator&) = delete;
  ExtIoSimulator& operator=(const ExtIoSimulator&) = delete;

  bool start(std::string& error);
  void stop();

  Station& station() { return *station_; }
  std::shared_ptr<Station> sharedStation() const { return station_; }
  std::filesystem::path linkPath() const;

  void setFaults(ExtIoFaults faults);
  ExtIoFaults faults() const;
  // The test carrier's offset from the shown frequency (empty: none). One set here wins
  // over the faults file's "extio-carrier:HZ"; carrier() is the one in force.
  void setCarrier(std::optional<int> offsetHz);
  std::optional<int> carrier() const;
  ExtIoCounters counters() const;
  // Sends bytes as they are, before the next cycle (malformed messages of a test).
  void inject(std::vector<uint8_t> bytes);

 private:
  void run();
  void readFaultsFile();
  void queue(const std::vector<uint8_t>& bytes);

  ExtIoOptions options_;
  std::shared_ptr<Station> station_;

  mutable std::mutex mutex_;  // faults, counters, the radio, injected bytes
  ExtIoFaults apiFaults_;
  ExtIoFaults fileFaults_;
  std::optional<int> apiCarrier_;
  std::optional<int> fileCarrier_;
  ExtIoRadio radio_;
  std::vector<uint8_t> injected_;

  // Only the thread touches this.
  std::deque<uint8_t> out_;

  // Last: destroyed first, so the thread ends before the state it uses.
  TrxLineThread lineThread_;
};

}  // namespace corvid::bench

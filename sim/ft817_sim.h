// The FT-817 simulator: a transceiver that speaks the 5-byte CAT protocol on a
// pseudo-terminal linked at DIR/dev/VORN817 (the controller's CatSerialPort), for the
// controller and for any other CAT program (Hamlib's rigctl with model 1020 works
// against it). Its frequency, mode, VFOs, split and transmission are a Station's.
//
// Commands are five bytes: four parameters, then the opcode. Every set command is
// acknowledged with one 0x00 byte; reads answer with their data:
//   0x03 read frequency and mode -> 4 BCD bytes of the shown frequency (10 Hz unit, most
//        significant first) and the mode byte (LSB 00, USB 01, CW 02, CWR 03, AM 04,
//        FM 08, DIG 0A)
//   0x01 set frequency (P1..P4 BCD), 0x07 set mode (P1), 0x81 toggle VFO A/B,
//   0x02/0x82 split on/off, 0x08/0x88 PTT on/off, 0x00/0x80 lock, 0x0F/0x8F power,
//   0x05/0x85, 0xF5 clarifier, 0x09, 0xF9, 0x0A, 0x0B, 0x0C repeater and tones: ack only
//   0xBB read EEPROM (P1 P2 address) -> 2 bytes; address 0x55 bit 0 is VFO B
//   0xE7 read receive status -> 1 byte; 0xF7 read transmit status -> 0xFF while receiving
// A partial command left for more than 50 ms is dropped, as the radio resynchronises.
//
// Faults (the API, or words of DIR/bench/faults read every 200 ms):
//   ft817-silent     nothing is answered
//   ft817-bad-bcd    the frequency reply carries a byte with a digit above 9 (0x4A)
//   ft817-drop-byte  the frequency reply loses its last byte
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/station.h"
#include "sim/trx_line.h"

namespace corvid::bench {

struct Ft817Faults {
  bool silent = false;
  bool badBcd = false;
  bool dropByte = false;
  bool operator==(const Ft817Faults&) const = default;
};

struct Ft817Counters {
  size_t commands = 0;  // whole 5-byte commands
  size_t frequencyReads = 0;
  size_t unknown = 0;  // opcodes it does not know (not answered)
  size_t dropped = 0;  // partial commands dropped after the gap
  std::vector<FrequencySent> frequencies;  // each new frequency in a read reply
};

// The protocol without the line: commands in, reply bytes out.
class Ft817Cat {
 public:
  explicit Ft817Cat(Station& station) : station_(station) {}
  std::vector<uint8_t> answer(std::span<const uint8_t, 5> command, const Ft817Faults& faults);
  const Ft817Counters& counters() const { return counters_; }
  Ft817Counters& counters() { return counters_; }

 private:
  Station& station_;
  Ft817Counters counters_;
  bool locked_ = false;
};

// The mode byte of a station mode, and back (nullopt for a byte it does not know).
uint8_t ft817ModeByte(StationMode mode);
std::optional<StationMode> ft817Mode(uint8_t byte);

struct Ft817Options {
  std::filesystem::path root;         // the bench root (absolute)
  std::string port = "/dev/VORN817";  // taken under root
  bool watchFaultsFile = true;
  std::shared_ptr<Station> station;  // a new one when empty
};

class Ft817Simulator {
 public:
  explicit Ft817Simulator(Ft817Options options);
  ~Ft817Simulator();
  Ft817Simulator(const Ft817Simulator&) = delete;
  Ft817Simulator& operator=(const Ft817Simulator&) = delete;

  // Opens and links the line and starts the thread; false (with error) on failure.
  bool start(std::string& error);
  void stop();

  Station& station() { return *station_; }
  std::shared_ptr<Station> sharedStation() const { return station_; }
  std::filesystem::path linkPath() const;

  void setFaults(Ft817Faults faults);
  Ft817Faults faults() const;  // the API's and the faults file's together
  Ft817Counters counters() const;

 private:
  void run();
  void takeBytes(std::span<const uint8_t> bytes, std::chrono::steady_clock::time_point now);
  void readFaultsFile();

  Ft817Options options_;
  std::shared_ptr<Station> station_;

  mutable std::mutex mutex_;  // faults and counters
  Ft817Faults apiFaults_;
  Ft817Faults fileFaults_;
  Ft817Cat cat_;

  // Only the thread touches these.
  std::array<uint8_t, 5> command_{};
  size_t received_ = 0;
  std::chrono::steady_clock::time_point lastByte_{};
  std::vector<uint8_t> out_;

  // Last: destroyed first, so the thread ends before the state it uses.
  TrxLineThread lineThread_;
};

}  // namespace corvid::bench

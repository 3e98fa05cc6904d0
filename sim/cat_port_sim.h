// The maker's transceiver on its USB CAT port: a text CAT protocol on a pseudo-terminal
// linked at DIR/dev/ttyUSB0, where the controller's remote operation looks for it (it
// tries every DIR/dev/ttyUSB* from the last in sorted order and takes the one answering
// "DT;" with "DT001"). Its frequency, mode and transmission are a Station's, the same the
// FT-817 and EXT IO simulators show. Optionally a second, silent device at
// DIR/dev/ttyUSB1: a USB serial port of something else, which reads and never answers.
//
// Commands are upper-case text ended by ';': two letters, then their parameters. A read
// (the letters alone) is answered with the letters, the value and ';'; a set (with
// parameters) is obeyed and not answered; anything else is answered "?;".
//   DT          -> "DT001;"   the identity the controller's search asks for
//   ID          -> "ID077;"   the model number
//   FA / FB     -> "FA00014070000;"  VFO A / B in Hz, 11 digits
//   FAnnnnnnnnnnn / FBnnnnnnnnnnn    sets VFO A / B (30 kHz to 60 MHz, else "?;")
//   MD          -> "MD2;"     mode of the active VFO; MDn sets it:
//                             1 LSB, 2 USB, 3 CW, 4 FM, 5 AM, 6 DIG, 7 CWR
//   TX, TX0, TX1  key the station (PTT); TX2 a tune carrier; RX back to receive (both off)
//   IF          -> the status line (38 characters and ';'):
//                  "IF" frequency shown (11 digits), step "00000", RIT offset "+00000",
//                  RIT "0", XIT "0", memory channel "000", transmitting 0/1, mode digit,
//                  VFO (0 A, 1 B, 2 memory), scan "0", split 0/1, tone "0", tone number
//                  "00", "0"
//   AI / AI0 / AI1  auto-information: "AI0;" or "AI1;"; set off or on. While on, a change
//                  of a VFO's frequency that did not come over this port (the front panel,
//                  another link, a test) is sent unasked as "FA...;" / "FB...;".
// Carriage returns and line feeds between commands are ignored; any other control byte
// drops the command under way; a command longer than 40 characters is answered "?;".
//
// Faults (the API, or words of DIR/bench/faults read every 200 ms):
//   cat-silent   nothing is answered, not even "DT;", nothing sent unasked (commands are
//                still obeyed)
//   cat-no-id    everything is answered but "DT;", which gets "?;" as from a transceiver
//                of another kind: the search passes this port by
//   cat-pieces   every reply leaves in 2 or 3 writes 4 ms apart (1 byte: one write)
//   cat-gone     the device is unplugged: the pseudo-terminal closes (a reader of its
//                other end sees the line hang up) and DIR/dev/ttyUSB0 is removed; without
//                the word again a new one is linked there
//
// The simulator is started in every bench run: it costs a thread polling every 20 ms, and
// the controller only opens the USB ports in remote operation, which the operator can
// switch on from the menu at any time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sim/station.h"
#include "sim/trx_line.h"

namespace corvid::bench {

struct CatPortFaults {
  bool silent = false;
  bool noId = false;
  bool pieces = false;
  bool gone = false;
  bool operator==(const CatPortFaults&) const = default;
};

struct CatPortCounters {
  size_t commands = 0;                     // whole commands, up to their ';'
  size_t unknown = 0;                      // answered "?;"
  size_t replies = 0;                      // answers and auto-information messages that went out
  size_t autoInformation = 0;              // of them, sent unasked
  size_t writes = 0;                       // writes on the line (more than replies with cat-pieces)
  size_t silentPortBytes = 0;              // bytes the silent second device received
  size_t gone = 0;                         // times the device was unplugged (cat-gone)
  std::vector<std::string> received;       // each command as received, without ';' (the last 1000)
  std::vector<FrequencySent> frequencies;  // each new frequency in an FA, FB, IF reply or message
};

// The mode digit of "MD" and "IF", and back (nullopt for a digit it does not know).
char catModeDigit(StationMode mode);
std::optional<StationMode> catMode(char digit);

// How a reply leaves with cat-pieces: 2 or 3 pieces that make it up again in order.
std::vector<std::string> catReplyPieces(std::string_view reply);

// The protocol without the line.
class CatPortRadio {
 public:
  explicit CatPortRadio(Station& station);
  // Bytes from the controller: the replies of the commands they complete, in order, each
  // with its ';'.
  std::vector<std::string> take(std::span<const uint8_t> bytes, const CatPortFaults& faults);
  // One command without its ';': its reply, empty for none.
  std::string answer(std::string_view command, const CatPortFaults& faults);
  // With auto-information on: a message for each VFO whose frequency the station changed
  // since the last look. With it off the changes are only taken note of.
  std::vector<std::string> autoInformation(const CatPortFaults& faults);
  bool autoInformationOn() const { return autoInformation_; }
  // The device was unplugged: a command under way is lost, auto-information is off again.
  void unplugged();

  CatPortCounters& counters() { return counters_; }
  const CatPortCounters& counters() const { return counters_; }

 private:
  std::string read(std::string_view letters);
  bool set(std::string_view letters, std::string_view value);
  void noteSent(std::string_view reply);

  Station& station_;
  CatPortCounters counters_;
  std::string pending_;
  bool overlong_ = false;
  bool autoInformation_ = false;
  uint32_t seenA_ = 0;
  uint32_t seenB_ = 0;
};

struct CatPortOptions {
  std::filesystem::path root;         // the bench root (absolute)
  std::string port = "/dev/ttyUSB0";  // taken under root
  // A second device that never answers, e.g. "/dev/ttyUSB1" (under root); empty: none.
  std::string silentPort;
  bool watchFaultsFile = true;
  std::shared_ptr<Station> station;  // a new one when empty
};

class CatPortSimulator {
 public:
  explicit CatPortSimulator(CatPortOptions options);
  ~CatPortSimulator();
  CatPortSimulator(const CatPortSimulator&) = delete;
  CatPortSimulator& operator=(const CatPortSimulator&) = delete;

  // Opens and links the lines and starts the thread; false (with error) on failure.
  // With cat-gone already set the device starts unplugged.
  bool start(std::string& error);
  void stop();

  Station& station() { return *station_; }
  std::shared_ptr<Station> sharedStation() const { return station_; }
  std::filesystem::path linkPath() const;
  std::filesystem::path silentLinkPath() const;  // empty without a silent device
  // The pseudo-terminal behind the link ("/dev/pts/N"); empty while unplugged.
  std::string slavePath() const;

  void setFaults(CatPortFaults faults);
  CatPortFaults faults() const;  // the API's and the faults file's together
  CatPortCounters counters() const;

 private:
  struct Piece {
    std::string bytes;
    std::chrono::steady_clock::time_point notBefore;
  };

  void run();
  void readFaultsFile();
  void plug(bool in);
  void queue(const std::vector<std::string>& replies, bool pieces);
  void writeDue();

  CatPortOptions options_;
  std::shared_ptr<Station> station_;

  mutable std::mutex mutex_;  // faults, counters, the radio, the lines' presence
  CatPortFaults apiFaults_;
  CatPortFaults fileFaults_;
  CatPortRadio radio_;
  std::optional<TrxLine> line_;
  std::optional<TrxLine> silent_;

  // Only the thread touches this.
  std::deque<Piece> out_;

  TrxWaker waker_;
  std::atomic<bool> stopRequested_{false};
  // Last: ended first, so the thread ends before the state it uses.
  std::thread thread_;
};

}  // namespace corvid::bench

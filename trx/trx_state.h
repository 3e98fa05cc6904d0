// Fields of the shared record owned by the transceiver links.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>

namespace corvid {

namespace platform {
class ByteStream;
class SerialPort;
}  // namespace platform

struct Works;

// The decoded state of the maker's transceiver, as the EXT IO link last reported it.
// Signed 32-bit fields in the order of the record; the frequencies are unsigned, since
// eight hexadecimal digits fill all 32 bits.
struct PexParams {
  int32_t flagA = 0;
  int32_t vfoB = 0;      // 1: VFO B is the active one
  int32_t valueIsB = 0;  // 1: the frequency of the last record was VFO B's
  uint32_t freq = 0;     // Hz: the frequency the amplifier follows
  uint32_t freqValue = 0;
  uint32_t freqA = 0;
  uint32_t freqB = 0;
  uint32_t freqMemory = 0;
  uint32_t freqRxPrev = 0;
  uint32_t freqRx = 0;
  int transmit = 0;  // 1 while the transceiver transmits
  int32_t split = 0;
  int32_t flagC = 0;
  int32_t mode = 0;  // mode of the active VFO
  int32_t modeValue = 0;
  int32_t modeA = 0;
  int32_t modeB = 0;
  int32_t volumeTarget = 0;  // which volume byte 22 carries: 0 main, 1 aux, else side
  int32_t signA = 0;
  int32_t signB = 0;
  int32_t signC = 0;
  int32_t audioGate = 0;  // +1: the remote client's audio may play, -1: not
  int32_t squelch = 0;
  int32_t filterKind = 0;
  int32_t filterC = 0;
  int32_t filterA = 0;
  int32_t filterB = 0;
  int32_t filterIndex = 0;
  int32_t nr = 0;
  int32_t nb = 0;
  int32_t flagD = 0;
  int32_t flagE = 0;
  int32_t setting1 = 0;
  int32_t setting2 = 0;
  int32_t setting3 = 0;
  int32_t setting4 = 0;
  int32_t setting5 = 0;
  int32_t att = 0;
  int32_t lp = 0;
  int32_t antenna = 0;
  int32_t flagF = 0;
  int32_t volume = 0;
  int32_t volumeAux = 0;
  int32_t volumeSide = 0;
  int32_t shiftHz = 2500;  // until the first record clears the whole record
  int32_t level = 0;
  int32_t offsetHz = 0;
  int antennaInput = 0;  // antenna input it reports, 0-based
  int pttOut = 0;        // 1 when it asks for PTT out
  int32_t memory = 0;    // 1: the frequency is a memory channel's
  int32_t flagsAB = 0;

  bool operator==(const PexParams&) const = default;
};

// Points of the transceiver's spectrum kept for the panel: one per display column.
inline constexpr size_t kPexSpectrumPoints = 854;

// Calls from the EXT IO link into the remote server; app/ fills them in, an empty one is
// skipped. They are called without serMut held.
struct TrxHooks {
  // The parameter payload, unchanged ("SR" message of the remote client).
  void (*sendWebSockSerParFrame)(Works&, std::span<const uint8_t> payload) = nullptr;
  // The client spectrum, one byte per column ("SP").
  void (*sendWebSockSerSpectrFrame)(Works&, std::span<const uint8_t> spectrum) = nullptr;
  // The transceiver closed its audio gate: the remote playback starts over.
  void (*resetRemotePlayback)(Works&) = nullptr;
};

struct TrxState {
  // Requests of the maker's transceiver over EXT IO (bit 0x10 antenna asked, 0x20 done).
  std::atomic<uint8_t> pexTxRequest{0};
  std::atomic<int> pexTxHold{0};
  std::atomic<uint8_t> pexRequests{0};      // 0x01 PTT-out wanted, 0x02 PTT-out to send
  std::atomic<int> pexPowerValue{0};        // drive power to ask for, mW
  std::atomic<uint8_t> pexPowerRequest{0};  // 0x01: send the drive power, 0x02: sent
  std::atomic<uint32_t> catSerFreq{0};      // FT-817 frequency, Hz
  mutable std::mutex serMut;                // guards pex, pexDecoded and pexLevels
  PexParams pex;                            // under serMut
  bool pexDecoded = false;                  // under serMut: a record has come since start
  // Levels of the transceiver's last FFT, dB (byte - 192), one per display column.
  std::array<float, kPexSpectrumPoints> pexLevels{};  // under serMut

  // The FT-817 polling machine: 3 send, 2 receive, 1 decode; the opcode of the request
  // awaiting its reply (3, or 0 once handled); idle milliseconds since the last request.
  std::atomic<int> catProcessStatus{3};
  std::atomic<int> lastCommandSent{0};
  std::atomic<int> counterimeoutCAT{0};

  // What the links have seen, for the bench's figures.
  std::atomic<uint32_t> extIoRecords{0};    // parameter records decoded
  std::atomic<uint32_t> extIoSpectra{0};    // FFT messages stored
  std::atomic<uint32_t> extIoDropped{0};    // records or spectra dropped: serMut busy
  std::atomic<uint32_t> catSerReplies{0};   // FT-817 replies decoded
  std::atomic<uint32_t> catSerRejected{0};  // FT-817 replies with a non-BCD byte
  std::atomic<uint32_t> catSerTimeouts{0};  // FT-817 requests without a reply

  // The CAT port while the CAT link holds it open, so that the service keyboard can
  // switch its modem lines; the link sets and clears it under the lock.
  std::mutex catPortMutex;
  platform::SerialPort* catPort = nullptr;  // under catPortMutex
  std::atomic<int> statusCat{0};            // 0 while the CAT link searches, 1 relaying

  // The EXT IO port while its link runs, for the remote client's "SC" and "PA" messages;
  // every write to it (the link's own too) takes the lock, so commands never interleave.
  std::mutex serPortMutex;
  platform::ByteStream* serPort = nullptr;  // under serPortMutex

  TrxHooks hooks;
};

}  // namespace corvid

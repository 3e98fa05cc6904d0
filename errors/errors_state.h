// Fields of the shared record owned by the error registry.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace corvid {

struct Works;

// The errors, warnings and alarms, by their number. The number is what the status text
// sends to the remote client (plus one) and what the error boxes are ordered by.
enum class Err : uint8_t {
  Temp1Recovered = 0,  // sensor 1 back below its limit after its alarm
  HighSwr = 1,
  Temp1Alarm = 2,  // sensor 1 above MaxTemperature
  InputPower = 3,
  Comm = 4,  // a command of the amplifier link failed four times
  RemoteUsb = 5,
  AudioMissing = 6,
  PexModeOff = 7,  // remote operation: the transceiver's mode is not active
  ExtIoLost = 8,   // the EXT IO link fell silent while it gives the frequency
  AudioRead = 9,
  AudioWrite = 10,
  WebSocket = 11,  // has a record; never raised
  TuneTimeout = 12,
  TuneSwrWarning = 13,
  TunePexAbort = 14,  // the transceiver ended the tuning
  AmpAlarm = 15,      // amplifier alarm bits 0-4, the alarm's name as detail
  MicroReset = 16,
  CmdNotAvailable = 17,
  TuneMaxSwr = 18,
  BandStandby = 19,
  RemoteCat = 20,
  Temp2Recovered = 21,
  Temp2Alarm = 22,
  Temp1Warning = 23,
  Temp2Warning = 24,
  ExtIoPortOpen = 25,  // the EXT IO port cannot be opened; stays for the whole run
  SocketClosed = 26,   // has a record; never raised
  TuneLowPower = 27,
};

inline constexpr int kErrorCount = 28;  // error numbers 0..27

constexpr int errorNumber(Err e) {
  return static_cast<int>(e);
}

// Flag bits of an error record.
inline constexpr uint8_t kErrorRed = 0x01;         // red box, else orange
inline constexpr uint8_t kErrorProtection = 0x02;  // raising it asks for the protection recovery
inline constexpr uint8_t kErrorTemporary = 0x04;   // the reset key removes it

// Bits of errorActions.
inline constexpr uint8_t kActionRecovery = 0x01;        // protection recovery pending
inline constexpr uint8_t kActionDisplayCleared = 0x02;  // the recovery has been sent
inline constexpr uint8_t kActionTemporary = 0x04;       // temporary warnings pending

struct ErrorInfo {
  uint8_t flags = 0;
  std::string title;   // at most 29 characters
  std::string detail;  // at most 29 characters
};

// The raised errors, oldest first, and their records. Errors are raised and cleared
// from several threads; every operation takes the registry's lock.
class ErrorRegistry {
 public:
  mutable std::mutex mutex;
  std::vector<Err> list;                    // under mutex; never holds an error twice
  std::array<ErrorInfo, kErrorCount> info;  // under mutex
};

// Calls from the error handling into the amplifier link above it; app/ fills them in.
struct ErrorsHooks {
  void (*InitMicroCmd)(Works&) = nullptr;  // the amplifier's start-up commands
};

struct ErrorsState {
  ErrorsHooks hooks;
  std::atomic<uint8_t> errorsMuted{0};  // bit 0: no error can be raised
  std::atomic<uint8_t> errorActions{0};
  ErrorRegistry registry;
};

}  // namespace corvid

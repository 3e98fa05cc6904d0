// Fields of the shared record owned by the error registry.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace corvid {

inline constexpr int kErrorCount = 28;  // error numbers 0..27

// Flag bits of an error record.
inline constexpr uint8_t kErrorRed = 0x01;        // red box, else orange
inline constexpr uint8_t kErrorProtection = 0x02; // raising it asks for the protection recovery
inline constexpr uint8_t kErrorTemporary = 0x04;  // the reset key removes it

// Bits of errorActions.
inline constexpr uint8_t kActionRecovery = 0x01;      // protection recovery pending
inline constexpr uint8_t kActionDisplayCleared = 0x02;  // the recovery has been sent
inline constexpr uint8_t kActionTemporary = 0x04;     // temporary warnings pending

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
  std::vector<int> list;                   // under mutex; never holds a number twice
  std::array<ErrorInfo, kErrorCount> info; // under mutex
};

struct ErrorsState {
  std::atomic<uint8_t> errorsMuted{0};   // bit 0: no error can be raised
  std::atomic<uint8_t> errorActions{0};
  ErrorRegistry registry;
};

}  // namespace corvid

// Fields of the shared record owned by the network, update and information services.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/guarded_text.h"

namespace corvid {

// The unit's Ethernet settings as /opt/set/interfaces gives them (the texts) and as the
// LAN menu edits them (the four numbers of each address).
struct LanAddresses {
  std::string IP;  // at most 31 characters each
  std::string NetMask;
  std::string Gateway;
  std::string DNS;
  std::string MAC;  // only ever cleared
  std::array<uint8_t, 4> IP_v{};
  std::array<uint8_t, 4> NetMask_v{};
  std::array<uint8_t, 4> Gateway_v{};
  std::array<uint8_t, 4> DNS_v{};
  uint8_t Gateway_none = 0;  // 1: the file had no gateway
  uint8_t DNS_none = 0;      // 1: the file had no name server
};

// Read at start-up, edited by the key thread, shown by the display loop: every access
// takes the lock.
class LanSettings {
 public:
  LanAddresses get() const {
    std::scoped_lock lock(mutex_);
    return values_;
  }
  void set(const LanAddresses& values) {
    std::scoped_lock lock(mutex_);
    values_ = values;
  }

 private:
  mutable std::mutex mutex_;
  LanAddresses values_;
};

// updateAvailable.
inline constexpr uint8_t kUpdateNone = 0;
inline constexpr uint8_t kUpdateSoftware = 1;       // newer software on offer
inline constexpr uint8_t kUpdateSoftwareAndFw = 2;  // and newer amplifier firmware

struct SystemState {
  LanSettings lan;
  GuardedText<32> lanStatusText;  // the connection state line; "No Conn" until my_vorn answers
  std::atomic<uint8_t> updateAvailable{kUpdateNone};
  std::atomic<uint8_t> lanInfoRunning{0};  // 1 while the LAN information thread runs
  std::atomic<int64_t> lanInfoTime{0};     // time() when the last LAN information run ended
  std::atomic<int32_t> offeredFwMajor{0};  // amplifier firmware on offer
  std::atomic<int32_t> offeredFwMinor{0};
  std::atomic<int32_t> updateResult{0};   // 0 success, an error number, -1 no result line
  GuardedText<128> updateErrorText;       // the line before the error line; "0" while running
  std::atomic<uint8_t> myVornMissing{0};  // my_vorn could not be started (logged once)
};

}  // namespace corvid

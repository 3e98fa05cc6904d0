// Fields of the shared record owned by the front panel: keys and power controller,
// display loop, menus and screens.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "core/guarded_text.h"
#include "platform/thread.h"

namespace corvid {

// The screens of the key state machine; 5 is never entered.
enum class PanelState : int {
  Main = 0,
  MenuBrowse = 1,
  MenuEdit = 2,
  Tune = 3,
  ManualTune = 4,
  MemoryTable = 6,
  MemoryTableEdit = 7,
  SaveTune = 8,
  BankChoice = 9,
  BankCopy = 10,
  BankReset = 11,
  FilterList = 12,
  FilterEdit = 13,
  StatusPage = 14,
  SpectrumList = 15,
  SpectrumEdit = 16,
};

// Bits of pageFlags: the full-screen pages drawn instead of the main screen.
inline constexpr int kPageStatus = 1 << 0;
inline constexpr int kPageMemoryTable = 1 << 1;
inline constexpr int kPageFilters = 1 << 2;
inline constexpr int kPageSpectrum = 1 << 3;

// Bits of noticeFlags: the notice line of the main and tune screens.
inline constexpr uint32_t kNoticeLongPress = 1u << 0;       // "Entering second function..."
inline constexpr uint32_t kNoticeBypassNotSaved = 1u << 1;  // "ATU ByPass not saved!"
inline constexpr uint32_t kNoticeRemoteError = 1u << 2;     // "Set to Local: Remote Error"
inline constexpr uint32_t kNoticeUpdate = 1u << 3;          // a software update was asked for
inline constexpr uint32_t kNoticeLocked = 1u << 4;          // "Locked operation."
inline constexpr uint32_t kNoticeTuneNotEnabled = 1u << 5;  // "TUNE not Enabled."
inline constexpr uint32_t kNoticeBypassActive = 1u << 6;    // "ByPass active."
inline constexpr uint32_t kNoticeWaitingForTune = 1u << 7;  // "Waiting for Tune..."

// Bits of serviceFlags: the service items of the menu.
inline constexpr uint32_t kServiceFirmwareUpdate = 1u << 0;   // armed: the update line is low
inline constexpr uint32_t kServiceRemoteShell = 1u << 1;      // the remote service is armed
inline constexpr uint32_t kServiceFirmwareStarted = 1u << 2;  // the micro waits for its programmer
inline constexpr uint32_t kServiceSoftwareUpdate = 1u << 3;   // a software update is armed

// The views of the main screen, as the ViewType and ViewTX settings store them.
inline constexpr int kViewReflected = 1;     // forward and reflected power
inline constexpr int kViewSwr = 2;           // forward power and SWR
inline constexpr int kViewInput = 3;         // forward and input power
inline constexpr int kViewSpectrum = 4;      // spectrum and waterfall, 160 kHz
inline constexpr int kViewSpectrumZoom = 5;  // the middle 80 kHz

// Command bytes of the power controller, as they go over its GPIO link. The low three
// bits say where the reply goes: 0 the version, 1 to 3 the supply readings, 5 the status.
enum class TinyCode : uint8_t {
  PowerOff = 0x85,
  ForceRemote = 0x95,
  ForceLocal = 0xA5,
  Version = 0xB0,  // the first exchange after start
  Loading = 0xB5,  // the fifth step of the start-up countdown
  Started = 0xC5,  // the controller runs (also sent before a reboot)
  PollVersion = 0xD0,
  PollV12 = 0xD1,
  PollV15 = 0xD2,
  PollVamp = 0xD3,
};
constexpr uint8_t tinyByte(TinyCode code) {
  return static_cast<uint8_t>(code);
}
inline constexpr uint8_t kTinyIdle = 0xFF;  // tinyTransfer: no exchange running

// The key labels (Novamenu): one record per panel state, with two text lines for each of
// the six keys and a flags byte (bit 0: key 1 has a long-press action, bit 5: key 6).
// The screens fill it; the tuner rewrites a few lines of its own screens. Any thread
// may write a line; each access takes the table's lock.
class KeyLabels {
 public:
  static constexpr int kRecords = 20;
  static constexpr size_t kWidth = 12;  // bytes of a line, terminating NUL included

  // key 1..6, line 1..2; a longer text is cut to 11 characters. Out-of-range places
  // are ignored (and read as empty).
  void set(PanelState state, int key, int line, std::string_view text) {
    Place p;
    if (!place(state, key, line, p)) return;
    std::scoped_lock lock(mutex_);
    auto& field = text_[p.record][p.field];
    const size_t n = std::min(text.size(), kWidth - 1);
    std::copy_n(text.data(), n, field.data());
    std::fill(field.begin() + static_cast<long>(n), field.end(), '\0');
  }
  std::string get(PanelState state, int key, int line) const {
    Place p;
    if (!place(state, key, line, p)) return {};
    std::scoped_lock lock(mutex_);
    return std::string(text_[p.record][p.field].data());
  }
  void setFlags(PanelState state, uint8_t flags) {
    Place p;
    if (!place(state, 1, 1, p)) return;
    std::scoped_lock lock(mutex_);
    flags_[p.record] = flags;
  }
  uint8_t flags(PanelState state) const {
    Place p;
    if (!place(state, 1, 1, p)) return 0;
    std::scoped_lock lock(mutex_);
    return flags_[p.record];
  }

 private:
  struct Place {
    size_t record = 0;
    size_t field = 0;
  };
  static bool place(PanelState state, int key, int line, Place& p) {
    const int r = static_cast<int>(state);
    if (r < 0 || r >= kRecords || key < 1 || key > 6 || line < 1 || line > 2) return false;
    p.record = static_cast<size_t>(r);
    p.field = static_cast<size_t>((key - 1) * 2 + (line - 1));
    return true;
  }

  mutable std::mutex mutex_;
  std::array<std::array<std::array<char, kWidth>, 12>, kRecords> text_{};
  std::array<uint8_t, kRecords> flags_{};
};

struct UiState {
  // Power controller link.
  std::atomic<uint8_t> tempflag_processextREMLOCOFF{0};  // priority command, 0 none
  std::atomic<int> shutdownState{0};      // 0 none, 1 armed, 2 key released, 3 power-off sent
  std::atomic<uint32_t> serviceFlags{0};  // kService* bits
  std::atomic<int> startupKeysMenu{0};
  std::atomic<int> redrawWorkImg{0};
  std::atomic<PanelState> panelState{PanelState::Main};
  std::atomic<int> pageFlags{0};  // kPage* bits: a full-screen page is shown
  std::atomic<uint8_t> screenSaverOn{0};
  std::atomic<uint32_t> noticeFlags{0};  // kNotice* bits: notices shown on the panel
  KeyLabels Novamenu;
  std::atomic<int> frameDelay{0};        // µs between display cycles
  std::atomic<uint32_t> trxFreq{0};      // operating frequency, Hz
  std::atomic<uint32_t> lastTrxFreq{0};  // last frequency the follow-up handled
  std::atomic<int> savedViewType{0};     // -1 none yet
  GuardedText<32> dateTimeText;          // local time, "%Y-%m-%d %H:%M:%S"
  // Command byte being exchanged with the power controller now; kTinyIdle none.
  std::atomic<uint8_t> tinyTransfer{0};
  // Raw converter readings the power controller reports.
  std::atomic<uint8_t> tinyV12{0};
  std::atomic<uint8_t> tinyV15{0};
  std::atomic<uint8_t> tinyVamp{0};
  // Steps of the bar meters. The link thread sets the forward scale when the amplifier
  // tells its model; the display loop reads them every frame.
  std::atomic<int> number_ofStep_meter_FWD{0};
  std::atomic<int> number_ofStep_meter_REFL{0};
  std::atomic<int> number_ofStep_meter_SWR{0};
  std::atomic<int> number_ofStep_meter_PW{0};
  // Step of the manual tune editor and edit cursors of the network menu.
  std::atomic<int> StepTune1{0};
  std::atomic<int> CntIP{0};
  std::atomic<int> CntDNS{0};
  std::atomic<int> CntNetMask{0};
  std::atomic<int> CntGateway{0};

  // Menu cursor: the item, its sub-item (always 0) and the number of items.
  std::atomic<int> menuSection{0};
  std::atomic<int> menuItem{0};
  std::atomic<int> menuSectionCount{0};
  // The LAN address the menu line shows now (0 IP, 1 net mask, 2 gateway, 3 name server,
  // -1 none) and the octet under its cursor (0..3); set by LoadParameterMenu.
  std::atomic<int> lanEditAddress{-1};
  std::atomic<int> lanEditIndex{0};

  // Cursors and edit copies of the table screens.
  std::atomic<int> saveBank{0};
  std::atomic<int> saveAntenna{0};
  std::atomic<int> copySource{0};
  std::atomic<int> copyTarget{0};
  std::atomic<int> resetTarget{0};
  std::atomic<int> tableRow{0};
  std::atomic<int> tableColumn{-1};
  std::atomic<int> filterRow{0};
  std::atomic<int> filterColumn{0};
  std::atomic<int> filterStepIndex{0};
  std::atomic<int> filterEditStart{0};
  std::atomic<int> filterEditStop{0};
  std::atomic<int> filterEditEnabled{0};
  std::atomic<int> filterEditStatus{0};  // 0 none, 1 saved, 2 stop below start, 3 refused
  std::atomic<int> plotRow{0};
  std::atomic<int> plotColumn{0};
  std::atomic<double> plotEditOffset{0};
  std::atomic<int> plotEditLevel{0};
  std::atomic<int> plotEditPos{0};
  std::atomic<int> plotEditDiv{0};
  // Bit 7: the spectrum settings apply to one band ("Single"), clear: to all; bit 0: the
  // menu's "Modify" choice for the spectrum settings page.
  std::atomic<uint8_t> plotConfigType{0};

  // Manual tuning and the carrier test.
  std::atomic<uint8_t> manualTuneFlag{0};
  std::atomic<uint8_t> txTestFlags{0};
  // Set by the view key: the display loop starts its meter needles and peaks afresh.
  std::atomic<uint8_t> needleReset{0};

  // Menu confirmations and choices.
  std::atomic<uint8_t> filterPageRequest{0};  // the "Modify" choice of the filter item
  std::atomic<uint8_t> factoryDefaultArmed{0};
  std::atomic<uint8_t> advancedDefaultArmed{0};
  std::atomic<uint8_t> turnOffArmed{0};
  std::atomic<uint8_t> remoteError{0};  // the last switch to remote failed: "Remote" in red

  // A menu action that waits (an update, the service shell, a reboot) runs here, so that
  // the key thread goes on with the power controller and the power key meanwhile. Only
  // the key thread starts and joins it.
  platform::Thread serviceTask;
  std::atomic<uint8_t> serviceTaskRunning{0};
};

}  // namespace corvid

// Fields of the shared record owned by the front panel: keys and power controller,
// display loop, menus and screens.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/guarded_text.h"

namespace corvid {

struct Works;

// Calls from the panel thread into the screens; app/ fills them in.
struct UiHooks {
  // A key event: key 1..6 and the mask of held keys (0 for a short press on release).
  int (*DecodeTasto)(Works&, int key, int heldMask) = nullptr;
  // The keys, labels, parameters and error boxes of the current screen.
  void (*LoadButtons)(Works&) = nullptr;
  // The spectrum view (grid, trace, waterfall).
  void (*drawSpectrum)(Works&) = nullptr;
  // The status frame to a logged-in remote client.
  void (*sendStatus)(Works&) = nullptr;
  // Second label line of a key of a screen state.
  void (*setKeyLabel)(Works&, int panelState, int key, const char* text) = nullptr;
};

struct UiState {
  UiHooks hooks;
  // Power controller link.
  std::atomic<uint8_t> tempflag_processextREMLOCOFF{0};  // priority command, 0 none
  std::atomic<int> shutdownState{0};  // 0 none, 1 armed, 2 key released, 3 power-off sent
  std::atomic<uint32_t> serviceFlags{0};  // bit 0: amplifier firmware update armed
  std::atomic<int> startupKeysMenu{0};
  std::atomic<int> redrawWorkImg{0};
  std::atomic<int> panelState{0};         // screen state of the key machine
  std::atomic<int> pageFlags{0};          // a full-screen page is shown
  std::atomic<uint8_t> screenSaverOn{0};
  std::atomic<uint32_t> noticeFlags{0};   // notices shown on the panel
  std::atomic<int> frameDelay{0};  // µs between display cycles
  std::atomic<uint32_t> trxFreq{0};      // operating frequency, Hz
  std::atomic<uint32_t> lastTrxFreq{0};  // last frequency the follow-up handled
  std::atomic<int> savedViewType{0};     // -1 none yet
  GuardedText<32> dateTimeText;          // local time, "%Y-%m-%d %H:%M:%S"
  // Command byte being exchanged with the power controller now; 0xFF idle.
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
};

}  // namespace corvid

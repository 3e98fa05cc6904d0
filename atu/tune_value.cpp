// The packed tune value: where each relay bit of L and C lives, and the network mode.
#include <array>
#include <cstdio>
#include <cstring>

#include "atu/atu.h"
#include "core/works.h"
#include "platform/log.h"

namespace corvid {

namespace {
// Bit of the tune value that carries bit i of the step.
constexpr std::array<int, 9> kCBits = {15, 2, 4, 6, 14, 12, 10, 8, 20};
constexpr std::array<int, 9> kLBits = {1, 3, 5, 7, 13, 11, 9, 19, 21};

uint32_t scatter(int step, const std::array<int, 9>& bits) {
  uint32_t value = 0;
  for (size_t i = 0; i < bits.size(); ++i) {
    if ((step >> i) & 1) value |= 1u << bits[i];
  }
  return value;
}

int gather(uint32_t value, const std::array<int, 9>& bits) {
  int step = 0;
  for (size_t i = 0; i < bits.size(); ++i) {
    if ((value >> bits[i]) & 1u) step |= 1 << i;
  }
  return step;
}
}  // namespace

uint32_t encodeC(int c) {
  return scatter(c & 0x1FF, kCBits);
}
uint32_t encodeL(int l) {
  return scatter(l & 0x1FF, kLBits);
}

void SetC(Works& works, int c) {
  const uint32_t v = works.atu.tuneValue.load();
  works.atu.tuneValue = (v & ~kTuneCMask) | encodeC(c);
}

void SetI(Works& works, int l) {
  const uint32_t v = works.atu.tuneValue.load();
  works.atu.tuneValue = (v & ~kTuneLMask) | encodeL(l);
}

const char* modeLabel(int mode) {
  switch (mode) {
    case 1:
      return "CL";
    case 2:
      return "LC";
    default:
      return "ByP";
  }
}

void SetMode(Works& works, int mode) {
  AtuState& atu = works.atu;
  atu.tuneMode = static_cast<uint8_t>(mode);
  const uint32_t v = atu.tuneValue.load() & ~kTuneModeMask;
  const char* label = nullptr;
  switch (mode) {
    case 1:
      atu.tuneValue = v | kModeCL;
      atu.tunerBypassed = 0;
      label = "CL";
      break;
    case 2:
      atu.tuneValue = v | kModeLC;
      atu.tunerBypassed = 0;
      label = " LC";
      break;
    case 0:
    case 3:
      atu.tuneValue = v | kModeBypass;
      atu.tunerBypassed = 1;
      label = "ByP";
      break;
    default:
      return;
  }
  if (works.ui.panelState.load() == PanelState::ManualTune) {
    works.ui.Novamenu.set(PanelState::ManualTune, 1, 2, label);
  }
}

int DecodeCapacitaFromTuneval(uint32_t value) {
  return gather(value, kCBits);
}
int DecodeInduttanzaFromTuneval(uint32_t value) {
  return gather(value, kLBits);
}

int DecodeModoFromTuneval(uint32_t value) {
  switch (value & kTuneModeMask) {
    case 0:
      return 0;
    case kModeCL:
      return 1;
    case kModeLC:
      return 2;
    case kModeBypass:
      return 3;
    default:
      platform::trace("DecodeModoFromTuneval -> tune: 0x%x \n", value & kTuneModeMask);
      return 0;
  }
}

void ReadTnePar(Works& works) {
  AtuState& atu = works.atu;
  const uint32_t v = atu.tuneValue.load();
  atu.tuneC = DecodeCapacitaFromTuneval(v);
  atu.tuneL = DecodeInduttanzaFromTuneval(v);
  const int mode = DecodeModoFromTuneval(v);
  atu.tuneMode = static_cast<uint8_t>(mode);
  if (mode == 0) SetMode(works, 3);
}

void DetermineTumeMemMode(const Works& works, char label[4]) {
  std::snprintf(label, 4, "%s", modeLabel(DecodeModoFromTuneval(works.atu.tuneValue.load())));
}

void ImpostaLblManuale(Works& works) {
  AtuState& atu = works.atu;
  if (works.ui.panelState.load() != PanelState::ManualTune) return;
  KeyLabels& labels = works.ui.Novamenu;
  char text[32];
  std::snprintf(text, sizeof text, "     %u", static_cast<unsigned>(atu.tuneL.load()));
  labels.set(PanelState::ManualTune, 3, 2, text);
  std::snprintf(text, sizeof text, "     %u", static_cast<unsigned>(atu.tuneC.load()));
  labels.set(PanelState::ManualTune, 5, 2, text);
  labels.set(PanelState::ManualTune, 1, 2, modeLabel(DecodeModoFromTuneval(atu.tuneValue.load())));
}

}  // namespace corvid

#include "ui/screens.h"

#include "core/works.h"

namespace corvid {

// The screens come next.
void initKeyLabels(Works&) {}
void LoadButtons(Works&) {}
void DrawParameters(Works&) {}
void ViewStatusInfo(Works&) {}
void ViewStatusTX(Works&) {}
void DrawError(Works&) {}
void DrawTastoErrore(Works&, int, int, int) {}
void SetModeWorkLabel(Works&) {}
void SetFilterStepLbl(Works&) {}
void LabelByPassATU(Works&) {}
void LabelSAVEATU(Works&) {}
void LblCOPY(Works&) {}
void LblRESET(Works&) {}
void LblMenuAntenna(Works&) {}
std::string GetLblInterface(int) {
  return "";
}
const char* panelStateName(PanelState) {
  return "";
}

}  // namespace corvid

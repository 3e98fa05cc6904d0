// The panel's screens: the key bar with its labels, the parameter area of every state and
// page, the status page, the transmit marker and the error boxes.
#pragma once

#include <string>

#include "ui/ui_state.h"

namespace corvid {

struct Works;

// The key labels and flags every state starts with.
void initKeyLabels(Works& works);

// The whole overlay of one frame: key bar, labels, DrawParameters, DrawError,
// ViewStatusInfo, ViewStatusTX.
void LoadButtons(Works& works);
void DrawParameters(Works& works);
void ViewStatusInfo(Works& works);
void ViewStatusTX(Works& works);
void DrawError(Works& works);
void DrawTastoErrore(Works& works, int xLeft, int xRight, int listPosition);

// Run-time labels; each writes only in its own state.
void SetModeWorkLabel(Works& works);
void SetFilterStepLbl(Works& works);
void LabelByPassATU(Works& works);
void LabelSAVEATU(Works& works);
void LblCOPY(Works& works);
void LblRESET(Works& works);
void LblMenuAntenna(Works& works);

// The interface name of type 0..2 ("" for others).
std::string GetLblInterface(int type);

// A short name of a panel state, for logs and the bench ("main", "menu", ...).
const char* panelStateName(PanelState state);

}  // namespace corvid

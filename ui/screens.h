// The panel's screens: the key bar with its labels, the parameter area of every state and
// page, the status page, the transmit marker and the error boxes.
//
// Everything here draws into the back buffer of works.gfx.fb and runs in the display
// loop thread (and once in main before the loop starts); each frame is drawn from works
// anew, so a frame that catches a state in transition is corrected by the next one.
#pragma once

#include <array>
#include <string>

#include "ui/ui_state.h"

namespace corvid {

struct Works;
struct BandRow;

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

// The step texts of the filter editor, by filterStepIndex.
inline constexpr const char* StepLBLFilter[4] = {"10kHz", "100kHz", "1MHz", "10MHz"};

// ---- the texts the screens show, as they are drawn ----

// Where the error at a list position (0 the oldest) of count listed errors is drawn:
// its box slot 0..5 from the left, or -1 when it is not shown.
int errorBoxSlot(int count, int position);

// The seven info boxes of the main screen, left to right: interface, coax, band,
// attenuator, antenna, tuner, operating mode.
std::array<std::string, 7> infoBoxTexts(const Works& works);
// The two supply boxes: temperatures, and supply voltage and current.
std::string temperatureBoxText(const Works& works);
std::string supplyBoxText(const Works& works);
// The notice line of the main and tune screens ("" when there is none).
std::string noticeText(const Works& works);
// The update line of the menu while an update was asked for.
std::string updateNoticeText(const Works& works);
// The cells of one memory table row r (0-based), at the columns N, Band, PwrIn,
// Att(dB), AmpEnable, Ant, Atu.
std::array<std::string, 7> memoryTableCells(const BandRow& row, int r);
// The values of the status page's twelve rows, top down.
std::array<std::string, 12> statusPageValues(const Works& works);

}  // namespace corvid

// The key bar and its labels, the error boxes and the transmit marker. The parameter
// area and the pages are in ui/pages.cpp.
#include "ui/screens.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "atu/atu.h"
#include "atu/follow.h"
#include "bands/bands.h"
#include "core/works.h"
#include "errors/errors.h"
#include "ui/menu.h"
#include "ui/screen_draw.h"

namespace corvid {

using namespace screen;

namespace {

using S = PanelState;

// ---- the labels every state starts with ----

struct KeyText {
  const char* line1;
  const char* line2;
};
struct LabelRow {
  PanelState state;
  std::array<KeyText, 6> keys;
  uint8_t flags;  // bit 0: key 1 has a long press, bit 5: key 6
};

// Texts keep their leading blanks: they place the label inside its key.
// clang-format off
constexpr std::array<LabelRow, 16> kInitialLabels{{
    {S::Main,
     {{{"  MEM", ""}, {" IN-ATT", ""}, {"   ANT", ""}, {"  TUNE", " "}, {"   SET", " "},
       {"   VIEW ", " 1 "}}},
     0x21},
    {S::MenuBrowse,
     {{{" BACK ", " "}, {"  ", " "}, {"    UP", " "}, {"  DOWN", " "}, {" ", " "},
       {"  ENTER", " "}}},
     0},
    {S::MenuEdit,
     {{{" ", " "}, {"      <", " "}, {"      >", " "}, {"      - ", " "}, {"     + ", " "},
       {"  ENTER", " "}}},
     0},
    {S::Tune,
     {{{" BACK ", " "}, {" TUNE F", "   Off"}, {"  TUNE", "   Off"}, {"   ATU", " "},
       {"   ", " "}, {"MANUAL", "Tune"}}},
     0},
    {S::ManualTune,
     {{{" BACK ", " "}, {" down L", " "}, {"   up L", " "}, {" down C", " "}, {"   up C", " "},
       {"STARTTX", " "}}},
     0x01},
    {S::MemoryTable,
     {{{" BACK", "PWROFF"}, {" INTERF", " "}, {"    UP", " "}, {"  DOWN", " "},
       {"   UTIL", " "}, {" ENTER", " "}}},
     0x01},
    {S::MemoryTableEdit,
     {{{"BACK", " "}, {"     < ", " "}, {"      > ", " "}, {"      - ", " "}, {"     + ", " "},
       {"SAVE", " "}}},
     0},
    {S::SaveTune,
     {{{"  ESC", " "}, {"  BANK", ""}, {"   ANT", ""}, {" ", " "}, {" ", " "},
       {"   SAVE", " "}}},
     0},
    {S::BankChoice,
     {{{"BACK", " "}, {"  COPY", " "}, {"   RESET", " "}, {"  ", " "}, {" ", " "},
       {" ", " "}}},
     0},
    {S::BankCopy,
     {{{"BACK", " "}, {" ORIGIN", " "}, {"  DEST", " "}, {"  ", " "}, {" ", " "},
       {" START", "COPY"}}},
     0},
    {S::BankReset,
     {{{"BACK", " "}, {" BANK", " "}, {"  ", " "}, {"  ", " "}, {" ", " "},
       {" START", "RESET"}}},
     0},
    {S::FilterList,
     {{{" ESC", " "}, {"    ", " "}, {"     UP", " "}, {"  DOWN", " "}, {" ", " "},
       {"  ENTER", " "}}},
     0},
    {S::FilterEdit,
     {{{" BACK", " "}, {"   NEXT", " "}, {"   STEP", " "}, {"      -", " "}, {"       +", " "},
       {"   SAVE", " "}}},
     0},
    {S::StatusPage,
     {{{"BACK", "PWROFF"}, {" ", " "}, {"  ", " "}, {"  ", " "}, {" ", " "}, {" ", " "}}},
     0x01},
    {S::SpectrumList,
     {{{" ESC", " "}, {"   SET", " Default"}, {"     UP", " "}, {"  DOWN", " "},
       {"   TYPE", " "}, {"  ENTER", " "}}},
     0},
    {S::SpectrumEdit,
     {{{" BACK", " "}, {"   NEXT", " "}, {"   ", " "}, {"      -", " "}, {"       +", " "},
       {"   SAVE", " "}}},
     0},
}};
// clang-format on

// ---- the key bar ----

struct KeyPlace {
  int faceFrom, faceTo;    // face run (both included)
  int frameFrom, frameTo;  // top frame line
  int frameX;              // right frame line
  int line1X, line2X;      // label positions
};
constexpr std::array<KeyPlace, 6> kKeys{{
    {0, 129, 1, 129, 130, 20, 25},
    {133, 262, 134, 262, 263, 143, 153},
    {266, 395, 267, 395, 396, 276, 286},
    {399, 528, 400, 529, 529, 409, 419},
    {532, 661, 533, 662, 662, 542, 552},
    {665, 798, 666, 798, 799, 675, 695},
}};
constexpr int kBarTop = 420;
constexpr int kBarBottom = 479;
constexpr int kLine1Y = 445;
constexpr int kLine2Y = 472;

// The error box slots, left to right.
constexpr std::array<std::array<int, 2>, 6> kErrorSlots{
    {{5, 130}, {133, 263}, {266, 396}, {399, 529}, {532, 662}, {665, 795}}};

bool tuning(const Works& works) {
  return works.atu.tuneState.load() != TuneState::Idle;
}

// The state-3 labels of the two tuning keys: the running kind shows "On".
void tuneKeyLabels(Works& works) {
  if (works.ui.panelState.load() != S::Tune) return;
  if ((works.set.TUNEenabled.load() & 0x80) != 0) return;  // no tuner installed
  const int key = works.atu.fineTuneRequest.load() == 1 ? 2 : 3;
  works.ui.Novamenu.set(S::Tune, key, 2, tuning(works) ? "    On" : "   Off");
}

// The state-0 labels of the antenna and the view keys.
void mainKeyLabels(Works& works) {
  if (works.ui.panelState.load() != S::Main) return;
  char label[32];
  std::snprintf(label, sizeof label, "     %d", works.set.NumAntenna.load() + 1);
  works.ui.Novamenu.set(S::Main, 3, 2, label);
  std::snprintf(label, sizeof label, "    %d", works.set.ViewType.load());
  works.ui.Novamenu.set(S::Main, 6, 2, label);
}

bool selectedItemHasCursor(const Works& works) {
  const int item = works.ui.menuSection.load();
  return item >= 0 && item < kMenuItems && menuPar[static_cast<size_t>(item)].cursor != 0;
}

bool selectedItemReadOnly(const Works& works) {
  const int item = works.ui.menuSection.load();
  return item >= 0 && item < kMenuItems && menuPar[static_cast<size_t>(item)].readOnly != 0;
}

void drawLabels(Works& works, PanelState state) {
  const KeyLabels& labels = works.ui.Novamenu;
  const bool errorKey = (state == S::Main || state == S::Tune) && VerifyError(works) == 1;
  for (int key = 1; key <= 6; ++key) {
    const KeyPlace& k = kKeys[static_cast<size_t>(key - 1)];
    int x1 = k.line1X;
    int x2 = k.line2X;
    std::string l1 = labels.get(state, key, 1);
    std::string l2 = labels.get(state, key, 2);
    if (state == S::MenuEdit && (key == 2 || key == 3) && !selectedItemHasCursor(works)) {
      l1 = l2 = " ";
      if (key == 3) x1 = 286;
    }
    if (key == 6 && errorKey) {
      l1 = "RESET";
      l2 = " Error ";
      x1 = 690;
      x2 = 695;
    }
    if (key == 6 && state == S::MenuBrowse && selectedItemReadOnly(works)) {
      l1 = l2 = " ";
      x1 = 685;
      x2 = 715;
    }
    text(works, 0, x1, kLine1Y, l1, kOrange);
    text(works, 1, x2, kLine2Y, l2, kOrange);
  }
}

}  // namespace

void initKeyLabels(Works& works) {
  KeyLabels& labels = works.ui.Novamenu;
  for (const LabelRow& row : kInitialLabels) {
    for (int key = 1; key <= 6; ++key) {
      const KeyText& t = row.keys[static_cast<size_t>(key - 1)];
      labels.set(row.state, key, 1, t.line1);
      labels.set(row.state, key, 2, t.line2);
    }
    labels.setFlags(row.state, row.flags);
  }
}

void LoadButtons(Works& works) {
  FrameBuffer* fb = works.gfx.fb.get();
  const PanelState state = works.ui.panelState.load();
  // 1. Faces.
  for (int y = kBarTop; y <= kBarBottom; ++y) {
    for (const KeyPlace& k : kKeys) {
      DrawHorizontalLine(k.faceFrom, y, k.faceTo + 1, kFace.r, kFace.g, kFace.b, fb);
    }
  }
  // 2. Underlines of the keys with a long press.
  const uint8_t flags = works.ui.Novamenu.flags(state);
  if ((flags & 0x01) != 0) fill(works, 2, 478, 127, 479, kOrange);
  if ((flags & 0x20) != 0) fill(works, 667, 478, 796, 479, kOrange);
  // 3. Frames.
  for (const KeyPlace& k : kKeys) {
    line(works, k.frameFrom, kBarTop, k.frameTo, kBarTop, kFrame);
    line(works, k.frameX, kBarTop, k.frameX, kBarBottom, kFrame);
  }
  // 4. Labels filled in at run time.
  tuneKeyLabels(works);
  SetModeWorkLabel(works);
  SetAttenuatorLabel(works);
  mainKeyLabels(works);
  SetFilterStepLbl(works);
  LblCOPY(works);
  LblRESET(works);
  LabelSAVEATU(works);
  ImpostaLblManuale(works);
  LabelByPassATU(works);
  LblMenuAntenna(works);
  // 5. The labels.
  drawLabels(works, state);
  // 6. The rest of the frame.
  DrawParameters(works);
  DrawError(works);
  ViewStatusInfo(works);
  ViewStatusTX(works);
}

// ---- labels ----

void SetModeWorkLabel(Works& works) {
  if (works.ui.panelState.load() != S::Main) return;
  char label[32];
  std::snprintf(label, sizeof label, "BANK%i", works.set.NumBanco.load());
  works.ui.Novamenu.set(S::Main, 1, 2, label);
}

void SetFilterStepLbl(Works& works) {
  const PanelState state = works.ui.panelState.load();
  if (state == S::FilterEdit) {
    const int i = std::clamp(works.ui.filterStepIndex.load(), 0, 3);
    works.ui.Novamenu.set(S::FilterEdit, 3, 2, std::string(" ") + StepLBLFilter[i]);
  } else if (state == S::SpectrumList) {
    const bool single = (works.ui.plotConfigType.load() & 0x80) != 0;
    works.ui.Novamenu.set(S::SpectrumList, 5, 2, single ? "  Single" : "    All");
  }
}

void LabelByPassATU(Works& works) {
  LabelByPassNova(works, works.atu.tunerBypassed.load() != 0 ? "   ByP" : "   On");
}

void LabelSAVEATU(Works& works) {
  if (works.ui.panelState.load() != S::SaveTune) return;
  char label[32];
  std::snprintf(label, sizeof label, "   %i", works.ui.saveBank.load());
  works.ui.Novamenu.set(S::SaveTune, 2, 2, label);
  std::snprintf(label, sizeof label, "     %i", works.ui.saveAntenna.load() + 1);
  works.ui.Novamenu.set(S::SaveTune, 3, 2, label);
}

void LblCOPY(Works& works) {
  if (works.ui.panelState.load() != S::BankCopy) return;
  char label[32];
  std::snprintf(label, sizeof label, "    %i", works.ui.copySource.load());
  works.ui.Novamenu.set(S::BankCopy, 2, 2, label);
  std::snprintf(label, sizeof label, "    %i", works.ui.copyTarget.load());
  works.ui.Novamenu.set(S::BankCopy, 3, 2, label);
}

void LblRESET(Works& works) {
  if (works.ui.panelState.load() != S::BankReset) return;
  const int target = works.ui.resetTarget.load();
  char label[32];
  if (target == works.set.MAXbank.load()) {
    std::snprintf(label, sizeof label, "  ALL");
  } else {
    std::snprintf(label, sizeof label, "    %i", target);
  }
  works.ui.Novamenu.set(S::BankReset, 2, 2, label);
}

void LblMenuAntenna(Works& works) {
  if (works.ui.panelState.load() != S::MemoryTable) return;
  const int type = interfaceNumber(works.bands.freqInterface.load());
  works.ui.Novamenu.set(S::MemoryTable, 2, 2, GetLblInterface(type));
}

std::string GetLblInterface(int type) {
  if (type < 0 || type >= kFreqInterfaces) return "";
  return MODEwork[type];
}

const char* panelStateName(PanelState state) {
  switch (state) {
    case S::Main:
      return "main";
    case S::MenuBrowse:
      return "menu";
    case S::MenuEdit:
      return "menu-edit";
    case S::Tune:
      return "tune";
    case S::ManualTune:
      return "manual-tune";
    case S::MemoryTable:
      return "memory-table";
    case S::MemoryTableEdit:
      return "memory-edit";
    case S::SaveTune:
      return "save-tune";
    case S::BankChoice:
      return "bank-choice";
    case S::BankCopy:
      return "bank-copy";
    case S::BankReset:
      return "bank-reset";
    case S::FilterList:
      return "filters";
    case S::FilterEdit:
      return "filter-edit";
    case S::StatusPage:
      return "status";
    case S::SpectrumList:
      return "spectrum-settings";
    case S::SpectrumEdit:
      return "spectrum-edit";
  }
  return "unknown";
}

// ---- error boxes ----

int errorBoxSlot(int count, int position) {
  if (position < 0 || position >= count) return -1;
  const int slots = static_cast<int>(kErrorSlots.size());
  // Up to six: the oldest rightmost, each newer one further left. More: the six newest,
  // the newest leftmost.
  const int slot = count <= slots ? slots - 1 - position : count - 1 - position;
  return slot < slots ? slot : -1;
}

void DrawError(Works& works) {
  if (works.ui.pageFlags.load() != 0) return;
  const int count = static_cast<int>(listedErrors(works).size());
  for (int i = 0; i < count; ++i) {
    const int slot = errorBoxSlot(count, i);
    if (slot < 0) continue;
    const auto& x = kErrorSlots[static_cast<size_t>(slot)];
    DrawTastoErrore(works, x[0], x[1], i);
  }
}

void DrawTastoErrore(Works& works, int xLeft, int xRight, int listPosition) {
  const std::vector<Err> list = listedErrors(works);
  if (listPosition < 0 || listPosition >= static_cast<int>(list.size())) return;
  const ErrorInfo info = errorInfo(works, list[static_cast<size_t>(listPosition)]);
  const Rgb face = (info.flags & kErrorRed) != 0 ? Rgb{255, 30, 0} : kOrange;
  fill(works, xLeft, 370, xRight, 414, face);
  line(works, xLeft, 370, xLeft, 415, kBrightWhite);
  line(works, xRight, 370, xRight, 415, kBrightWhite);
  line(works, xLeft + 1, 370, xRight + 1, 370, kBrightWhite);
  line(works, xLeft + 1, 415, xRight + 1, 415, kBrightWhite);
  text(works, 10, xLeft + 4, 390, info.title, kWhite);
  text(works, 10, xLeft + 4, 410, info.detail, kWhite);
}

// ---- transmit marker ----

void ViewStatusTX(Works& works) {
  if (works.set.ViewType.load() > kViewInput || works.ui.pageFlags.load() != 0) return;
  if ((works.amp.statusB.load() & 0x01) == 0) return;
  fill(works, 375, 175, 429, 209, kRed);
  text(works, 8, 390, 200, "TX", kBrightWhite);
}

}  // namespace corvid

#include "ui/menu.h"

#include "core/works.h"
#include "remote/remote_checks.h"

namespace corvid {

const std::array<MenuEntry, kMenuItems> menuPar = {{
    {1, "MEMORY BANKS", "Max Banks Number", 0, 0},
    {2, "FILTERS", "Rx Filters Settings", 0, 0},
    {5, "MODALITY", "Use Mode", 0, 0},
    {6, "MODALITY", "Remote Password", 1, 0},
    {10, "TIME", "Long Press Time", 0, 0},
    {11, "TIME", "Screensaver Timeout", 0, 0},
    {15, "PEAK POWER METER", "Activation", 0, 0},
    {16, "PEAK POWER METER", "Release Time", 0, 0},
    {20, "TUNE", "Enable Tune", 0, 0},
    {21, "TUNE", "Force Attenuator", 0, 0},
    {22, "TUNE", "Target SWR (0=Off)", 0, 0},
    {23, "TUNE", "Auto Tune Timeout", 0, 0},
    {24, "TUNE", "ATU Installed", 0, 0},
    {25, "TUNE", "Pex PttOut (menu 56)", 0, 0},
    {30, "MAIN WINDOW", "Powers Unit", 0, 0},
    {31, "MAIN WINDOW", "Temperatures Unit", 0, 0},
    {32, "MAIN WINDOW", "View on TX", 0, 0},
    {40, "PLOT", "Spectrum Settings", 0, 0},
    {45, "PLOT", "Waterfall Enable", 0, 0},
    {46, "PLOT", "Waterfall Position", 0, 0},
    {47, "PLOT", "Waterfall Scroll", 0, 0},
    {48, "PLOT", "Waterfall Max dBm", 0, 0},
    {49, "PLOT", "Waterfall Min dBm", 0, 0},
    {50, "LAN", "IP", 0, 1},
    {51, "LAN", "Subnet", 0, 1},
    {52, "LAN", "Gateway", 0, 1},
    {53, "LAN", "DNS", 0, 1},
    {60, "TEMPERATURE", "P1 Alarm Set Point", 0, 0},
    {61, "TEMPERATURE", "P2 Alarm Set Point", 0, 0},
    {65, "FAN CONTROL", "Work Mode", 0, 0},
    {70, "FREQ", "Period", 0, 0},
    {90, "SERVICE", "Factory Default", 0, 0},
    {91, "SERVICE", "Remote Service", 0, 0},
    {92, "SERVICE", "Software Update (UI)", 0, 0},
    {93, "SERVICE", "Firmware Update", 0, 0},
    {94, "SERVICE", "Turn Off Hardware", 0, 0},
    {95, "SERVICE", "Advanced Default", 0, 0},
}};

int lastMenuItem(const Works& works) {
  const int count = works.ui.menuSectionCount.load();
  return works.ui.startupKeysMenu.load() != 0 ? count - 1 : count - 2;
}

// The rest of the menu comes next.
void InitMenuNova(Works& works) {
  works.ui.menuSectionCount = kMenuItems;
}
std::string LoadParameterMenu(Works&, int, int) {
  return " ";
}
int ModifyParameter(Works&, int) {
  return 0;
}
int ModifyIP(int, int cursor, std::array<uint8_t, 4>&) {
  return cursor;
}
std::string SplitAddrInv(const std::array<uint8_t, 4>& a) {
  return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
         std::to_string(a[3]);
}

}  // namespace corvid

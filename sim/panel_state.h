// The panel state the controller is in, as its log tells it: the display loop writes one
// line "panel NAME" each time the state of the panel changes (the key decoder's state:
// the main screen, the menu, the tune screen, the table pages ...). The bench reads the
// controller's standard error line by line and keeps the last name; before the first
// such line the panel shows the main screen.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace corvid::bench {

// Every name the controller gives its panel states.
inline constexpr std::array<std::string_view, 16> kPanelStateNames = {
    "main",        "menu",      "menu-edit",         "tune",         "manual-tune", "memory-table",
    "memory-edit", "save-tune", "bank-choice",       "bank-copy",    "bank-reset",  "filters",
    "filter-edit", "status",    "spectrum-settings", "spectrum-edit"};
inline constexpr std::string_view kFirstPanelState = "main";

// The state a log line reports ("panel menu", a trailing CR or LF allowed); empty for
// any other line, an unknown name included.
std::optional<std::string_view> panelStateOfLine(std::string_view line);

// The last state seen in the lines fed to it. Safe to use from any thread.
class PanelStateWatch {
 public:
  // One whole line of the controller's output.
  void feed(std::string_view line);
  std::string name() const;
  // How many state lines have been seen.
  uint64_t changes() const;

 private:
  mutable std::mutex mutex_;
  std::string name_{kFirstPanelState};
  uint64_t changes_ = 0;
};

}  // namespace corvid::bench

#include "sim/panel_state.h"

#include <algorithm>

namespace corvid::bench {

std::optional<std::string_view> panelStateOfLine(std::string_view line) {
  constexpr std::string_view kPrefix = "panel ";
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (!line.starts_with(kPrefix)) return std::nullopt;
  const std::string_view name = line.substr(kPrefix.size());
  const auto* found = std::find(kPanelStateNames.begin(), kPanelStateNames.end(), name);
  if (found == kPanelStateNames.end()) return std::nullopt;
  return *found;
}

void PanelStateWatch::feed(std::string_view line) {
  const std::optional<std::string_view> state = panelStateOfLine(line);
  if (!state) return;
  std::scoped_lock lock(mutex_);
  name_ = std::string(*state);
  ++changes_;
}

std::string PanelStateWatch::name() const {
  std::scoped_lock lock(mutex_);
  return name_;
}

uint64_t PanelStateWatch::changes() const {
  std::scoped_lock lock(mutex_);
  return changes_;
}

}  // namespace corvid::bench

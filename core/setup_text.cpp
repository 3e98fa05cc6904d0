#include "core/setup_text.h"

#include <algorithm>
#include <cstring>

namespace corvid {

void SetupText::fill() {
  std::scoped_lock lock(textMutex_);
  for (size_t i = 0; i < kSlotCount; ++i) {
    chars_[i].store('1', std::memory_order_relaxed);
    texts_[i].fill('\0');
    std::fill_n(texts_[i].begin(), kSlots[i].width - 1, '1');
    reals_[i].store(0.0f, std::memory_order_relaxed);
  }
}

std::string SetupText::text(Slot slot) const {
  const size_t i = index(slot);
  if (kSlots[i].type == SlotType::Char) return std::string(1, flag(slot));
  std::scoped_lock lock(textMutex_);
  const auto& t = texts_[i];
  return std::string(t.data(), ::strnlen(t.data(), kSlots[i].width - 1u));
}

void SetupText::setText(Slot slot, std::string_view value) {
  const size_t i = index(slot);
  if (kSlots[i].type == SlotType::Char) {
    if (!value.empty()) setFlag(slot, value.front());
    return;
  }
  const size_t n = std::min<size_t>(value.size(), kSlots[i].width - 1u);
  std::scoped_lock lock(textMutex_);
  auto& t = texts_[i];
  t.fill('\0');
  std::copy_n(value.data(), n, t.begin());
}

}  // namespace corvid

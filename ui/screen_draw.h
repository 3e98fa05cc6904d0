// Drawing helpers shared by the screen builders (ui/screens.cpp, ui/pages.cpp): the
// panel's colours and text and fill calls on the back buffer of works.
#pragma once

#include <cstdint>
#include <string>

#include "core/works.h"
#include "gfx/framebuffer.h"
#include "gfx/text.h"

namespace corvid::screen {

struct Rgb {
  uint8_t r;
  uint8_t g;
  uint8_t b;
};

inline constexpr Rgb kFace{40, 40, 40};
inline constexpr Rgb kFrame{120, 120, 120};
inline constexpr Rgb kOrange{250, 150, 0};
inline constexpr Rgb kWhite{250, 250, 250};
inline constexpr Rgb kBrightWhite{255, 255, 255};
inline constexpr Rgb kLightBlue{0, 200, 255};
inline constexpr Rgb kBoxFrame{200, 200, 200};
inline constexpr Rgb kSupplyFrame{100, 100, 100};
inline constexpr Rgb kGreen{0, 200, 0};
inline constexpr Rgb kRed{250, 0, 0};
inline constexpr Rgb kEditRed{255, 0, 0};
inline constexpr Rgb kMenuBand{80, 80, 80};

inline void text(Works& works, int slot, int x, int y, const std::string& s, Rgb c) {
  putString(slot, x, y, s.c_str(), c.r, c.g, c.b, works.gfx.fb.get());
}

// Right-aligned: the text ends at x.
inline void textRight(Works& works, int slot, int x, int y, const std::string& s, Rgb c) {
  text(works, slot, x - getStringSpace(slot, s.c_str()), y, s, c);
}

// Pixels x0..x1 (both included) of the rows y0..y1 (both included).
inline void fill(Works& works, int x0, int y0, int x1, int y1, Rgb c) {
  for (int y = y0; y <= y1; ++y)
    DrawHorizontalLine(x0, y, x1 + 1, c.r, c.g, c.b, works.gfx.fb.get());
}

inline void line(Works& works, int x0, int y0, int x1, int y1, Rgb c) {
  DrawLine(x0, y0, x1, y1, c.r, c.g, c.b, works.gfx.fb.get());
}

}  // namespace corvid::screen

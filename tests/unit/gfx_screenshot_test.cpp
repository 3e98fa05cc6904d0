// Screenshot test: a panel-like frame drawn from a fixed state into the framebuffer and
// compared with the reference picture tests/unit/golden/gfx_panel.png. On a mismatch the
// actual picture and a diff (differing pixels in magenta over a dimmed copy) are written
// beside the build output. CORVID_UPDATE_GOLDEN=1 rewrites the reference instead; a new
// reference goes in only through a reviewed commit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "core/works.h"
#include "gfx/framebuffer.h"
#include "gfx/text.h"
#include "tests/unit/gfx_test_support.h"

namespace corvid {
namespace {

namespace fs = std::filesystem;

// A frame with every primitive and several fonts and colours in it.
void drawPanel(Works& works) {
  FrameBuffer* fb = works.gfx.fb.get();
  // Background: a dark vertical gradient, as the pictures have.
  for (uint32_t y = 0; y < fb->height; ++y) {
    for (uint32_t x = 0; x < fb->width; ++x) {
      uint8_t* p = fb->background.get() + y * fb->lineLength + x * 4;
      p[0] = static_cast<uint8_t>(30 + y / 24);
      p[1] = static_cast<uint8_t>(24 + y / 30);
      p[2] = static_cast<uint8_t>(20 + y / 40);
      p[3] = 0;
    }
  }
  fbSetBack(fb);

  // A needle of three lines, as the meters draw it, and a few lines at odd angles.
  const double theta = (0.24 - 23.0 * 0.48 / 60) * 3.141692653;
  const int tipX = static_cast<int>(210 - 200 * std::sin(theta));
  const int tipY = static_cast<int>(260 - 200 * std::cos(theta));
  for (int dx = -1; dx <= 1; ++dx) DrawLine(210 + dx, 260, tipX, tipY, 255, 0, 0, fb);
  DrawLine(590, 260, 700, 90, 0, 0, 0, fb);
  DrawLine(420, 40, 760, 60, 0, 200, 0, fb);
  DrawLine(430, 200, 440, 60, 250, 150, 0, fb);

  // Info boxes and the key bar.
  DrawRect(works, 1, 278, 110, 303, 200, 200, 200);
  DrawRect(works, 115, 278, 260, 303, 200, 200, 200);
  DrawRect(works, 1, 307, 400, 332, 100, 100, 100);
  for (int y = 420; y < 480; ++y) {
    DrawHorizontalLine(0, y, 130, 40, 40, 40, fb);
    DrawHorizontalLine(133, y, 263, 40, 40, 40, fb);
  }
  DrawHorizontalLine(2, 478, 128, 250, 150, 0, fb);
  DrawLine(130, 420, 130, 479, 120, 120, 120, fb);

  // A waterfall block.
  std::vector<uint8_t> waterfall;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 200; ++x) {
      waterfall.insert(waterfall.end(), {static_cast<uint8_t>(x), static_cast<uint8_t>(y * 6),
                                         static_cast<uint8_t>(255 - x)});
    }
  }
  DrawVect(560, 360, 760, 400, fb, waterfall, false);

  putString(8, 155, 160, "FORWARD", 0, 0, 0, fb);
  putString(8, 180, 180, "23.0W", 0, 0, 0, fb);
  putString(8, 10, 298, "QTRPEX", 0, 200, 255, fb);
  putString(8, 125, 298, "Coax:RX+TX", 0, 200, 255, fb);
  putString(8, 10, 327, "PA1:031.5\xC2\xB0" "C", 0, 200, 0, fb);
  putString(0, 20, 445, "  MEM", 250, 150, 0, fb);
  putString(1, 25, 472, "BANK1", 250, 150, 0, fb);
  putString(0, 143, 445, " IN-ATT", 250, 150, 0, fb);
  putString(9, 300, 400, "Loading ... 7", 255, 255, 255, fb);
  putString(6, 780 - getStringSpace(6, "LAN OK 2024-01-01 12:00:00"), 17,
            "LAN OK 2024-01-01 12:00:00", 255, 255, 255, fb);
  putString(7, 420, 240, "Entering second function...", 250, 250, 250, fb);
  putString(9, 770, 120, "Wrap", 255, 255, 255, fb);  // runs into the next rows
  fbRealize(fb);
}

TEST(GfxScreenshot, PanelMatchesTheReference) {
  const std::string dejavu = "/usr/share/fonts/truetype/dejavu/";
  ASSERT_EQ(TTFLoad((dejavu + "DejaVuSans-Bold.ttf").c_str(), 24, 0), 0);
  ASSERT_EQ(TTFLoad((dejavu + "DejaVuSans.ttf").c_str(), 22, 1), 0);
  ASSERT_EQ(TTFLoad((dejavu + "DejaVuSans.ttf").c_str(), 14, 6), 0);
  ASSERT_EQ(TTFLoad((dejavu + "DejaVuSans-Oblique.ttf").c_str(), 24, 7), 0);
  ASSERT_EQ(TTFLoad((dejavu + "DejaVuSans.ttf").c_str(), 20, 8), 0);
  ASSERT_EQ(TTFLoad((dejavu + "DejaVuSans.ttf").c_str(), 30, 9), 0);

  Works works;
  works.gfx.fb = makeMemoryFrameBuffer(800, 480, 32);
  drawPanel(works);
  const testing::RgbImage actual = testing::rgbOf(works.gfx.fb->screen.data(), 800, 480);

  const fs::path reference = fs::path(CORVID_GOLDEN_DIR) / "gfx_panel.png";
  if (const char* update = std::getenv("CORVID_UPDATE_GOLDEN"); update && *update == '1') {
    ASSERT_TRUE(testing::writeRgbPng(reference, actual));
    GTEST_SKIP() << "reference rewritten: " << reference;
  }
  const auto expected = testing::readPngRgb(reference);
  const fs::path outDir = fs::path(CORVID_SCREENSHOT_DIR);
  if (expected && *expected == actual) return;

  fs::create_directories(outDir);
  ASSERT_TRUE(testing::writeRgbPng(outDir / "gfx_panel.actual.png", actual));
  ASSERT_TRUE(expected.has_value()) << "no reference picture " << reference << "; actual in "
                                    << outDir / "gfx_panel.actual.png";
  ASSERT_EQ(expected->width, actual.width);
  ASSERT_EQ(expected->height, actual.height);
  testing::RgbImage diff = actual;
  size_t differing = 0;
  for (size_t i = 0; i < diff.rgb.size(); i += 3) {
    const bool same = expected->rgb[i] == actual.rgb[i] && expected->rgb[i + 1] == actual.rgb[i + 1] &&
                      expected->rgb[i + 2] == actual.rgb[i + 2];
    for (size_t c = 0; c < 3; ++c) {
      const uint8_t marked = c == 1 ? 0 : 255;
      diff.rgb[i + c] = same ? static_cast<uint8_t>(actual.rgb[i + c] / 4) : marked;
    }
    if (!same) ++differing;
  }
  ASSERT_TRUE(testing::writeRgbPng(outDir / "gfx_panel.diff.png", diff));
  FAIL() << differing << " pixels differ from " << reference << "; see " << outDir;
}

}  // namespace
}  // namespace corvid

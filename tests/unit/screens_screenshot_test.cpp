// Screenshot tests of the panel's screens: every screen and page drawn by LoadButtons
// from a fixed state (tests/unit/screen_scenes.h) over a fixed background and compared
// with its reference picture tests/unit/golden/screen_<name>.png. On a mismatch the
// actual picture and a diff (differing pixels in magenta over a dimmed copy) are written
// beside the build output. CORVID_UPDATE_GOLDEN=1 rewrites the references instead; a new
// reference goes in only through a reviewed commit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/works.h"
#include "gfx/framebuffer.h"
#include "gfx/text.h"
#include "platform/log.h"
#include "tests/unit/gfx_test_support.h"
#include "tests/unit/screen_scenes.h"
#include "ui/screens.h"

namespace corvid {
namespace {

namespace fs = std::filesystem;
using testing::RgbImage;

void prepareFonts() {
  static const bool loaded = [] {
    loadPanelFonts();
    return true;
  }();
  (void)loaded;
}

RgbImage shown(Works& works) {
  fbRealize(works.gfx.fb.get());
  return testing::rgbOf(works.gfx.fb->screen.data(), 800, 480);
}

RgbImage renderScene(const testing::Scene& scene) {
  auto works = testing::baseWorks();
  scene.prepare(*works);
  testing::drawOverlay(*works);
  return shown(*works);
}

// Compares with the reference of that name (or rewrites it); on a mismatch writes the
// actual picture and the diff and fails.
void expectReference(const std::string& name, const RgbImage& actual) {
  const fs::path reference = fs::path(CORVID_GOLDEN_DIR) / (name + ".png");
  if (const char* update = std::getenv("CORVID_UPDATE_GOLDEN"); update && *update == '1') {
    ASSERT_TRUE(testing::writeRgbPng(reference, actual));
    GTEST_SKIP() << "reference rewritten: " << reference;
  }
  const auto expected = testing::readPngRgb(reference);
  if (expected && *expected == actual) return;
  const fs::path outDir = fs::path(CORVID_SCREENSHOT_DIR);
  fs::create_directories(outDir);
  const fs::path actualFile = outDir / (name + ".actual.png");
  ASSERT_TRUE(testing::writeRgbPng(actualFile, actual));
  ASSERT_TRUE(expected.has_value())
      << "no reference picture " << reference << "; actual in " << actualFile;
  ASSERT_EQ(expected->width, actual.width);
  ASSERT_EQ(expected->height, actual.height);
  RgbImage diff = actual;
  size_t differing = 0;
  for (size_t i = 0; i < diff.rgb.size(); i += 3) {
    const bool same = expected->rgb[i] == actual.rgb[i] &&
                      expected->rgb[i + 1] == actual.rgb[i + 1] &&
                      expected->rgb[i + 2] == actual.rgb[i + 2];
    for (size_t c = 0; c < 3; ++c) {
      const uint8_t marked = c == 1 ? 0 : 255;
      diff.rgb[i + c] = same ? static_cast<uint8_t>(actual.rgb[i + c] / 4) : marked;
    }
    if (!same) ++differing;
  }
  ASSERT_TRUE(testing::writeRgbPng(outDir / (name + ".diff.png"), diff));
  FAIL() << differing << " pixels differ from " << reference << "; see " << outDir;
}

class ScreenShot : public ::testing::TestWithParam<testing::Scene> {
 protected:
  static void SetUpTestSuite() {
    prepareFonts();
    platform::setLogSink([](platform::LogLevel, std::string_view) {});
  }
  static void TearDownTestSuite() { platform::setLogSink(nullptr); }
};

TEST_P(ScreenShot, MatchesTheReference) {
  expectReference("screen_" + GetParam().name, renderScene(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Screens, ScreenShot, ::testing::ValuesIn(testing::screenScenes()),
                         [](const ::testing::TestParamInfo<testing::Scene>& param) {
                           std::string name = param.param.name;
                           for (char& c : name) {
                             if (c == '-') c = '_';
                           }
                           return name;
                         });

// The message area under the filter table for each edit status, stacked top down in one
// picture: " " (nothing), saved, stop below start, refused.
TEST(ScreenShotFilters, StatusMessages) {
  prepareFonts();
  constexpr int kTop = 360;
  constexpr int kRows = 30;
  RgbImage stacked{800, 4 * kRows, {}};
  for (int status = 0; status < 4; ++status) {
    auto works = testing::baseWorks();
    works->ui.panelState = PanelState::FilterList;
    works->ui.pageFlags = kPageFilters;
    works->ui.filterEditStatus = status;
    testing::drawOverlay(*works);
    const RgbImage frame = shown(*works);
    const auto from = frame.rgb.begin() + static_cast<long>(kTop) * 800 * 3;
    stacked.rgb.insert(stacked.rgb.end(), from, from + kRows * 800 * 3);
  }
  expectReference("screen_filter_status", stacked);
}

}  // namespace
}  // namespace corvid

// Background pictures: what getPng accepts, what it refuses, and where the pixels land;
// and the start-up screens drawn over them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/works.h"
#include "gfx/framebuffer.h"
#include "gfx/picture.h"
#include "gfx/text.h"
#include "tests/unit/gfx_test_support.h"
#include "tests/unit/test_support.h"

namespace corvid {
namespace {

namespace fs = std::filesystem;

// Pictures are read relative to the working directory: each test runs in its own.
class GfxPicture : public ::testing::Test {
 protected:
  void SetUp() override {
    previous = fs::current_path();
    fs::current_path(root.dir());
    works.gfx.fb = makeMemoryFrameBuffer(800, 480, 32);
    std::fill_n(fb().background.get(), fb().size, uint8_t{0xA5});
  }
  void TearDown() override { fs::current_path(previous); }

  FrameBuffer& fb() { return *works.gfx.fb; }
  bool backgroundUntouched() {
    return std::all_of(fb().background.get(), fb().background.get() + fb().size,
                       [](uint8_t b) { return b == 0xA5; });
  }
  // An 8-bit RGBA picture whose pixel (x, y) is (x, y, x + y, 200).
  static std::vector<uint8_t> rgba(uint32_t width, uint32_t height) {
    std::vector<uint8_t> pixels;
    for (uint32_t y = 0; y < height; ++y) {
      for (uint32_t x = 0; x < width; ++x) {
        pixels.insert(pixels.end(), {uint8_t(x), uint8_t(y), uint8_t(x + y), 200});
      }
    }
    return pixels;
  }
  int load(const std::string& name) {
    works.core.splashName.set(name);
    return getPng(works);
  }

  testing::TempRoot root;
  testing::LogCatcher log;
  Works works;
  fs::path previous;
};

TEST_F(GfxPicture, FullScreenRgbaBecomesBlueGreenRedZero) {
  const auto pixels = rgba(800, 480);
  ASSERT_TRUE(testing::writePng("img1.png", 800, 480, PNG_FORMAT_RGBA, pixels.data()));
  ASSERT_EQ(load("img1"), 0);
  const uint8_t* at = fb().background.get() + 7 * fb().lineLength + 3 * 4;
  EXPECT_EQ((std::vector<uint8_t>{at, at + 4}), (std::vector<uint8_t>{10, 7, 3, 0}));
  const uint8_t* last = fb().background.get() + fb().size - 4;
  EXPECT_EQ((std::vector<uint8_t>{last, last + 4}),
            (std::vector<uint8_t>{uint8_t(799 + 479), uint8_t(479), uint8_t(799), 0}));
  EXPECT_FALSE(log.contains("image"));
  // Only the background is written; fbSetBack brings it into the frame.
  EXPECT_EQ(fb().back[0], 0);
  fbSetBack(&fb());
  EXPECT_EQ(fb().back[7 * fb().lineLength + 3 * 4], 10);
}

TEST_F(GfxPicture, NarrowerPictureFillsOnlyItsOwnColumns) {
  const auto pixels = rgba(10, 5);
  ASSERT_TRUE(testing::writePng("small.png", 10, 5, PNG_FORMAT_RGBA, pixels.data()));
  ASSERT_EQ(load("small"), 0);
  const uint8_t* bg = fb().background.get();
  EXPECT_EQ(bg[4 * fb().lineLength + 9 * 4 + 2], 9);   // last pixel of the picture
  EXPECT_EQ(bg[4 * fb().lineLength + 10 * 4], 0xA5);   // right of it
  EXPECT_EQ(bg[5 * fb().lineLength], 0xA5);            // below it
  EXPECT_EQ(bg[fb().size - 1], 0xA5);
}

TEST_F(GfxPicture, OtherLayoutsAreRefusedWithTheirNumbers) {
  const std::vector<uint8_t> rgb(4 * 4 * 3, 60);
  ASSERT_TRUE(testing::writePng("rgb.png", 4, 4, PNG_FORMAT_RGB, rgb.data()));
  EXPECT_EQ(load("rgb"), -1);
  EXPECT_TRUE(log.contains("rgb.png image has 8 pixels not 4 or color_type is 2 not 6"));

  const std::vector<uint8_t> indices(4 * 4, 1);
  std::vector<uint8_t> colormap(256 * 3, 0);  // a full palette: 8 bits an index
  colormap[3] = 250;
  ASSERT_TRUE(testing::writePng("palette.png", 4, 4, PNG_FORMAT_RGB_COLORMAP, indices.data(),
                                colormap));
  EXPECT_EQ(load("palette"), -1);
  EXPECT_TRUE(log.contains("palette.png image has 8 pixels not 4 or color_type is 3 not 6"));

  const std::vector<uint16_t> deep(4 * 4 * 4, 30000);
  ASSERT_TRUE(testing::writePng("deep.png", 4, 4, PNG_FORMAT_LINEAR_RGB_ALPHA, deep.data()));
  EXPECT_EQ(load("deep"), -1);
  EXPECT_TRUE(log.contains("deep.png image has 16 pixels not 4 or color_type is 6 not 6"));
  EXPECT_TRUE(backgroundUntouched());
}

TEST_F(GfxPicture, LargerThanTheScreenIsRefused) {
  const auto wide = rgba(801, 2);
  ASSERT_TRUE(testing::writePng("wide.png", 801, 2, PNG_FORMAT_RGBA, wide.data()));
  EXPECT_EQ(load("wide"), -1);
  EXPECT_TRUE(log.contains("wide.png image has 801 cols not 800"));
  const auto tall = rgba(2, 481);
  ASSERT_TRUE(testing::writePng("tall.png", 2, 481, PNG_FORMAT_RGBA, tall.data()));
  EXPECT_EQ(load("tall"), -1);
  EXPECT_TRUE(log.contains("tall.png image has 481 rows not 480"));
  EXPECT_TRUE(backgroundUntouched());
}

TEST_F(GfxPicture, MissingBrokenAndCutFiles) {
  EXPECT_EQ(load("absent"), -1);
  EXPECT_TRUE(log.contains("absent.png image could not be opened"));
  std::ofstream("text.png") << "this is not a picture";
  EXPECT_EQ(load("text"), -1);
  EXPECT_TRUE(log.contains("text.png image is not a PNG file"));
  std::ofstream("short.png") << "\x89PNG";
  EXPECT_EQ(load("short"), -1);
  EXPECT_TRUE(log.contains("short.png image is not a PNG file"));

  // A picture cut short in its image data fails while reading; one cut in its header
  // fails while setting up.
  const auto pixels = rgba(64, 64);
  ASSERT_TRUE(testing::writePng("whole.png", 64, 64, PNG_FORMAT_RGBA, pixels.data()));
  const auto size = fs::file_size("whole.png");
  fs::copy_file("whole.png", "cut.png");
  fs::resize_file("cut.png", size - 40);
  EXPECT_EQ(load("cut"), -1);
  EXPECT_TRUE(log.contains("cut.png error during reading image"));
  fs::copy_file("whole.png", "header.png");
  fs::resize_file("header.png", 20);
  EXPECT_EQ(load("header"), -1);
  EXPECT_TRUE(log.contains("header.png error during init_io"));
}

TEST_F(GfxPicture, SixteenBitDisplayGetsNoPicture) {
  works.gfx.fb = makeMemoryFrameBuffer(800, 480, 16);
  const auto pixels = rgba(8, 8);
  ASSERT_TRUE(testing::writePng("img3.png", 8, 8, PNG_FORMAT_RGBA, pixels.data()));
  EXPECT_EQ(load("img3"), -1);
  EXPECT_TRUE(log.contains("img3.png image has 8 pixels not 2 or color_type is 6 not 6"));
}

TEST_F(GfxPicture, StartUpScreensDrawOverTheSplash) {
  // Font paths are taken under the root, as on the bench.
  fs::create_directories(root.path("/usr/share/fonts/truetype/dejavu"));
  fs::create_symlink(testing::kDejaVu, root.path(testing::kDejaVu));
  ASSERT_EQ(TTFLoad(testing::kDejaVu.c_str(), 30, 9), 0);
  const auto pixels = rgba(800, 480);
  ASSERT_TRUE(testing::writePng("start.png", 800, 480, PNG_FORMAT_RGBA, pixels.data()));
  works.core.splashName.set("start");
  showBackground(works);
  EXPECT_TRUE(std::equal(fb().screen.begin(), fb().screen.end(), fb().background.get()));

  // What the countdown must show: the splash with the text over it.
  auto expected = makeMemoryFrameBuffer(800, 480, 32);
  std::copy_n(fb().background.get(), fb().size, expected->back.get());
  putString(9, 300, 400, "Loading ... 7", 255, 255, 255, expected.get());
  std::fill_n(fb().back.get(), fb().size, uint8_t{0});  // a frame drawn meanwhile
  showLoading(works, "Loading ... 7");
  EXPECT_TRUE(std::equal(fb().screen.begin(), fb().screen.end(), expected->back.get()));

  // Closing: the splash of the model is loaded again and the message drawn on it.
  auto closing = makeMemoryFrameBuffer(800, 480, 32);
  works.core.splashName.set("start");
  getPng(works);
  std::copy_n(fb().background.get(), fb().size, closing->back.get());
  putString(9, 330, 400, "Error! Close Program! Restart hw.", 255, 255, 255, closing.get());
  std::fill_n(fb().background.get(), fb().size, uint8_t{0});
  works.core.splashName.set("statusB");
  showClosing(works);
  EXPECT_EQ(works.core.splashName.get(), "start");
  EXPECT_TRUE(std::equal(fb().screen.begin(), fb().screen.end(), closing->back.get()));
}

}  // namespace
}  // namespace corvid

// The framebuffer record and the drawing primitives, on in-memory records and on the
// bench's framebuffer file.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <utility>
#include <vector>

#include "core/works.h"
#include "gfx/framebuffer.h"
#include "tests/unit/test_support.h"

namespace corvid {
namespace {

using Pixel = std::pair<int, int>;

// The pixels of a 32-bit back buffer that are not black.
std::set<Pixel> litPixels(const FrameBuffer& fb) {
  std::set<Pixel> lit;
  for (uint32_t y = 0; y < fb.height; ++y) {
    for (uint32_t x = 0; x < fb.width; ++x) {
      const uint8_t* p = fb.back.get() + y * fb.lineLength + x * fb.bytesPerPixel;
      if (std::any_of(p, p + fb.bytesPerPixel, [](uint8_t b) { return b != 0; })) {
        lit.insert({static_cast<int>(x), static_cast<int>(y)});
      }
    }
  }
  return lit;
}

std::vector<uint8_t> pixelBytes(const FrameBuffer& fb, int x, int y) {
  const uint8_t* p = fb.back.get() + y * fb.lineLength + x * fb.bytesPerPixel;
  return {p, p + fb.bytesPerPixel};
}

TEST(GfxPixelFormat, Rgb565IsLittleEndian) {
  auto fb = makeMemoryFrameBuffer(16, 4, 16);
  ASSERT_NE(fb, nullptr);
  EXPECT_EQ(fb->bytesPerPixel, 2u);
  EXPECT_EQ(fb->lineLength, 32u);
  DrawHorizontalLine(0, 0, 1, 255, 255, 255, fb.get());
  DrawHorizontalLine(1, 0, 2, 200, 200, 200, fb.get());
  DrawHorizontalLine(2, 0, 3, 255, 0, 0, fb.get());
  DrawHorizontalLine(3, 0, 4, 0, 0, 255, fb.get());
  EXPECT_EQ(pixelBytes(*fb, 0, 0), (std::vector<uint8_t>{0xFF, 0xFF}));
  EXPECT_EQ(pixelBytes(*fb, 1, 0), (std::vector<uint8_t>{0x59, 0xCE}));
  EXPECT_EQ(pixelBytes(*fb, 2, 0), (std::vector<uint8_t>{0x00, 0xF8}));
  EXPECT_EQ(pixelBytes(*fb, 3, 0), (std::vector<uint8_t>{0x1F, 0x00}));
}

TEST(GfxPixelFormat, ThirtyTwoBitsAreBlueGreenRedZero) {
  auto fb = makeMemoryFrameBuffer(16, 4, 32);
  ASSERT_NE(fb, nullptr);
  std::fill_n(fb->back.get(), fb->size, uint8_t{0x55});
  DrawHorizontalLine(0, 1, 1, 255, 0, 0, fb.get());
  DrawHorizontalLine(1, 1, 2, 1, 2, 3, fb.get());
  EXPECT_EQ(pixelBytes(*fb, 0, 1), (std::vector<uint8_t>{0x00, 0x00, 0xFF, 0x00}));
  EXPECT_EQ(pixelBytes(*fb, 1, 1), (std::vector<uint8_t>{3, 2, 1, 0}));
  EXPECT_EQ(pixelBytes(*fb, 2, 1), (std::vector<uint8_t>{0x55, 0x55, 0x55, 0x55}));
}

TEST(GfxPixelFormat, OneAndThreeBytesAreAcceptedButNotDrawnOn) {
  EXPECT_EQ(bytesPerPixelFor(4), 1u);
  EXPECT_EQ(bytesPerPixelFor(8), 1u);
  EXPECT_EQ(bytesPerPixelFor(5), 2u);
  EXPECT_EQ(bytesPerPixelFor(15), 2u);
  EXPECT_EQ(bytesPerPixelFor(24), 3u);
  EXPECT_EQ(bytesPerPixelFor(12), 0u);
  EXPECT_EQ(makeMemoryFrameBuffer(8, 8, 12), nullptr);
  for (uint32_t bits : {8u, 24u}) {
    auto fb = makeMemoryFrameBuffer(8, 8, bits);
    ASSERT_NE(fb, nullptr);
    DrawLine(0, 0, 7, 7, 255, 255, 255, fb.get());
    DrawHorizontalLine(0, 3, 8, 255, 255, 255, fb.get());
    EXPECT_TRUE(std::all_of(fb->back.get(), fb->back.get() + fb->size,
                            [](uint8_t b) { return b == 0; }))
        << bits << " bits per pixel";
  }
}

TEST(GfxLines, EmptyAndSinglePixelLines) {
  auto fb = makeMemoryFrameBuffer(20, 10, 32);
  DrawLine(5, 5, 5, 5, 255, 255, 255, fb.get());
  DrawHorizontalLine(3, 2, 3, 255, 255, 255, fb.get());
  DrawHorizontalLine(6, 2, 3, 255, 255, 255, fb.get());
  EXPECT_TRUE(litPixels(*fb).empty());
  DrawHorizontalLine(3, 2, 4, 255, 255, 255, fb.get());
  EXPECT_EQ(litPixels(*fb), (std::set<Pixel>{{3, 2}}));
}

TEST(GfxLines, BresenhamIncludesBothEndsInEitherDirection) {
  auto fb = makeMemoryFrameBuffer(20, 10, 32);
  DrawLine(1, 1, 5, 3, 255, 255, 255, fb.get());
  const std::set<Pixel> flat{{1, 1}, {2, 2}, {3, 2}, {4, 3}, {5, 3}};
  EXPECT_EQ(litPixels(*fb), flat);

  fb = makeMemoryFrameBuffer(20, 10, 32);
  DrawLine(3, 1, 4, 5, 255, 255, 255, fb.get());
  EXPECT_EQ(litPixels(*fb), (std::set<Pixel>{{3, 1}, {3, 2}, {4, 3}, {4, 4}, {4, 5}}));

  // Drawn backwards the same cells are reached from the other end.
  fb = makeMemoryFrameBuffer(20, 10, 32);
  DrawLine(10, 4, 2, 4, 255, 255, 255, fb.get());
  EXPECT_EQ(litPixels(*fb).size(), 9u);
  EXPECT_TRUE(litPixels(*fb).contains({2, 4}));
  EXPECT_TRUE(litPixels(*fb).contains({10, 4}));
}

TEST(GfxLines, PastTheRightEdgeContinuesOnTheNextRow) {
  auto fb = makeMemoryFrameBuffer(800, 480, 32);
  DrawLine(795, 10, 804, 10, 255, 255, 255, fb.get());
  std::set<Pixel> expected;
  for (int x = 795; x < 800; ++x) expected.insert({x, 10});
  for (int x = 0; x < 5; ++x) expected.insert({x, 11});
  EXPECT_EQ(litPixels(*fb), expected);

  // A horizontal run wraps the same way.
  fb = makeMemoryFrameBuffer(800, 480, 32);
  DrawHorizontalLine(798, 20, 802, 255, 255, 255, fb.get());
  EXPECT_EQ(litPixels(*fb), (std::set<Pixel>{{798, 20}, {799, 20}, {0, 21}, {1, 21}}));
}

TEST(GfxLines, CutAtTheTopAndNeverPastTheEnd) {
  auto fb = makeMemoryFrameBuffer(800, 480, 32);
  DrawLine(10, -5, 10, 5, 255, 255, 255, fb.get());
  std::set<Pixel> expected;
  for (int y = 0; y <= 5; ++y) expected.insert({10, y});
  EXPECT_EQ(litPixels(*fb), expected);

  // Offset 0 is drawn by flat lines only, and the last pixel of the screen by none.
  fb = makeMemoryFrameBuffer(800, 480, 32);
  DrawLine(0, -3, 0, 0, 255, 255, 255, fb.get());
  EXPECT_TRUE(litPixels(*fb).empty());
  DrawLine(0, 0, 2, 0, 255, 255, 255, fb.get());
  DrawLine(797, 479, 799, 479, 255, 255, 255, fb.get());
  DrawLine(799, 470, 799, 479, 255, 255, 255, fb.get());
  const auto lit = litPixels(*fb);
  EXPECT_TRUE(lit.contains({0, 0}));
  EXPECT_TRUE(lit.contains({798, 479}));
  EXPECT_TRUE(lit.contains({799, 478}));
  EXPECT_FALSE(lit.contains({799, 479}));
}

TEST(GfxLines, FarOutsideTheScreenWritesNothing) {
  auto fb = makeMemoryFrameBuffer(64, 32, 32);
  DrawLine(-500, -400, -100, -300, 255, 255, 255, fb.get());
  DrawLine(10, 40, 20, 900, 255, 255, 255, fb.get());
  DrawHorizontalLine(-10, 5000, 1000000, 255, 255, 255, fb.get());
  DrawHorizontalLine(-1000000, -7, -100, 255, 255, 255, fb.get());
  EXPECT_TRUE(litPixels(*fb).empty());
  // A run over the whole buffer and beyond fills it from its first whole pixel.
  DrawHorizontalLine(-100, 0, 64 * 40, 255, 255, 255, fb.get());
  EXPECT_EQ(litPixels(*fb).size(), 64u * 32u);
}

TEST(GfxShapes, RectangleOutline) {
  Works works;
  works.gfx.fb = makeMemoryFrameBuffer(20, 12, 32);
  DrawRect(works, 2, 3, 6, 7, 200, 200, 200);
  std::set<Pixel> expected;
  for (int y = 3; y <= 7; ++y) expected.insert({2, y}), expected.insert({6, y});
  for (int x = 2; x < 6; ++x) expected.insert({x, 3}), expected.insert({x, 7});
  EXPECT_EQ(litPixels(*works.gfx.fb), expected);
}

TEST(GfxShapes, DrawVectFillsTheBoxInEitherOrder) {
  std::vector<uint8_t> pixels;
  for (uint8_t i = 0; i < 6; ++i) pixels.insert(pixels.end(), {i, uint8_t(i + 10), uint8_t(i + 20)});
  auto topDown = makeMemoryFrameBuffer(8, 8, 32);
  auto reversed = makeMemoryFrameBuffer(8, 8, 32);
  DrawVect(2, 1, 5, 3, topDown.get(), pixels, true);
  DrawVect(5, 3, 2, 1, reversed.get(), pixels, true);
  EXPECT_TRUE(std::equal(topDown->back.get(), topDown->back.get() + topDown->size,
                         reversed->back.get()));
  EXPECT_EQ(pixelBytes(*topDown, 2, 1), (std::vector<uint8_t>{0, 10, 20, 0}));
  EXPECT_EQ(pixelBytes(*topDown, 4, 2), (std::vector<uint8_t>{5, 15, 25, 0}));
  EXPECT_EQ(litPixels(*topDown).size(), 6u);

  // Bottom up: the first source row lands on the last row of the box.
  auto bottomUp = makeMemoryFrameBuffer(8, 8, 32);
  DrawVect(2, 1, 5, 3, bottomUp.get(), pixels, false);
  EXPECT_EQ(pixelBytes(*bottomUp, 2, 2), (std::vector<uint8_t>{0, 10, 20, 0}));
  EXPECT_EQ(pixelBytes(*bottomUp, 4, 1), (std::vector<uint8_t>{5, 15, 25, 0}));
}

TEST(GfxShapes, DrawVectStopsAtTheBufferAndTheSource) {
  std::vector<uint8_t> pixels(3 * 100, 0x7F);
  auto fb = makeMemoryFrameBuffer(8, 8, 32);
  DrawVect(6, 6, 16, 16, fb.get(), pixels, true);  // runs off the image
  DrawVect(0, 0, 8, 8, fb.get(), std::span(pixels).first(9), true);  // three pixels given
  const auto lit = litPixels(*fb);
  EXPECT_TRUE(lit.contains({0, 0}) && lit.contains({2, 0}));
  EXPECT_FALSE(lit.contains({3, 0}));
  EXPECT_TRUE(lit.contains({7, 7}));
}

TEST(GfxFrames, SetBackAndRealizeCopyWholeImages) {
  auto fb = makeMemoryFrameBuffer(10, 6, 32);
  std::fill_n(fb->background.get(), fb->size, uint8_t{9});
  fbSetBack(fb.get());
  DrawLine(0, 0, 4, 0, 255, 255, 255, fb.get());
  EXPECT_EQ(fb->screen[0], 0);
  fbRealize(fb.get());
  EXPECT_TRUE(std::equal(fb->screen.begin(), fb->screen.end(), fb->back.get()));
  EXPECT_EQ(fb->screen[fb->size - 1], 9);
  EXPECT_EQ(fb->background[0], 9);  // drawing never touches the background
  // Without a record nothing happens.
  fbRealize(nullptr);
  fbSetBack(nullptr);
  DrawLine(0, 0, 3, 3, 1, 1, 1, nullptr);
}

class GfxInit : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root.path("/dev"));
    root.addProgram("echo", "printf 'echo %s\\n' \"$*\" >> \"" + root.dir().string() +
                                "/calls.log\"\n");
  }
  void makeDevice(size_t bytes) const {
    std::ofstream(root.path("/dev/fb0"), std::ios::binary) << std::string(bytes, '\0');
  }
  testing::TempRoot root;
  testing::LogCatcher log;
};

TEST_F(GfxInit, BenchFileIsAnEightHundredByFourEightyDisplay) {
  makeDevice(800 * 480 * 4);
  auto fb = fbInit();
  ASSERT_NE(fb, nullptr);
  EXPECT_EQ(fb->width, 800u);
  EXPECT_EQ(fb->height, 480u);
  EXPECT_EQ(fb->bytesPerPixel, 4u);
  EXPECT_EQ(fb->lineLength, 3200u);
  EXPECT_EQ(fb->size, 1536000u);
  EXPECT_TRUE(log.contains("Pixel size =4"));
  EXPECT_TRUE(log.contains(
      "Screen Size x: 800, y: 480, Pixel Size 4 Line size: 3200, Mem size: 1536000"));
  const auto calls = root.calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_NE(calls[0].find("\x1b[?25l"), std::string::npos) << calls[0];

  // The file is mapped shared: a shown frame is in it at once.
  DrawHorizontalLine(0, 1, 2, 255, 0, 0, fb.get());
  fbRealize(fb.get());
  const std::string file = root.read("/dev/fb0");
  ASSERT_EQ(file.size(), 1536000u);
  EXPECT_EQ(file.substr(3200, 8), std::string("\x00\x00\xff\x00\x00\x00\xff\x00", 8));
}

TEST_F(GfxInit, MissingOrShortDeviceYieldsNoRecord) {
  EXPECT_EQ(fbInit(), nullptr);
  EXPECT_TRUE(log.contains("Unable to read framebuffer device: /dev/fb0\n"));
  makeDevice(4096);
  EXPECT_EQ(fbInit(), nullptr);
  EXPECT_TRUE(log.contains("Unable to map shared memory\n"));
  EXPECT_TRUE(
      log.contains("Make sure, that you have compiled shared memory support into your kernel.\n"));
}

}  // namespace
}  // namespace corvid

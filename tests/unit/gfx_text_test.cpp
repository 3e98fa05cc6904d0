// Text: the UTF-8 decoder, the font slots, glyph placement and the blend.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "gfx/framebuffer.h"
#include "gfx/text.h"
#include "tests/unit/gfx_test_support.h"
#include "tests/unit/test_support.h"

namespace corvid {
namespace {

using testing::kDejaVu;
using testing::kDejaVuBold;

struct Decoded {
  uint32_t codePoint;
  bool valid;
  size_t next;
  bool operator==(const Decoded&) const = default;
};

std::vector<Decoded> decodeAll(const std::string& bytes) {
  std::vector<Decoded> out;
  size_t position = 0;
  bool valid = true;
  uint32_t codePoint = 1;
  while (utf8_get_next_char(bytes.data(), bytes.size(), position, valid, codePoint) == 1) {
    out.push_back({codePoint, valid, position});
  }
  return out;
}

TEST(GfxUtf8, WellFormedCharactersOfEveryLength) {
  EXPECT_EQ(decodeAll("A\x7F"), (std::vector<Decoded>{{'A', true, 1}, {0x7F, true, 2}}));
  EXPECT_EQ(decodeAll("\xC3\xA9"), (std::vector<Decoded>{{0xE9, true, 2}}));
  EXPECT_EQ(decodeAll("\xE2\x82\xAC"), (std::vector<Decoded>{{0x20AC, true, 3}}));
  EXPECT_EQ(decodeAll("\xF0\x9F\x98\x80"), (std::vector<Decoded>{{0x1F600, true, 4}}));
  EXPECT_EQ(decodeAll("\xF4\x8F\xBF\xBF"), (std::vector<Decoded>{{0x10FFFF, true, 4}}));
}

TEST(GfxUtf8, IllFormedRunsAreSkippedByTheirMaximalPrefix) {
  // A lone lead byte at the end.
  EXPECT_EQ(decodeAll("\xC3"), (std::vector<Decoded>{{0, false, 1}}));
  // A surrogate: 0xED fails on its second byte, then two bare continuation bytes.
  EXPECT_EQ(decodeAll("\xED\xA0\x80"),
            (std::vector<Decoded>{{0, false, 1}, {0, false, 2}, {0, false, 3}}));
  // A four-byte form cut after three bytes is one run, then the next character.
  EXPECT_EQ(decodeAll("\xF0\x9F\x98" "A"), (std::vector<Decoded>{{0, false, 3}, {'A', true, 4}}));
  EXPECT_EQ(decodeAll("\xE2\x82" "A"), (std::vector<Decoded>{{0, false, 2}, {'A', true, 3}}));
  // Overlong forms, values above U+10FFFF and bytes that never start a character.
  EXPECT_EQ(decodeAll("\xC0\xAF"), (std::vector<Decoded>{{0, false, 1}, {0, false, 2}}));
  EXPECT_EQ(decodeAll("\xE0\x80"), (std::vector<Decoded>{{0, false, 1}, {0, false, 2}}));
  EXPECT_EQ(decodeAll("\xF4\x90"), (std::vector<Decoded>{{0, false, 1}, {0, false, 2}}));
  EXPECT_EQ(decodeAll("\xF5"), (std::vector<Decoded>{{0, false, 1}}));
  EXPECT_EQ(decodeAll("\xC2" "A"), (std::vector<Decoded>{{0, false, 1}, {'A', true, 2}}));
}

TEST(GfxUtf8, EndOfTextAndTheLengthLimit) {
  size_t position = 3;
  bool valid = true;
  uint32_t codePoint = 7;
  EXPECT_EQ(utf8_get_next_char("abc", 3, position, valid, codePoint), -1);
  // The length, not the bytes after it, bounds a character.
  position = 0;
  EXPECT_EQ(utf8_get_next_char("\xE2\x82\xAC", 2, position, valid, codePoint), 1);
  EXPECT_FALSE(valid);
  EXPECT_EQ(codePoint, 0u);
  EXPECT_EQ(position, 2u);
}

// Fonts for every test of this file: slot 1 the plain face, slot 9 the large one.
class GfxText : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(TTFLoad(kDejaVu.c_str(), 22, 1), 0);
    ASSERT_EQ(TTFLoad(kDejaVu.c_str(), 30, 9), 0);
    ASSERT_EQ(TTFLoad(kDejaVuBold.c_str(), 24, 0), 0);
  }
  void TearDown() override { setGlyphCache(GlyphCache::On); }

  static std::unique_ptr<FrameBuffer> screen(uint8_t fill = 0) {
    auto fb = makeMemoryFrameBuffer(800, 480, 32);
    std::fill_n(fb->back.get(), fb->size, fill);
    return fb;
  }
  static bool sameImage(const FrameBuffer& a, const FrameBuffer& b) {
    return std::equal(a.back.get(), a.back.get() + a.size, b.back.get());
  }
  // Columns and rows of the inked pixels of a black image.
  struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
  };
  static Box inkBox(const FrameBuffer& fb) {
    Box box;
    for (int y = 0; y < static_cast<int>(fb.height); ++y) {
      for (int x = 0; x < static_cast<int>(fb.width); ++x) {
        if (fb.back[y * fb.lineLength + x * 4 + 2] == 0) continue;
        box.left = std::min(box.left, x);
        box.right = std::max(box.right, x);
        box.top = std::min(box.top, y);
        box.bottom = std::max(box.bottom, y);
      }
    }
    return box;
  }
};

TEST_F(GfxText, EmptyTextDrawsNothingAndHasNoWidth) {
  auto fb = screen(0x33);
  putString(1, 100, 100, "", 255, 255, 255, fb.get());
  EXPECT_TRUE(std::all_of(fb->back.get(), fb->back.get() + fb->size,
                          [](uint8_t b) { return b == 0x33; }));
  EXPECT_EQ(getStringSpace(1, ""), 0);
}

TEST_F(GfxText, PenStartsAtTheLeftEdgeOnTheBaseline) {
  auto fb = screen();
  putString(9, 100, 200, "H", 255, 255, 255, fb.get());
  const Box box = inkBox(*fb);
  // The glyph's own left bearing is not used: its bitmap starts at the pen.
  EXPECT_EQ(box.left, 100);
  EXPECT_EQ(box.bottom, 200);
  EXPECT_LT(box.top, 185);
  // A descender goes below the baseline.
  fb = screen();
  putString(9, 100, 200, "g", 255, 255, 255, fb.get());
  EXPECT_GT(inkBox(*fb).bottom, 203);
}

TEST_F(GfxText, WidthIsWhatThePenAdvances) {
  const int widthA = getStringSpace(9, "A");
  EXPECT_GT(widthA, 10);
  EXPECT_EQ(getStringSpace(9, "AB"), widthA + getStringSpace(9, "B"));
  auto whole = screen();
  auto pieces = screen();
  putString(9, 50, 100, "AB", 255, 255, 255, whole.get());
  putString(9, 50, 100, "A", 255, 255, 255, pieces.get());
  putString(9, 50 + widthA, 100, "B", 255, 255, 255, pieces.get());
  EXPECT_TRUE(sameImage(*whole, *pieces));
}

TEST_F(GfxText, BlendDarkensTheOldColourAndAndsTheComponent) {
  // White on black gives the coverage itself.
  auto coverage = screen();
  putString(9, 40, 60, "Wg8", 255, 255, 255, coverage.get());
  auto fb = screen();
  for (uint32_t i = 0; i < fb->size; i += 4) {
    fb->back[i] = 100;
    fb->back[i + 1] = 180;
    fb->back[i + 2] = 250;
    fb->back[i + 3] = 0x77;
  }
  putString(9, 40, 60, "Wg8", 0x5A, 0x00, 0xFF, fb.get());
  const Box box = inkBox(*coverage);
  int checked = 0;
  for (int y = box.top; y <= box.bottom; ++y) {
    for (int x = box.left; x <= box.right; ++x) {
      const size_t o = y * fb->lineLength + x * 4;
      const unsigned a = coverage->back[o];
      ASSERT_EQ(fb->back[o], (255 - a) * 100 / 255 + (0xFF & a)) << x << "," << y;
      ASSERT_EQ(fb->back[o + 1], (255 - a) * 180 / 255) << x << "," << y;
      ASSERT_EQ(fb->back[o + 2], (255 - a) * 250 / 255 + (0x5A & a)) << x << "," << y;
      if (a != 0) ++checked;
    }
  }
  EXPECT_GT(checked, 100);
  // The fourth byte is cleared under the glyphs' boxes only.
  EXPECT_EQ(fb->back[box.top * fb->lineLength + box.left * 4 + 3], 0);
  EXPECT_EQ(fb->back[3], 0x77);
}

TEST_F(GfxText, PastTheRightEdgeReappearsOneRowLower) {
  auto wrapped = screen();
  auto shifted = screen();
  putString(9, 790, 100, "MMM", 255, 255, 255, wrapped.get());
  putString(9, -10, 101, "MMM", 255, 255, 255, shifted.get());
  EXPECT_TRUE(sameImage(*wrapped, *shifted));
  EXPECT_LT(inkBox(*wrapped).left, 20);
}

TEST_F(GfxText, NothingIsWrittenOutsideTheImage) {
  auto fb = makeMemoryFrameBuffer(40, 20, 32);
  putString(9, 0, 5, "Hg", 255, 255, 255, fb.get());     // above the top
  putString(9, 10, 30, "Hg", 255, 255, 255, fb.get());   // below the bottom
  putString(9, 30, 19, "Hg", 255, 255, 255, fb.get());   // past the last byte
  putString(9, -5000, -5000, "Hg", 255, 255, 255, fb.get());
  const Box box = inkBox(*fb);
  EXPECT_GE(box.bottom, 0);  // the parts inside are drawn
}

TEST_F(GfxText, OnlyThirtyTwoBitDisplaysGetText) {
  auto fb = makeMemoryFrameBuffer(100, 50, 16);
  putString(1, 10, 30, "Text", 255, 255, 255, fb.get());
  EXPECT_TRUE(std::all_of(fb->back.get(), fb->back.get() + fb->size,
                          [](uint8_t b) { return b == 0; }));
}

TEST_F(GfxText, IllFormedBytesDrawTheMissingGlyph) {
  const int missing = getStringSpace(1, "\xC3");
  EXPECT_GT(missing, 0);
  EXPECT_EQ(getStringSpace(1, "\xFF"), missing);
  EXPECT_EQ(getStringSpace(1, "a\xED\xA0\x80z"), getStringSpace(1, "az") + 3 * missing);
}

TEST_F(GfxText, CachedGlyphsDrawTheSamePixels) {
  const char* texts[] = {"Loading ... 9", "PA1:031.5\xC2\xB0" "C", "SWR 1.5  -12dBm", "\xE2\x82\xAC!",
                         "\xF0\x9F\x98", "Wj"};
  for (int slot : {0, 1, 9}) {
    for (const char* text : texts) {
      for (int x : {-7, 0, 13, 781}) {
        setGlyphCache(GlyphCache::Off);
        auto fresh = screen(0x40);
        putString(slot, x, 140, text, 250, 150, 0, fresh.get());
        const int freshWidth = getStringSpace(slot, text);
        setGlyphCache(GlyphCache::On);
        auto once = screen(0x40);
        putString(slot, x, 140, text, 250, 150, 0, once.get());
        EXPECT_TRUE(sameImage(*fresh, *once)) << slot << " " << text << " " << x;
        auto cached = screen(0x40);
        putString(slot, x, 140, text, 250, 150, 0, cached.get());
        putString(slot, x, 140, text, 250, 150, 0, cached.get());  // and from the cache
        auto twice = screen(0x40);
        setGlyphCache(GlyphCache::Off);
        putString(slot, x, 140, text, 250, 150, 0, twice.get());
        putString(slot, x, 140, text, 250, 150, 0, twice.get());
        EXPECT_TRUE(sameImage(*cached, *twice)) << slot << " " << text << " " << x;
        setGlyphCache(GlyphCache::On);
        EXPECT_EQ(getStringSpace(slot, text), freshWidth) << slot << " " << text;
      }
    }
  }
}

class GfxFontSlots : public ::testing::Test {
 protected:
  void TearDown() override { TTFLoad(kDejaVu.c_str(), 22, 1); }
  testing::LogCatcher log;
};

TEST_F(GfxFontSlots, LoadingLogsEachStep) {
  ASSERT_EQ(TTFLoad(kDejaVu.c_str(), 18, 10), 0);
  const int init = log.find("Iinitializing FreeType");
  const int face = log.find("Loading face: filename=" + kDejaVu, init);
  const int loaded = log.find("Face loaded", face);
  const int sized = log.find("Pixel size sat", loaded);
  EXPECT_GE(init, 0);
  EXPECT_GT(sized, loaded);
  EXPECT_GT(loaded, face);
}

TEST_F(GfxFontSlots, AnEmptySlotDrawsWithSlotOne) {
  EXPECT_EQ(TTFLoad("/no/such/font.ttf", 24, 4), -1);
  EXPECT_TRUE(log.contains("FreeType: file error"));
  {
    testing::TempRoot root;  // font paths are taken under the root
    std::filesystem::create_directories(root.path("/opt/fonts"));
    root.write("/opt/fonts/broken.ttf", "not a font at all, just some text in a file");
    EXPECT_EQ(TTFLoad("/opt/fonts/broken.ttf", 24, 12), -1);
    EXPECT_TRUE(log.contains("FreeType: file format not supported"));
  }

  ASSERT_EQ(TTFLoad(kDejaVu.c_str(), 22, 1), 0);
  auto viaEmpty = makeMemoryFrameBuffer(200, 60, 32);
  auto viaOne = makeMemoryFrameBuffer(200, 60, 32);
  putString(4, 5, 40, "14.070", 255, 255, 255, viaEmpty.get());
  putString(1, 5, 40, "14.070", 255, 255, 255, viaOne.get());
  EXPECT_TRUE(std::equal(viaOne->back.get(), viaOne->back.get() + viaOne->size,
                         viaEmpty->back.get()));
  EXPECT_EQ(getStringSpace(12, "14.070"), getStringSpace(1, "14.070"));
  EXPECT_GT(getStringSpace(3, "14.070"), 0);
  // Numbers outside the table draw nothing.
  EXPECT_EQ(getStringSpace(20, "14.070"), 0);
  EXPECT_EQ(getStringSpace(-1, "14.070"), 0);
}

TEST_F(GfxFontSlots, WithSlotOneEmptyTooNothingIsDrawn) {
  EXPECT_EQ(TTFLoad("/no/such/font.ttf", 22, 1), -1);
  auto fb = makeMemoryFrameBuffer(200, 60, 32);
  putString(13, 5, 40, "text", 255, 255, 255, fb.get());
  putString(1, 5, 40, "text", 255, 255, 255, fb.get());
  EXPECT_TRUE(std::all_of(fb->back.get(), fb->back.get() + fb->size,
                          [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(getStringSpace(1, "text"), 0);
}

}  // namespace
}  // namespace corvid

#include "gfx/text.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "gfx/framebuffer.h"
#include "platform/log.h"
#include "platform/root.h"

namespace corvid {

namespace {

using platform::logError;
using platform::logInfo;

// The slot whose face stands in for an empty one.
constexpr int kFallbackSlot = 1;
// A slot forgets its rendered glyphs when it holds this many, so the memory stays
// bounded whatever the texts (the panel draws a few hundred different glyphs).
constexpr size_t kGlyphCacheLimit = 2048;

struct FontFile {
  int slot;
  const char* file;
  int pixelSize;
};

// Slot 3 is never loaded; slot 0 is loaded twice, as the panel always has.
constexpr std::array<FontFile, 12> kPanelFonts{{
    {0, "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", 24},
    {1, "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 22},
    {2, "/opt/fonts/PTS55F_W.ttf", 22},
    {0, "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", 24},
    {4, "/opt/fonts/PTS75F_W.ttf", 24},
    {5, "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 8},
    {6, "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 14},
    {7, "/usr/share/fonts/truetype/dejavu/DejaVuSans-Oblique.ttf", 24},
    {8, "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 20},
    {9, "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 30},
    {10, "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 18},
    {11, "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", 21},
}};

// One rendered glyph as drawing needs it: the coverage map and the metrics that place
// it (26.6 fixed point).
struct GlyphView {
  const uint8_t* coverage = nullptr;
  int pitch = 0;
  int rows = 0;
  int width = 0;
  int64_t height = 0;      // metrics.height
  int64_t bearingY = 0;    // metrics.horiBearingY
  int64_t advanceX = 0;
  int64_t advanceY = 0;
};

struct CachedGlyph {
  bool loaded = false;
  GlyphView view;
  std::vector<uint8_t> coverage;  // rows x width, tightly packed
};

struct FontSlot {
  std::mutex lock;  // guards everything below
  FT_Face face = nullptr;
  int fontSize = 0;
  std::unordered_map<uint64_t, CachedGlyph> glyphs;
};

struct Fonts {
  std::mutex libraryLock;  // FT_New_Face and FT_Done_Face on one library are not reentrant
  FT_Library library = nullptr;
  std::array<FontSlot, kFontSlotCount> slots;
};

// The font tables the panel software keeps as globals: made on first use and kept for
// the life of the process, like the faces in them.
Fonts& fonts() {
  static Fonts* table = new Fonts;
  return *table;
}

std::atomic<GlyphCache> gCacheMode{GlyphCache::On};

// Pen positions are whole 26.6 values kept in 64 bits; FreeType is handed only the
// pen's fraction of a pixel. A glyph's coverage map does not change when its outline
// moves by whole pixels (the renderer works relative to the pixel-aligned box), and the
// placement below uses the pen, not the bitmap's own offsets, so the pixels are those
// of a translation by the whole pen.
constexpr int64_t kFraction = 63;

// Loads and renders one glyph into the face's glyph slot; false when FreeType refuses.
bool renderGlyph(FT_Face face, uint32_t codePoint, int64_t fracX, int64_t fracY) {
  FT_Matrix identity{0x10000, 0, 0, 0x10000};
  FT_Vector delta{static_cast<FT_Pos>(fracX), static_cast<FT_Pos>(fracY)};
  FT_Set_Transform(face, &identity, &delta);
  return FT_Load_Char(face, codePoint, FT_LOAD_RENDER) == 0;
}

GlyphView viewOf(FT_GlyphSlot slot) {
  GlyphView v;
  v.coverage = slot->bitmap.buffer;
  v.pitch = slot->bitmap.pitch;
  v.rows = static_cast<int>(slot->bitmap.rows);
  v.width = static_cast<int>(slot->bitmap.width);
  v.height = slot->metrics.height;
  v.bearingY = slot->metrics.horiBearingY;
  v.advanceX = slot->advance.x;
  v.advanceY = slot->advance.y;
  if (v.coverage == nullptr) v.rows = v.width = 0;
  return v;
}

// The glyph of a code point at a pen fraction, from the cache or freshly rendered.
// Null when the font cannot load it. The view stays valid until the next call on the
// slot (its lock is held meanwhile).
const GlyphView* glyphAt(FontSlot& slot, uint32_t codePoint, int64_t penX, int64_t penY,
                         GlyphCache mode, GlyphView& scratch) {
  const int64_t fracX = penX & kFraction;
  const int64_t fracY = penY & kFraction;
  if (mode == GlyphCache::Off) {
    if (!renderGlyph(slot.face, codePoint, fracX, fracY)) return nullptr;
    scratch = viewOf(slot.face->glyph);
    return &scratch;
  }
  const uint64_t key = uint64_t{codePoint} << 12 | static_cast<uint64_t>(fracX) << 6 |
                       static_cast<uint64_t>(fracY);
  if (auto it = slot.glyphs.find(key); it != slot.glyphs.end()) {
    return it->second.loaded ? &it->second.view : nullptr;
  }
  CachedGlyph& glyph = slot.glyphs[key];
  if (!renderGlyph(slot.face, codePoint, fracX, fracY)) return nullptr;
  glyph.loaded = true;
  glyph.view = viewOf(slot.face->glyph);
  glyph.coverage.resize(static_cast<size_t>(glyph.view.rows) * glyph.view.width);
  for (int k = 0; k < glyph.view.rows; ++k) {
    std::memcpy(glyph.coverage.data() + static_cast<size_t>(k) * glyph.view.width,
                glyph.view.coverage + static_cast<ptrdiff_t>(k) * glyph.view.pitch,
                static_cast<size_t>(glyph.view.width));
  }
  glyph.view.coverage = glyph.coverage.data();
  glyph.view.pitch = glyph.view.width;
  return &glyph.view;
}

// The slot that draws for a slot number, or null when none can.
FontSlot* drawingSlot(int index) {
  if (index < 0 || index >= kFontSlotCount) return nullptr;
  Fonts& f = fonts();
  {
    std::scoped_lock lock(f.slots[index].lock);
    if (f.slots[index].face != nullptr) return &f.slots[index];
  }
  std::scoped_lock lock(f.slots[kFallbackSlot].lock);
  return f.slots[kFallbackSlot].face != nullptr ? &f.slots[kFallbackSlot] : nullptr;
}

// Blends one glyph at the pen. Each colour byte becomes old x (255 - a) / 255 plus the
// component ANDed with the coverage (not multiplied: the panel's own blend, exact for
// white and black text); the fourth byte is cleared. Coverage 0 leaves the colour.
void blendGlyph(FrameBuffer& fb, const GlyphView& g, int64_t penX, int64_t penY,
                const std::array<uint8_t, 3>& bgr) {
  const int64_t bottom = (penY + g.height - g.bearingY) / 64;
  const int64_t left = penX / 64;
  uint8_t* image = fb.back.get();
  const int64_t size = fb.size;
  for (int k = 0; k < g.rows; ++k) {
    const int64_t row = bottom - (g.rows - 1 - k);
    const uint8_t* coverage = g.coverage + static_cast<ptrdiff_t>(k) * g.pitch;
    for (int j = 0; j < g.width; ++j) {
      const int64_t o = row * fb.lineLength + (left + j) * fb.bytesPerPixel;
      if (o < 0 || o + 3 >= size) continue;
      const unsigned a = coverage[j];
      uint8_t* p = image + o;
      for (int c = 0; c < 3; ++c) {
        p[c] = static_cast<uint8_t>((255u - a) * p[c] / 255u + (bgr[c] & a));
      }
      p[3] = 0;
    }
  }
}

}  // namespace

int TTFLoad(const char* fileName, int pixelSize, int slotIndex) {
  if (fileName == nullptr || slotIndex < 0 || slotIndex >= kFontSlotCount) return -1;
  Fonts& f = fonts();
  FontSlot& slot = f.slots[slotIndex];
  std::scoped_lock lock(slot.lock, f.libraryLock);

  // One library serves every slot; the first load starts it.
  logInfo("Iinitializing FreeType");
  if (f.library == nullptr && FT_Init_FreeType(&f.library) != 0) {
    f.library = nullptr;
    logError("Error initializing FreeType");
    return -1;
  }

  if (slot.face != nullptr) FT_Done_Face(slot.face);
  slot.face = nullptr;
  slot.fontSize = 0;
  slot.glyphs.clear();

  logInfo("Loading face: filename=%s", fileName);
  const std::string path = platform::hostPath(fileName);
  FT_Face face = nullptr;
  const FT_Error error = FT_New_Face(f.library, path.c_str(), 0, &face);
  if (error == FT_Err_Unknown_File_Format) {
    logError("FreeType: file format not supported");
  } else if (error != 0) {
    logError("FreeType: file error");
  } else {
    logInfo("Face loaded");
  }
  if (error != 0) {
    // The panel software goes on to size the missing face, which fails: same lines.
    logError("Error Setting Pixel Size");
    logInfo("Pixel size sat");
    return -1;
  }
  if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixelSize < 0 ? 0 : pixelSize)) != 0) {
    logError("Error Setting Pixel Size");
  }
  logInfo("Pixel size sat");
  slot.face = face;
  slot.fontSize = pixelSize;
  return 0;
}

void loadPanelFonts() {
  for (const FontFile& font : kPanelFonts) TTFLoad(font.file, font.pixelSize, font.slot);
}

void setGlyphCache(GlyphCache mode) { gCacheMode = mode; }

int utf8_get_next_char(const char* text, size_t length, size_t& position, bool& valid,
                       uint32_t& codePoint) {
  codePoint = 0;
  valid = false;
  if (text == nullptr || position >= length) return -1;
  const auto at = [&](size_t i) { return static_cast<uint8_t>(text[position + i]); };
  const auto continuation = [](uint8_t c) { return c >= 0x80 && c <= 0xBF; };
  const size_t left = length - position;
  const uint8_t b = at(0);

  if (b < 0x80) {
    codePoint = b;
    valid = true;
    position += 1;
    return 1;
  }
  if (b <= 0xC1 || b >= 0xF5) {
    position += 1;
    return 1;
  }
  if (b <= 0xDF) {
    if (left >= 2 && continuation(at(1))) {
      codePoint = static_cast<uint32_t>(b & 0x1F) << 6 | (at(1) & 0x3Fu);
      valid = true;
      position += 2;
    } else {
      position += 1;
    }
    return 1;
  }
  // Three and four bytes: the second byte's range excludes overlong forms, surrogates and
  // values above U+10FFFF.
  uint8_t low = 0x80;
  uint8_t high = 0xBF;
  if (b == 0xE0) low = 0xA0;
  if (b == 0xED) high = 0x9F;
  if (b == 0xF0) low = 0x90;
  if (b == 0xF4) high = 0x8F;
  if (left < 2 || at(1) < low || at(1) > high) {
    position += 1;
    return 1;
  }
  if (left < 3 || !continuation(at(2))) {
    position += 2;
    return 1;
  }
  if (b <= 0xEF) {
    codePoint = static_cast<uint32_t>(b & 0x0F) << 12 | (at(1) & 0x3Fu) << 6 | (at(2) & 0x3Fu);
    valid = true;
    position += 3;
    return 1;
  }
  if (left < 4 || !continuation(at(3))) {
    position += 3;
    return 1;
  }
  codePoint = static_cast<uint32_t>(b & 0x07) << 18 | (at(1) & 0x3Fu) << 12 |
              (at(2) & 0x3Fu) << 6 | (at(3) & 0x3Fu);
  valid = true;
  position += 4;
  return 1;
}

void putString(int slotIndex, int x, int y, const char* text, uint8_t red, uint8_t green,
               uint8_t blue, FrameBuffer* fb) {
  if (text == nullptr || fb == nullptr || fb->back == nullptr || fb->bytesPerPixel != 4) return;
  FontSlot* slot = drawingSlot(slotIndex);
  if (slot == nullptr) return;
  const GlyphCache mode = gCacheMode.load();
  const std::array<uint8_t, 3> bgr{blue, green, red};
  const size_t length = std::strlen(text);

  std::scoped_lock lock(slot->lock);
  if (slot->face == nullptr) return;  // reloaded meanwhile
  if (slot->glyphs.size() > kGlyphCacheLimit) slot->glyphs.clear();
  std::scoped_lock frame(fb->frameLock);
  int64_t penX = int64_t{x} * 64;
  int64_t penY = int64_t{y} * 64;
  size_t position = 0;
  bool valid = false;
  uint32_t codePoint = 0;
  GlyphView scratch;
  while (utf8_get_next_char(text, length, position, valid, codePoint) == 1) {
    const GlyphView* glyph = glyphAt(*slot, codePoint, penX, penY, mode, scratch);
    if (glyph == nullptr) continue;  // the font cannot load it: skipped, pen stays
    blendGlyph(*fb, *glyph, penX, penY, bgr);
    penX += glyph->advanceX;
    penY += glyph->advanceY;
  }
}

int getStringSpace(int slotIndex, const char* text) {
  if (text == nullptr) return 0;
  FontSlot* slot = drawingSlot(slotIndex);
  if (slot == nullptr) return 0;
  const GlyphCache mode = gCacheMode.load();
  const size_t length = std::strlen(text);

  std::scoped_lock lock(slot->lock);
  if (slot->face == nullptr) return 0;
  if (slot->glyphs.size() > kGlyphCacheLimit) slot->glyphs.clear();
  int64_t penX = 0;
  int64_t penY = 0;
  size_t position = 0;
  bool valid = false;
  uint32_t codePoint = 0;
  GlyphView scratch;
  while (utf8_get_next_char(text, length, position, valid, codePoint) == 1) {
    const GlyphView* glyph = glyphAt(*slot, codePoint, penX, penY, mode, scratch);
    if (glyph == nullptr) continue;
    penX += glyph->advanceX;
    penY += glyph->advanceY;
  }
  return static_cast<int>(penX / 64);
}

}  // namespace corvid

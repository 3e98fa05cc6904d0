// TrueType text from FreeType, blended into the back buffer, and the UTF-8 decoder it uses.
//
// Fonts live in 20 numbered slots, loaded by main before any thread draws. An empty slot
// (never loaded, or its font file could not be opened) draws with slot 1 instead, so a
// unit missing a font file still shows its text in the panel's plain face; with slot 1
// empty too nothing is drawn and getStringSpace gives 0. A FreeType face is not
// thread-safe: each slot has its own lock, held for the whole call.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvid {

struct FrameBuffer;

inline constexpr int kFontSlotCount = 20;

// Opens face 0 of a font file (under the root) into a slot at a pixel size, replacing
// what the slot held. 0 when the slot holds the font afterwards, -1 otherwise (logged).
int TTFLoad(const char* fileName, int pixelSize, int slotIndex);

// The panel's fonts, in the order main loads them: slots 0, 1, 2, 0, 4, 5, ..., 11.
void loadPanelFonts();

// Draws text (UTF-8, zero-terminated) into the back buffer. (x, y) is the pen start: x
// the left edge of the first glyph, y the baseline row. Coordinates are not clipped: a
// glyph past the right edge continues one row lower at the left; only pixels whose
// bytes lie inside the image are written. 4 bytes per pixel only.
void putString(int slot, int x, int y, const char* text, uint8_t red, uint8_t green,
               uint8_t blue, FrameBuffer* fb);

// How far putString advances the pen over the text, in whole pixels.
int getStringSpace(int slot, const char* text);

// Decodes the character at position (a byte index, advanced past what was consumed).
// Returns 1 when a character or an ill-formed run was consumed (valid false, code point 0
// for the latter), -1 when position is at or past length. Skips exactly the maximal
// ill-formed prefix, so surrogates, overlong forms and values above U+10FFFF never come out.
int utf8_get_next_char(const char* text, size_t length, size_t& position, bool& valid,
                       uint32_t& codePoint);

// Rendered glyphs are kept per slot and drawn again from memory; the pixels are the same
// either way (a glyph's coverage depends only on the pen's fraction of a pixel, which is
// part of the key). Off renders every glyph anew, for measurements and the tests that
// prove the two agree.
enum class GlyphCache { On, Off };
void setGlyphCache(GlyphCache mode);

}  // namespace corvid

// The framebuffer record and the drawing primitives. Every frame is composed off-screen:
// fbSetBack copies the background picture into the back buffer, the screen content is
// drawn into the back buffer, and fbRealize copies it to the visible device memory in one
// piece, so the panel never shows a half-drawn frame.
//
// Several threads draw (the display loop, the key handling, the start-up loader). Each
// primitive, fbSetBack, fbRealize, putString and the picture loader hold frameLock for
// the whole call, so every pixel write is ordered; a frame shown while another thread
// draws may still mix two states, which the next frame repairs.
//
// Pixel formats drawn on: 2 bytes (RGB565, little-endian) and 4 bytes (blue, green, red,
// 0). 1 and 3 bytes per pixel are accepted at start-up, but nothing is drawn on them.
// No call ever writes outside the buffers, whatever the coordinates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>

#include "gfx/gfx_state.h"

namespace corvid {

struct Works;

// Bytes per pixel for the bits per pixel of a mode; 0 for a format that is refused.
uint32_t bytesPerPixelFor(uint32_t bitsPerPixel);

// Opens /dev/fb0 (under the root), sets the visible area to the start of the device
// memory, maps it and allocates the two off-screen images. Nothing on failure (logged).
std::unique_ptr<FrameBuffer> fbInit();

// A record whose visible memory is a plain buffer (tests, benchmarks, the screenshot of
// a screen); all three images start black. Nothing for a refused pixel format.
std::unique_ptr<FrameBuffer> makeMemoryFrameBuffer(uint32_t width, uint32_t height,
                                                   uint32_t bitsPerPixel);

// The primitives. A null record draws nothing (the display could not be opened).
void fbRealize(FrameBuffer* fb);  // back -> screen
void fbSetBack(FrameBuffer* fb);  // background -> back
// Pixels x_start <= x < x_end on row y.
void DrawHorizontalLine(int x_start, int y, int x_end, uint8_t R, uint8_t G, uint8_t B,
                        FrameBuffer* fb);
// A straight line including both end points; nothing when they coincide.
void DrawLine(int x0, int y0, int x1, int y1, uint8_t R, uint8_t G, uint8_t B, FrameBuffer* fb);
// The outline of the rectangle (x1, y1)-(x2, y2) into the back buffer of works.
void DrawRect(Works& works, int x1, int y1, int x2, int y2, uint8_t R, uint8_t G, uint8_t B);
// Fills the box spanned by the two corners from packed 3-byte pixels already in the
// device's byte order (blue, green, red), row after row; with topDown false the first
// source row lands at the bottom. 4 bytes per pixel only.
void DrawVect(int x_a, int y_a, int x_b, int y_b, FrameBuffer* fb, std::span<const uint8_t> pixels,
              bool topDown);

}  // namespace corvid

#include "gfx/framebuffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/works.h"
#include "platform/command.h"
#include "platform/log.h"

namespace corvid {

namespace {

using platform::logError;
using platform::logInfo;

constexpr const char* kDevice = "/dev/fb0";
// Hides the console text cursor on the first virtual console.
constexpr const char* kHideCursor = "/bin/echo -e -n '\x1b[?25l' >/dev/tty0";

std::unique_ptr<uint8_t[]> allocateImage(size_t bytes) {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[bytes]());
}

bool fillImages(FrameBuffer& fb) {
  fb.back = allocateImage(fb.size);
  fb.background = allocateImage(fb.size);
  return fb.back != nullptr && fb.background != nullptr;
}

void setGeometry(FrameBuffer& fb, const platform::ScreenMode& mode, uint32_t bytesPerPixel) {
  // The record keeps the resolution through a 16-bit copy, as the panel software always has.
  fb.width = static_cast<uint16_t>(mode.xres);
  fb.height = static_cast<uint16_t>(mode.yres);
  fb.bytesPerPixel = bytesPerPixel;
  fb.size = mode.xres * mode.yres * mode.bitsPerPixel / 8;
  fb.lineLength = mode.xres * bytesPerPixel;
}

// Writes one pixel whose bytes the caller has checked to lie inside the image.
inline void putPixel(uint8_t* p, uint32_t bytesPerPixel, uint8_t R, uint8_t G, uint8_t B) {
  if (bytesPerPixel == 4) {
    p[0] = B;
    p[1] = G;
    p[2] = R;
    p[3] = 0;
  } else if (bytesPerPixel == 2) {
    const unsigned v = (R & 0xF8u) << 8 | (G >> 2u) << 5 | (B >> 3u);
    p[0] = static_cast<uint8_t>(v & 0xFF);  // low half first: little-endian
    p[1] = static_cast<uint8_t>(v >> 8);
  }
}

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0 && a < 0) ? 1 : 0); }
int64_t ceilDiv(int64_t a, int64_t b) { return -floorDiv(-a, b); }

bool drawable(const FrameBuffer& fb) {
  return (fb.bytesPerPixel == 2 || fb.bytesPerPixel == 4) && fb.back != nullptr;
}

// No clipping on coordinates: a pixel is written wherever its offset lies in the image,
// so a run past the right edge continues on the next row, as on the panel. The column
// range is narrowed to those offsets first instead of testing every pixel.
void horizontalLine(FrameBuffer& fb, int xStart, int y, int xEnd, uint8_t R, uint8_t G,
                    uint8_t B) {
  if (!drawable(fb) || xStart >= xEnd || fb.size < fb.bytesPerPixel) return;
  const int64_t bpp = fb.bytesPerPixel;
  const int64_t rowOffset = int64_t{y} * fb.lineLength;
  const int64_t lastOffset = int64_t{fb.size} - bpp;
  // Offsets of a column: rowOffset + x * bpp, kept within [0, lastOffset].
  const int64_t low = ceilDiv(-rowOffset, bpp);
  const int64_t high = floorDiv(lastOffset - rowOffset, bpp);
  const int64_t first = std::max<int64_t>(xStart, low);
  const int64_t last = std::min<int64_t>(int64_t{xEnd} - 1, high);
  uint8_t* image = fb.back.get();
  for (int64_t x = first; x <= last; ++x) {
    putPixel(image + rowOffset + x * bpp, fb.bytesPerPixel, R, G, B);
  }
}

enum class Slope { Flat, Steep };

// The offset test of the panel's line drawing: only pixels whose offset lies below
// size - bytesPerPixel (and above 0 for steep lines, at or above for flat ones) are
// written. So the last pixel of the screen is never drawn by a line.
inline void linePixel(FrameBuffer& fb, int64_t x, int64_t y, Slope slope, uint8_t R,
                      uint8_t G, uint8_t B) {
  const int64_t o = x * fb.bytesPerPixel + y * fb.lineLength;
  const int64_t limit = int64_t{fb.size} - fb.bytesPerPixel;
  const bool inside = slope == Slope::Flat ? o >= 0 : o > 0;
  if (inside && o < limit) putPixel(fb.back.get() + o, fb.bytesPerPixel, R, G, B);
}

// Integer Bresenham, both end points included.
void line(FrameBuffer& fb, int x0, int y0, int x1, int y1, uint8_t R, uint8_t G, uint8_t B) {
  if (!drawable(fb)) return;
  if (x0 == x1 && y0 == y1) return;
  const int64_t dx = int64_t{x1} - x0;
  const int64_t dy = int64_t{y1} - y0;
  const int64_t sx = dx < 1 ? -1 : 1;
  const int64_t sy = dy < 1 ? -1 : 1;
  const int64_t adx = dx < 0 ? -dx : dx;
  const int64_t ady = dy < 0 ? -dy : dy;
  int64_t x = x0;
  int64_t y = y0;
  if (adx >= ady) {
    int64_t e = 2 * ady - adx;
    for (int64_t i = 0; i <= adx; ++i) {
      linePixel(fb, x, y, Slope::Flat, R, G, B);
      while (e >= 0) {
        y += sy;
        e -= 2 * adx;
      }
      x += sx;
      e += 2 * ady;
    }
  } else {
    int64_t e = 2 * adx - ady;
    for (int64_t i = 0; i <= ady; ++i) {
      linePixel(fb, x, y, Slope::Steep, R, G, B);
      while (e >= 0) {
        x += sx;
        e -= 2 * ady;
      }
      y += sy;
      e += 2 * adx;
    }
  }
}

}  // namespace

uint32_t bytesPerPixelFor(uint32_t bitsPerPixel) {
  switch (bitsPerPixel) {
    case 4:
    case 8: return 1;
    case 5:
    case 15:
    case 16: return 2;
    case 24: return 3;
    case 32: return 4;
    default: return 0;
  }
}

std::unique_ptr<FrameBuffer> fbInit() {
  platform::runCommand(kHideCursor);

  std::unique_ptr<FrameBuffer> fb(new (std::nothrow) FrameBuffer);
  if (fb == nullptr) {
    logError("Unable to allocate framebuffer structure");
    return nullptr;
  }
  auto device = platform::FramebufferDevice::openDevice(kDevice);
  if (!device.ok()) {
    logError("Unable to read framebuffer device: /dev/fb0\n");
    return nullptr;
  }
  const auto mode = device->readMode();
  if (!mode.ok()) {
    logError("Unable to read screen info.\n");
    logError("Do you have read+write privilages to /dev/fb0?\n");
    return nullptr;
  }
  if (device->resetOffsets() != 0) {
    logError("Unable to change screen data\n");
    logError("Do you have write privilages to /dev/fb0?\n");
    logError("Does your video card support double buffering?\n");
    return nullptr;
  }
  const uint32_t bytesPerPixel = bytesPerPixelFor(mode.value().bitsPerPixel);
  if (bytesPerPixel == 0) {
    logError("Unknown pixel format");
    return nullptr;
  }
  logInfo("Pixel size =%d", static_cast<int>(bytesPerPixel));
  setGeometry(*fb, mode.value(), bytesPerPixel);
  if (fb->size == 0 || device->map(fb->size) != 0) {
    logError("Unable to map shared memory\n");
    logError("Make sure, that you have compiled shared memory support into your kernel.\n");
    return nullptr;
  }
  // The panel software has no message for this; without the images nothing can be shown.
  if (!fillImages(*fb)) {
    logError("Unable to allocate framebuffer images");
    return nullptr;
  }
  logInfo("Screen Size x: %d, y: %d, Pixel Size %d Line size: %d, Mem size: %d\n",
          static_cast<int>(fb->width), static_cast<int>(fb->height),
          static_cast<int>(fb->bytesPerPixel), static_cast<int>(fb->lineLength),
          static_cast<int>(fb->size));
  fb->device = std::move(device.value());
  fb->screen = fb->device.memory();
  return fb;
}

std::unique_ptr<FrameBuffer> makeMemoryFrameBuffer(uint32_t width, uint32_t height,
                                                   uint32_t bitsPerPixel) {
  const uint32_t bytesPerPixel = bytesPerPixelFor(bitsPerPixel);
  if (bytesPerPixel == 0 || width == 0 || height == 0) return nullptr;
  std::unique_ptr<FrameBuffer> fb(new (std::nothrow) FrameBuffer);
  if (fb == nullptr) return nullptr;
  setGeometry(*fb, platform::ScreenMode{width, height, bitsPerPixel}, bytesPerPixel);
  fb->ownScreen = allocateImage(fb->size);
  if (fb->ownScreen == nullptr || !fillImages(*fb)) return nullptr;
  fb->screen = std::span<uint8_t>(fb->ownScreen.get(), fb->size);
  return fb;
}

void fbRealize(FrameBuffer* fb) {
  if (fb == nullptr || fb->back == nullptr) return;
  std::scoped_lock lock(fb->frameLock);
  std::memcpy(fb->screen.data(), fb->back.get(), std::min<size_t>(fb->size, fb->screen.size()));
}

void fbSetBack(FrameBuffer* fb) {
  if (fb == nullptr || fb->back == nullptr || fb->background == nullptr) return;
  std::scoped_lock lock(fb->frameLock);
  std::memcpy(fb->back.get(), fb->background.get(), fb->size);
}

void DrawHorizontalLine(int x_start, int y, int x_end, uint8_t R, uint8_t G, uint8_t B,
                        FrameBuffer* fb) {
  if (fb == nullptr) return;
  std::scoped_lock lock(fb->frameLock);
  horizontalLine(*fb, x_start, y, x_end, R, G, B);
}

void DrawLine(int x0, int y0, int x1, int y1, uint8_t R, uint8_t G, uint8_t B,
              FrameBuffer* fb) {
  if (fb == nullptr) return;
  std::scoped_lock lock(fb->frameLock);
  line(*fb, x0, y0, x1, y1, R, G, B);
}

void DrawRect(Works& works, int x1, int y1, int x2, int y2, uint8_t R, uint8_t G, uint8_t B) {
  FrameBuffer* fb = works.gfx.fb.get();
  if (fb == nullptr) return;
  std::scoped_lock lock(fb->frameLock);
  line(*fb, x1, y1, x1, y2, R, G, B);
  line(*fb, x2, y1, x2, y2, R, G, B);
  horizontalLine(*fb, x1, y1, x2, R, G, B);
  horizontalLine(*fb, x1, y2, x2, R, G, B);
}

void DrawVect(int x_a, int y_a, int x_b, int y_b, FrameBuffer* fb,
              std::span<const uint8_t> pixels, bool topDown) {
  if (fb == nullptr || fb->back == nullptr || fb->bytesPerPixel != 4) return;
  if (x_a > x_b) std::swap(x_a, x_b);
  if (y_a > y_b) std::swap(y_a, y_b);
  std::scoped_lock lock(fb->frameLock);
  const int64_t rows = int64_t{y_b} - y_a;
  size_t source = 0;
  for (int64_t r = 0; r < rows; ++r) {
    const int64_t y = topDown ? y_a + r : int64_t{y_b} - 1 - r;
    for (int64_t x = x_a; x < x_b; ++x, source += 3) {
      if (source + 3 > pixels.size()) return;  // the source ran out
      const int64_t o = y * fb->lineLength + x * 4;
      if (o < 0 || o + 4 > int64_t{fb->size}) continue;
      uint8_t* p = fb->back.get() + o;
      p[0] = pixels[source];
      p[1] = pixels[source + 1];
      p[2] = pixels[source + 2];
      p[3] = 0;
    }
  }
}

}  // namespace corvid

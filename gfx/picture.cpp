#include "gfx/picture.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/works.h"
#include "gfx/framebuffer.h"
#include "gfx/text.h"
#include "platform/files.h"
#include "platform/log.h"

namespace corvid {

namespace {

using platform::logError;

constexpr int kRgba = PNG_COLOR_TYPE_RGB_ALPHA;  // 6

// Everything the decoder holds, kept outside the function that calls setjmp: libpng
// reports errors by longjmp, so that function owns nothing with a destructor and reads
// no local it changed after setjmp. release() frees whatever was made.
struct PngRead {
  const char* name = nullptr;  // "start.png"
  platform::File file;
  png_structp png = nullptr;
  png_infop info = nullptr;
  png_bytep* rows = nullptr;
  png_uint_32 rowCount = 0;  // rows allocated so far
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  bool reading = false;  // past the header: a libpng error is a reading error

  void release() {
    if (rows != nullptr) {
      for (png_uint_32 r = 0; r < rowCount; ++r) std::free(rows[r]);
      std::free(rows);
    }
    rows = nullptr;
    rowCount = 0;
    if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    png = nullptr;
    info = nullptr;
    file.reset();
  }
};

// Header checks and decoding into r.rows. 0 when the picture is ready to copy.
int decode(PngRead& r, uint32_t screenWidth, uint32_t screenHeight, uint32_t bytesPerPixel) {
  if (setjmp(png_jmpbuf(r.png)) != 0) {
    if (r.reading) {
      logError("%s error during reading image", r.name);
    } else {
      logError("%s error during init_io", r.name);
    }
    return -1;
  }
  png_init_io(r.png, r.file.get());
  png_set_sig_bytes(r.png, 8);
  png_read_info(r.png, r.info);
  r.width = png_get_image_width(r.png, r.info);
  r.height = png_get_image_height(r.png, r.info);
  const int bitDepth = png_get_bit_depth(r.png, r.info);
  const int colorType = png_get_color_type(r.png, r.info);
  if (r.width > screenWidth) {
    logError("%s image has %d cols not %d", r.name, static_cast<int>(r.width),
             static_cast<int>(screenWidth));
    return -1;
  }
  if (r.height > screenHeight) {
    logError("%s image has %d rows not %d", r.name, static_cast<int>(r.height),
             static_cast<int>(screenHeight));
    return -1;
  }
  if (bitDepth != 8 || bytesPerPixel != 4 || colorType != kRgba) {
    logError("%s image has %d pixels not %d or color_type is %d not %d", r.name, bitDepth,
             static_cast<int>(bytesPerPixel), colorType, kRgba);
    return -1;
  }
  png_read_update_info(r.png, r.info);
  r.reading = true;
  r.rows = static_cast<png_bytep*>(std::calloc(r.height == 0 ? 1 : r.height, sizeof(png_bytep)));
  if (r.rows == nullptr) {
    logError("%s unable to alloc row_pointers for image", r.name);
    return -1;
  }
  const size_t rowBytes = png_get_rowbytes(r.png, r.info);
  for (png_uint_32 y = 0; y < r.height; ++y) {
    r.rows[y] = static_cast<png_bytep>(std::malloc(rowBytes));
    if (r.rows[y] == nullptr) {
      logError("%s unable to alloc row_pointers[%d] for image", r.name, static_cast<int>(y));
      return -1;
    }
    r.rowCount = y + 1;
  }
  png_read_image(r.png, r.rows);
  return 0;
}

// Image pixel (c, r), bytes R, G, B, A, becomes blue, green, red, 0 at the same place of
// the background; the alpha byte is ignored.
void copyToBackground(const PngRead& r, FrameBuffer& fb) {
  std::scoped_lock lock(fb.frameLock);
  for (png_uint_32 y = 0; y < r.height; ++y) {
    const png_bytep in = r.rows[y];
    uint8_t* out = fb.background.get() + static_cast<size_t>(y) * fb.lineLength;
    for (png_uint_32 x = 0; x < r.width; ++x) {
      out[4 * x] = in[4 * x + 2];
      out[4 * x + 1] = in[4 * x + 1];
      out[4 * x + 2] = in[4 * x];
      out[4 * x + 3] = 0;
    }
  }
}

}  // namespace

int getPng(Works& works) {
  FrameBuffer* fb = works.gfx.fb.get();
  if (fb == nullptr || fb->background == nullptr) return -1;
  char name[200];
  std::snprintf(name, sizeof name, "%s.png", works.core.splashName.get().c_str());

  PngRead r;
  r.name = name;
  struct Release {
    PngRead& r;
    ~Release() { r.release(); }
  } release{r};

  r.file = platform::openForReading(name);
  if (!r.file) {
    logError("%s image could not be opened", name);
    return -1;
  }
  png_byte header[8];
  if (std::fread(header, 1, sizeof header, r.file.get()) != sizeof header ||
      png_sig_cmp(header, 0, sizeof header) != 0) {
    logError("%s image is not a PNG file", name);
    return -1;
  }
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (r.png == nullptr) {
    logError("%s PNG_create_read_struct failed", name);
    return -1;
  }
  r.info = png_create_info_struct(r.png);
  if (r.info == nullptr) {
    logError("%s PNG_create_info_struct failed", name);
    return -1;
  }
  if (decode(r, fb->width, fb->height, fb->bytesPerPixel) != 0) return -1;
  // The size test above compares with the record's resolution; the rows must also fit
  // the image itself (a record whose size disagrees with its resolution).
  if (static_cast<size_t>(r.height) * fb->lineLength > fb->size ||
      static_cast<size_t>(r.width) * 4 > fb->lineLength) {
    return -1;
  }
  copyToBackground(r, *fb);
  return 0;
}

void showBackground(Works& works) {
  FrameBuffer* fb = works.gfx.fb.get();
  getPng(works);
  fbSetBack(fb);
  fbRealize(fb);
}

void showLoading(Works& works, const char* text) {
  FrameBuffer* fb = works.gfx.fb.get();
  fbSetBack(fb);
  putString(9, 300, 400, text, 255, 255, 255, fb);
  fbRealize(fb);
}

void showClosing(Works& works) {
  FrameBuffer* fb = works.gfx.fb.get();
  works.core.splashName.set(works.amp.ampModel.load() == '1' ? "start120" : "start");
  showBackground(works);
  fbSetBack(fb);
  putString(9, 330, 400, "Error! Close Program! Restart hw.", 255, 255, 255, fb);
  fbRealize(fb);
}

}  // namespace corvid

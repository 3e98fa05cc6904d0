// Shared by the graphics tests: PNG files of any layout, framebuffer images as RGB, and
// the panel fonts from the host.
#pragma once

#include <png.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "gfx/framebuffer.h"

namespace corvid::testing {

inline const std::string kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
inline const std::string kDejaVuBold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

struct RgbImage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgb;  // 3 bytes a pixel, rows top down
  bool operator==(const RgbImage&) const = default;
};

// Writes a PNG through libpng's simplified interface; format is a PNG_FORMAT_* value
// (RGBA 8-bit, RGB, linear RGBA = 16-bit, colour-mapped = palette). pixels holds the
// samples of that format (for a colour map: one index a pixel, colormap RGB entries).
inline bool writePng(const std::filesystem::path& file, uint32_t width, uint32_t height,
                     uint32_t format, const void* pixels,
                     const std::vector<uint8_t>& colormap = {}) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = format;
  image.colormap_entries = static_cast<png_uint_32>(colormap.size() / 3);
  const bool ok = png_image_write_to_file(&image, file.c_str(), 0, pixels, 0,
                                          colormap.empty() ? nullptr : colormap.data()) != 0;
  png_image_free(&image);
  return ok;
}

inline std::optional<RgbImage> readPngRgb(const std::filesystem::path& file) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, file.c_str()) == 0) return std::nullopt;
  image.format = PNG_FORMAT_RGB;
  RgbImage out{image.width, image.height, std::vector<uint8_t>(PNG_IMAGE_SIZE(image))};
  if (png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr) == 0) {
    png_image_free(&image);
    return std::nullopt;
  }
  return out;
}

inline bool writeRgbPng(const std::filesystem::path& file, const RgbImage& image) {
  return writePng(file, image.width, image.height, PNG_FORMAT_RGB, image.rgb.data());
}

// A 32-bit image (blue, green, red, 0) as RGB.
inline RgbImage rgbOf(const uint8_t* bgr0, uint32_t width, uint32_t height) {
  RgbImage out{width, height, std::vector<uint8_t>(size_t{width} * height * 3)};
  for (size_t i = 0; i < size_t{width} * height; ++i) {
    out.rgb[3 * i] = bgr0[4 * i + 2];
    out.rgb[3 * i + 1] = bgr0[4 * i + 1];
    out.rgb[3 * i + 2] = bgr0[4 * i];
  }
  return out;
}

}  // namespace corvid::testing

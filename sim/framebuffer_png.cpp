#include "sim/framebuffer_png.h"

#include <png.h>

#include <fstream>

#include "sim/bench_root.h"

namespace corvid::bench {

// libpng's simplified interface is used throughout: it reports errors as return values,
// so no longjmp ever crosses these C++ frames.

namespace {

// The framebuffer file as 8-bit RGB rows; empty with error set when it cannot be read.
std::optional<std::vector<uint8_t>> framebufferRgb(const std::filesystem::path& framebuffer,
                                                   std::string& error) {
  std::ifstream in(framebuffer, std::ios::binary);
  if (!in) {
    error = "cannot open " + framebuffer.string();
    return std::nullopt;
  }
  std::vector<char> raw(kFbBytes);
  in.read(raw.data(), static_cast<std::streamsize>(raw.size()));
  if (static_cast<size_t>(in.gcount()) != raw.size()) {
    error = framebuffer.string() + " is shorter than 800 x 480 x 4 bytes";
    return std::nullopt;
  }
  std::vector<uint8_t> rgb(kFbWidth * kFbHeight * 3);
  for (size_t i = 0, o = 0; i < raw.size(); i += 4, o += 3) {
    rgb[o] = static_cast<uint8_t>(raw[i + 2]);
    rgb[o + 1] = static_cast<uint8_t>(raw[i + 1]);
    rgb[o + 2] = static_cast<uint8_t>(raw[i]);
  }
  return rgb;
}

png_image panelImage() {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(kFbWidth);
  image.height = static_cast<png_uint_32>(kFbHeight);
  image.format = PNG_FORMAT_RGB;
  return image;
}

}  // namespace

std::string writeFramebufferPng(const std::filesystem::path& framebuffer,
                                const std::filesystem::path& png) {
  std::string error;
  const std::optional<std::vector<uint8_t>> rgb = framebufferRgb(framebuffer, error);
  if (!rgb) return error;
  png_image image = panelImage();
  if (png_image_write_to_file(&image, png.c_str(), 0, rgb->data(), 0, nullptr) == 0) {
    error = "cannot write " + png.string() + ": " + image.message;
    png_image_free(&image);
    return error;
  }
  return {};
}

std::optional<std::vector<uint8_t>> framebufferPng(const std::filesystem::path& framebuffer,
                                                   std::string& error) {
  const std::optional<std::vector<uint8_t>> rgb = framebufferRgb(framebuffer, error);
  if (!rgb) return std::nullopt;
  // First the size the PNG needs, then the PNG itself.
  png_image image = panelImage();
  png_alloc_size_t size = 0;
  if (png_image_write_to_memory(&image, nullptr, &size, 0, rgb->data(), 0, nullptr) == 0) {
    error = std::string("cannot encode the panel: ") + image.message;
    png_image_free(&image);
    return std::nullopt;
  }
  std::vector<uint8_t> png(size);
  image = panelImage();
  if (png_image_write_to_memory(&image, png.data(), &size, 0, rgb->data(), 0, nullptr) == 0) {
    error = std::string("cannot encode the panel: ") + image.message;
    png_image_free(&image);
    return std::nullopt;
  }
  png.resize(size);
  return png;
}

std::optional<RgbImage> readPng(const std::filesystem::path& png) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, png.c_str()) == 0) return std::nullopt;
  // Screenshots are panel sized; anything far larger is not one of ours.
  if (image.width > 8192 || image.height > 8192) {
    png_image_free(&image);
    return std::nullopt;
  }
  image.format = PNG_FORMAT_RGB;
  RgbImage out;
  out.width = image.width;
  out.height = image.height;
  out.rgb.resize(PNG_IMAGE_SIZE(image));
  png_color black{0, 0, 0};
  if (png_image_finish_read(&image, &black, out.rgb.data(), 0, nullptr) == 0) {
    png_image_free(&image);
    return std::nullopt;
  }
  return out;
}

}  // namespace corvid::bench

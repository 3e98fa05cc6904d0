// Drawing and writing the spectrum picture (see scope_picture.h).
#include "client/scope_picture.h"

#include <png.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace corvid::client {

namespace {

using Rgb = std::array<uint8_t, 3>;
constexpr Rgb kBackground{12, 14, 30};
constexpr Rgb kGrid{52, 56, 86};
constexpr Rgb kFill{30, 150, 70};
constexpr Rgb kTrace{190, 255, 190};
constexpr int kLevelOffset = 192;  // byte = level in dB + 192
constexpr int kGridStepDb = 20;

}  // namespace

std::vector<uint8_t> drawSpectrum(std::span<const uint8_t> spectrum) {
  const size_t width = spectrum.size();
  std::vector<uint8_t> pixels(width * kSpectrumPictureHeight * 3);
  for (int row = 0; row < kSpectrumPictureHeight; ++row) {
    const int rowDb = kSpectrumTopDb - row;
    for (size_t column = 0; column < width; ++column) {
      const int level = static_cast<int>(spectrum[column]) - kLevelOffset;
      Rgb colour = rowDb % kGridStepDb == 0 ? kGrid : kBackground;
      if (rowDb == level) {
        colour = kTrace;
      } else if (rowDb < level) {
        colour = kFill;
      }
      std::memcpy(&pixels[(static_cast<size_t>(row) * width + column) * 3], colour.data(), 3);
    }
  }
  return pixels;
}

std::string writeSpectrumPicture(const std::string& path, std::span<const uint8_t> spectrum) {
  if (spectrum.empty()) return "the spectrum is empty";
  std::vector<uint8_t> pixels = drawSpectrum(spectrum);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(spectrum.size());
  image.height = kSpectrumPictureHeight;
  image.format = PNG_FORMAT_RGB;
  const std::string temporary = path + ".part";
  if (png_image_write_to_file(&image, temporary.c_str(), 0, pixels.data(), 0, nullptr) == 0) {
    std::string why = image.message;
    png_image_free(&image);
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return "cannot write " + path + ": " + why;
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) return "cannot write " + path + ": " + error.message();
  return {};
}

std::string writeSpectrumData(const std::string& path, std::span<const uint8_t> spectrum) {
  const std::string temporary = path + ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(spectrum.data()),
              static_cast<std::streamsize>(spectrum.size()));
    if (!out.flush()) return "cannot write " + path;
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) return "cannot write " + path + ": " + error.message();
  return {};
}

}  // namespace corvid::client

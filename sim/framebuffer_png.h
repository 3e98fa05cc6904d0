// Pictures of the panel: the framebuffer file as a PNG (the fbgrab stand-in, the bench's
// screenshots) and PNG files read back as plain RGB pixels (tests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace corvid::bench {

struct RgbImage {
  size_t width = 0;
  size_t height = 0;
  std::vector<uint8_t> rgb;  // rows top to bottom, 3 bytes a pixel: red, green, blue
};

// Reads an 800 x 480 framebuffer file (4 bytes a pixel: blue, green, red, unused) and
// writes it as an 8-bit RGB PNG. Empty, or what went wrong.
std::string writeFramebufferPng(const std::filesystem::path& framebuffer,
                                const std::filesystem::path& png);

// The same PNG in memory (the bench's web view); empty with error set on failure.
std::optional<std::vector<uint8_t>> framebufferPng(const std::filesystem::path& framebuffer,
                                                   std::string& error);

// Any PNG, converted to 8-bit RGB (alpha dropped against black). Empty on failure.
std::optional<RgbImage> readPng(const std::filesystem::path& png);

}  // namespace corvid::bench

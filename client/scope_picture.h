// The last spectrum the client received, drawn as a picture: one column per spectrum byte
// (level in dB = byte - 192), 1 dB per pixel row from +40 dB at the top to -159 dB at the
// bottom, a grid line every 20 dB.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace corvid::client {

inline constexpr int kSpectrumPictureHeight = 200;
inline constexpr int kSpectrumTopDb = 40;

// RGB rows, width = spectrum.size().
std::vector<uint8_t> drawSpectrum(std::span<const uint8_t> spectrum);
// Writes the picture as PNG (through a temporary file, so that a reader never sees half a
// picture). Empty on success, else what went wrong.
std::string writeSpectrumPicture(const std::string& path, std::span<const uint8_t> spectrum);
// Writes the bytes themselves (one per point, level + 192), the same way.
std::string writeSpectrumData(const std::string& path, std::span<const uint8_t> spectrum);

}  // namespace corvid::client

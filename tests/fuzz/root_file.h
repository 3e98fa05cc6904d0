// The file targets' input: the fuzz input becomes a file of the target's root folder, which
// the controller's own loader then reads as it reads it on the unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/root.h"
#include "tests/fuzz/fuzz_support.h"

namespace corvid::fuzz {

// Replaces PATH (an absolute path of the unit, "/opt/set/...") under the root with the bytes.
inline void putRootFile(std::string_view path, const uint8_t* data, size_t size) {
  works();  // the root folder exists from the first call on
  std::ofstream out(platform::hostPath(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) std::abort();  // a target that cannot write its input tests nothing
}

}  // namespace corvid::fuzz

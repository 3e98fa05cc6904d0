// What every fuzz target shares: a root folder of its own for the files the code under test
// reads and writes, silent logs (syslog and the trace lines; libFuzzer keeps standard error), instant sleeps, and a shared
// record with the factory settings, made once per process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace corvid {
struct Works;
}

namespace corvid::fuzz {

// The record, set up at the first call (InitGlobalVar, the factory settings).
Works& works();
// A fresh record for a target that must not carry state from one input to the next.
void resetWorks();

inline std::string_view text(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace corvid::fuzz

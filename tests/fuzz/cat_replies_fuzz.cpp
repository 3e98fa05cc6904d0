// The CAT link's reply assembly: bytes in arbitrary pieces, each ';'-terminated reply out
// whole, runs of 200 bytes without a ';' dropped. The first byte of each piece gives its
// length (0 to 255). Checks that every reply delivered ends with its ';', holds no other,
// fits the 200-byte buffer, and that every ';' of the input delivers exactly one reply.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "remote/cat_link.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  corvid::CatReplies replies;
  size_t delivered = 0;
  size_t terminators = 0;
  auto deliver = [&](std::span<const uint8_t> reply) {
    if (reply.empty() || reply.size() > 200 || reply.back() != ';') __builtin_trap();
    if (std::count(reply.begin(), reply.end(), ';') != 1) __builtin_trap();
    ++delivered;
  };
  size_t at = 0;
  while (at < size) {
    const size_t n = std::min<size_t>(data[at], size - at - 1);
    ++at;
    const std::span<const uint8_t> piece(data + at, n);
    terminators += static_cast<size_t>(std::count(piece.begin(), piece.end(), ';'));
    replies.take(piece, deliver);
    at += n;
  }
  if (delivered != terminators) __builtin_trap();
  return 0;
}

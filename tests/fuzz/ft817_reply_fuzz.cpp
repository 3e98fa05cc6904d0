// The FT-817 CAT link's polling machine: the read-frequency request out, the reply taken
// byte by byte, decoded into catSerFreq once five bytes are in, and the request sent
// again. Each read hands out the next piece of the input: its first byte gives the
// length (1 to 8), or, at 0xFF, the read fails with EIO.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/works.h"
#include "platform/serial.h"
#include "tests/fuzz/fuzz_support.h"
#include "trx/trx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  corvid::Works& works = corvid::fuzz::works();
  corvid::TrxState& trx = works.trx;
  trx.catProcessStatus = corvid::CatSend;
  trx.lastCommandSent = 0;
  trx.counterimeoutCAT = 0;
  corvid::fuzz::PieceLine line(data, size, 8, true);
  corvid::CatSerialPoller poller(works, line);
  // A byte per turn at most, a request and a decode per reply: enough turns for every
  // byte, then a few on the silent line.
  for (size_t turn = 0; turn < 3 * size + 8 && !line.done(); ++turn) poller.step();
  for (int turn = 0; turn < 8; ++turn) poller.step();
  // A decoded frequency is eight BCD digits of 10 Hz: below 1 GHz.
  if (trx.catSerFreq.load() >= 1'000'000'000u) __builtin_trap();
  return 0;
}

// The amplifier micro's replies: the link's state machine (commands out, the reply read up
// to ';', its CRC-8 checked, then DecodeCatCmd) runs over a line whose every read returns
// the next piece of the input. The first byte of each piece gives its length (1 to 64).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "amp/amp_state.h"
#include "amp/link.h"
#include "core/works.h"
#include "platform/serial.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  corvid::fuzz::resetWorks();
  corvid::Works& works = corvid::fuzz::works();
  corvid::fuzz::PieceLine line(data, size, 64);
  corvid::LinkReceiver receiver;
  works.amp.linearProcessStatus = corvid::CmdST;
  // Steps enough for every byte to be read and decoded, and a few to spare.
  for (size_t step = 0; step < 4 * size + 16; ++step) {
    if (!corvid::linkStep(works, line, receiver)) break;
  }
  return 0;
}

// The EXT IO link's receive loop: type byte, kind, four length digits and payload, the
// parameter records decoded into pex and the spectra stored and rotated for the client,
// with the requested commands sent after every message. Each read hands out the next
// piece of the input, whose first byte gives its length (1 to 64); at the end of the
// input the link is switched off, so the loop stops instead of waiting for more.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/works.h"
#include "platform/serial.h"
#include "tests/fuzz/fuzz_support.h"
#include "trx/trx.h"

namespace {


// What the link relays must lie within what it can hold.
void checkRecord(corvid::Works&, std::span<const uint8_t> record) {
  if (record.size() >= corvid::kExtIoPayloadMax) __builtin_trap();
}
void checkSpectrum(corvid::Works&, std::span<const uint8_t> spectrum) {
  if (spectrum.size() > corvid::kFftBins) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The record carries over from one input to the next, as pex does between messages.
  corvid::Works& works = corvid::fuzz::works();
  works.core.running = 1;
  works.set.text.setFlag(corvid::Slot::extIoEnable, '1');
  works.set.text.setFlag(corvid::Slot::EnableFFT2, '0');
  works.bands.freqInterface = corvid::FreqInterface::ExtIo;
  works.amp.commErrorHoldoff = 0;
  works.trx.hooks.sendWebSockSerParFrame = checkRecord;
  works.trx.hooks.sendWebSockSerSpectrFrame = checkSpectrum;
  works.trx.hooks.resetRemotePlayback = nullptr;
  // Every command the link can send, asked once per input.
  works.trx.pexPowerValue = static_cast<int>(size * 37);
  works.trx.pexPowerRequest = 0x01;
  works.trx.pexTxRequest = size % 2 != 0 ? 0x03 : 0x01;
  works.trx.pexRequests = 0x02;
  // At the end of the input the link is switched off, so that its loop ends.
  corvid::fuzz::PieceLine line(data, size, 64, false, [&works] {
    works.set.text.setFlag(corvid::Slot::extIoEnable, '0');
  });
  corvid::ExtIoLink link(works, line);
  link.run();
  return 0;
}

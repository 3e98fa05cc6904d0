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

namespace {

class FuzzLine final : public corvid::platform::ByteStream {
 public:
  FuzzLine(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  long read(std::span<uint8_t> buffer, int) override {
    if (at_ >= size_) return 0;
    const size_t wanted = data_[at_] % 64 + 1;
    ++at_;
    const size_t piece = std::min(wanted, size_ - at_);
    const size_t n = std::min(piece, buffer.size());
    std::copy_n(data_ + at_, n, buffer.begin());
    at_ += n;
    return static_cast<long>(n);
  }
  long write(std::span<const uint8_t> bytes) override { return static_cast<long>(bytes.size()); }
  bool done() const { return at_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  corvid::fuzz::resetWorks();
  corvid::Works& works = corvid::fuzz::works();
  FuzzLine line(data, size);
  corvid::LinkReceiver receiver;
  works.amp.linearProcessStatus = corvid::CmdST;
  // Steps enough for every byte to be read and decoded, and a few to spare.
  for (size_t step = 0; step < 4 * size + 16; ++step) {
    if (!corvid::linkStep(works, line, receiver)) break;
  }
  return 0;
}

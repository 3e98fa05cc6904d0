// The remote client's frames as the server reads them: four header bytes (six for the
// 32-bit form), frameHeader, the rest of the frame into the 1024-byte receive buffer;
// then, as the server does, a short text frame is unmasked with its key and a binary "ST"
// frame's text is copied zero-terminated, and each text goes to dispStat.
//
// "VORNRB" and "VORNTU" are left out: once their word is matched they parse nothing, and
// they end in a shell (the reboot; the remount of the bank save). The GPIO thread, which
// empties the power controller's mailbox, is not running here, so the mailbox is emptied
// before every command. The words that rewrite files ("VORNBANK": the settings and
// the bank's tables read; "VORNAN": the band table) pass twice per input at most: one
// input made of nothing else would otherwise cost a thousand others.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/works.h"
#include "remote/remote_commands.h"
#include "remote/ws_server.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr uint8_t kText = 0x81;
constexpr uint8_t kBinary = 0x82;

// dispStat echoes every command on standard error; libFuzzer reports there too, so the
// echo goes to /dev/null while a command runs (libFuzzer and the sanitizers keep theirs).
int gRewrites = 0;  // words that rewrite files in this input

void command(corvid::Works& works, std::string_view text) {
  const std::string_view word = text.substr(0, text.find('\0'));
  if (word.starts_with("VORNRB") || word.starts_with("VORNTU")) return;
  if (word.starts_with("VORNBANK") || word.starts_with("VORNAN")) {
    if (++gRewrites > 2) return;
  }
  static FILE* const quiet = std::fopen("/dev/null", "w");
  works.core.tinyCommand = 0;
  FILE* const saved = stderr;
  if (quiet != nullptr) stderr = quiet;
  corvid::dispStat(works, text);
  stderr = saved;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  corvid::Works& works = corvid::fuzz::works();
  gRewrites = 0;
  std::array<uint8_t, corvid::kReceiveBuffer> buffer{};
  size_t at = 0;
  while (size - at >= 4) {
    const size_t got = data[at + 1] >= 127 ? 6 : 4;
    if (size - at < got) break;
    std::copy_n(data + at, got, buffer.begin());
    const std::optional<corvid::FrameHeader> h = corvid::frameHeader({buffer.data(), got});
    if (!h) break;  // the server drops the client
    if (h->frameBytes > buffer.size() || h->frameBytes < got || h->payloadStart > h->frameBytes)
      __builtin_trap();
    if (size - at < h->frameBytes) break;
    std::copy_n(data + at + got, h->frameBytes - got, buffer.begin() + static_cast<long>(got));
    at += h->frameBytes;
    const std::span<uint8_t> frame(buffer.data(), h->frameBytes);
    std::span<uint8_t> payload = frame.subspan(h->payloadStart);
    if (h->type == kText && h->form == corvid::FrameForm::Short) {
      for (size_t i = 0; i < payload.size(); ++i) payload[i] ^= frame[2 + i % 4];
      const std::string_view text(reinterpret_cast<const char*>(payload.data()), payload.size());
      (void)corvid::sameSecret(text, works.set.Passphrase.get());
      command(works, text);
    } else if (h->type == kBinary && h->form == corvid::FrameForm::Short && payload.size() >= 2 &&
               std::memcmp(payload.data(), "ST", 2) == 0) {
      std::array<char, 200> copy{};
      const size_t n = std::min(payload.size() - 2, copy.size() - 1);
      std::copy_n(payload.begin() + 2, n, copy.begin());
      command(works, std::string_view(copy.data(), n));
    }
  }
  return 0;
}

// The remote server's handshake: the input cut into request lines as the server reads
// them (up to '\n', at most 1024 bytes), each taken by takeHandshakeLine until the
// request is complete; a complete one is answered with the response lines for its key.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "remote/ws_server.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest = corvid::fuzz::text(data, size);
  corvid::HandshakeState state;
  while (!rest.empty() && !state.complete()) {
    size_t end = rest.find('\n');
    end = end == std::string_view::npos ? rest.size() : end + 1;
    if (end > corvid::kReceiveBuffer) end = corvid::kReceiveBuffer;
    takeHandshakeLine(state, rest.substr(0, end));
    rest.remove_prefix(end);
  }
  if (!state.complete()) return 0;
  // Whatever the key, the answer carries its 28-character accept value.
  const std::vector<std::string> response = corvid::handshakeResponse(state.key);
  if (response.size() != 5) __builtin_trap();
  const std::string accept = corvid::webSocketAccept(state.key);
  if (accept.size() != 28 || response[3].find(accept) == std::string::npos) __builtin_trap();
  return 0;
}

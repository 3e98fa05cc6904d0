// The helper programs' outputs, read line by line as the pipe hands them over (cut at the
// reader's line limit, the last line counted without its line feed). The first byte picks
// the program:
//   0 my_vorn         first line the versions on offer, last line the LAN state
//                     (parseOffer, compareOffer, lanDisconnected)
//   1 update script   getpack.sh's lines up to "ALLOK" or the last "VORNE" error (UpdateOutput)
//   2 my_temp         the CPU's and the GPU's temperature lines (takeCpuTempLine,
//                     takeGpuTempLine)
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "amp/amp.h"
#include "core/works.h"
#include "system/network.h"
#include "system/system_state.h"
#include "system/updates.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The lines of a program's standard output, as CommandPipe::readLine gives them.
class OutputLines {
 public:
  explicit OutputLines(std::string_view text) : text_(text) {}
  bool next(std::string& line, size_t maxChars) {
    if (text_.empty()) return false;
    const size_t nl = text_.find('\n');
    const size_t end = nl == std::string_view::npos ? text_.size() : nl;
    line.assign(text_.substr(0, std::min(end, maxChars)));
    text_.remove_prefix(nl == std::string_view::npos ? end : nl + 1);
    return true;
  }

 private:
  std::string_view text_;
};

void myVorn(std::string_view text) {
  OutputLines lines(text);
  std::string offer;
  std::string state = "No Conn";
  int count = 0;
  for (std::string line; lines.next(line, corvid::kMyVornLineMax);) {
    if (count++ == 0) offer = line;
    state = line;
  }
  state = state.substr(0, state.find_first_of("\t\n"));
  static_cast<void>(corvid::lanDisconnected(state));
  const corvid::VersionOffer v = corvid::parseOffer(offer);
  if (v.softwareMajor < 0 || v.softwareMinor < 0 || v.firmwareMajor < 0 || v.firmwareMinor < 0) {
    __builtin_trap();
  }
  const uint8_t update = corvid::compareOffer(v, "01.046", "001.012");
  if (update != corvid::kUpdateNone && update != corvid::kUpdateSoftware &&
      update != corvid::kUpdateSoftwareAndFw) {
    __builtin_trap();
  }
  // The software on offer is never newer than itself.
  if (corvid::compareOffer(v, offer, offer) != corvid::kUpdateNone) __builtin_trap();
}

void updateScript(std::string_view text) {
  OutputLines lines(text);
  corvid::UpdateOutput output;
  for (std::string line; lines.next(line, corvid::kUpdateLineMax);) {
    if (!output.take(line)) break;
  }
  if (output.result() < -1 || (output.sawError() && output.result() < 0)) __builtin_trap();
}

void myTemp(std::string_view text) {
  corvid::Works& works = corvid::fuzz::works();
  OutputLines lines(text);
  std::string line;
  if (lines.next(line, 200)) corvid::takeCpuTempLine(works, line);
  if (lines.next(line, 200)) corvid::takeGpuTempLine(works, line);
  // The fan rule reads them: never a NaN or an infinity.
  if (!std::isfinite(works.amp.cpuTemp.load()) || !std::isfinite(works.amp.gpuTemp.load())) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text = corvid::fuzz::text(data + 1, size - 1);
  switch (data[0] % 3) {
    case 0:
      myVorn(text);
      break;
    case 1:
      updateScript(text);
      break;
    default:
      myTemp(text);
      break;
  }
  return 0;
}

// setup.txt: "Key: value" lines read into the settings (readSetup: the factory values
// first, then every known key's value, then the temperature limits checked).
#include <cstddef>
#include <cstdint>

#include "core/settings.h"
#include "core/works.h"
#include "tests/fuzz/root_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  corvid::fuzz::putRootFile(corvid::kSetupPath, data, size);
  corvid::Works& works = corvid::fuzz::works();
  corvid::readSetup(works);
  // Whatever was read, the limits stay within what the sensors allow.
  if (works.set.MaxTemperature.load() > static_cast<float>(works.set.MaxTempAllowed.load())) {
    __builtin_trap();
  }
  return 0;
}

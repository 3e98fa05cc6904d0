#include "ui/keys.h"

#include "core/works.h"
#include "spectrum/plotter.h"

namespace corvid {

bool amplifierLocked(const Works& works) {
  return (works.amp.statusB.load() & 0x07) != 0 || (works.amp.statusC.load() & 0x08) != 0;
}
int DecodeTasto(Works&, int, int) {
  return 0;
}
int EscFromStatus(Works&) {
  return 0;
}
void ModifytabAntenna(Works&, int) {}

}  // namespace corvid

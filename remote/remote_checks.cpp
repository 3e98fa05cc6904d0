#include "remote/remote_checks.h"

#include "core/works.h"

namespace corvid {

// The checks come next.
int Find_Remote_Settings(Works&) {
  return 1;
}
int VerifyCAT(Works&) {
  return -1;
}
int VerifyAudioPEX(Works&) {
  return 0;
}
int Get_AudioPEX(Works&) {
  return 0;
}

}  // namespace corvid

#include "platform/fd.h"

#include <unistd.h>

namespace corvid::platform {

void Fd::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace corvid::platform

// corvid: the amplifier controller. With --root DIR (or CORVID_ROOT=DIR) every absolute
// path and every command is taken under DIR, so it runs off the unit on the bench.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/controller.h"
#include "app/wiring.h"
#include "core/works.h"
#include "platform/log.h"
#include "platform/root.h"

namespace {
void usage() {
  std::fprintf(stderr, "usage: corvid [--root DIR]\n");
}
}  // namespace

int main(int argc, char** argv) {
  std::string root;
  if (const char* env = std::getenv("CORVID_ROOT"); env != nullptr) root = env;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--root") == 0 && i + 1 < argc) {
      root = argv[++i];
    } else if (std::strncmp(argv[i], "--root=", 7) == 0) {
      root = argv[i] + 7;
    } else {
      usage();
      return 2;
    }
  }
  if (!root.empty()) {
    std::error_code ec;
    root = std::filesystem::absolute(root, ec).lexically_normal().string();
    if (ec) {
      std::fprintf(stderr, "corvid: bad root %s: %s\n", root.c_str(), ec.message().c_str());
      return 2;
    }
  }
  corvid::platform::setRoot(root);
  corvid::platform::openLog(corvid::platform::hasRoot());

  // Threads that are never joined (the start-up countdown, the LAN information and
  // update-marker threads) may still read the record while the process exits, so it is
  // never destroyed.
  static auto* works = new corvid::Works{};
  corvid::wireSubsystems(*works);
  return corvid::runController(*works);
}

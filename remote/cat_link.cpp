#include "remote/cat_link.h"

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>

#include "core/works.h"
#include "errors/errors.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/serial.h"
#include "remote/remote_checks.h"
#include "remote/ws_server.h"

namespace corvid {

using platform::logError;
using platform::logInfo;
using platform::trace;

namespace {

constexpr int kIdlePollMs = 5;

bool catWanted(const Works& works) {
  return works.core.running.load() != 0 && works.set.text.flag(Slot::EnableCAT) == '1';
}

void publish(Works& works, platform::SerialPort* port) {
  std::scoped_lock lock(works.trx.catPortMutex);
  works.trx.catPort = port;
}

}  // namespace

long writeCat(Works& works, std::span<const uint8_t> data) {
  std::scoped_lock lock(works.trx.catPortMutex);
  if (works.trx.catPort == nullptr) return -ENODEV;
  return works.trx.catPort->write(data);
}

void ExitCAT(Works& works) {
  std::fputs("CAT: EXIT!!\n", stderr);
  publish(works, nullptr);
  works.core.remoteRestartRequest = 1;
  works.set.text.setFlag(Slot::EnableCAT, '0');
  AddErrore(works, Err::RemoteCat);
}

void Cat(Works& works) {
  const std::string name = works.set.text.text(Slot::CatPort);
  works.trx.statusCat = 0;
  for (int i = 0; i < 300 && catWanted(works); ++i) platform::sleepMs(10);
  platform::SerialPort port;
  if (!catWanted(works) || VerifyCAT(works, &port) != 0) {
    logError("Unable to open device %s", name.c_str());
    trace("CAT: Unable to open device %s\n", name.c_str());
    ExitCAT(works);
    return;
  }
  logInfo("OK works->catFD=%d (%s)", port.fd(), name.c_str());
  publish(works, &port);
  works.trx.statusCat = 1;
  CatReplies replies;
  std::array<uint8_t, 64> bytes{};
  while (catWanted(works)) {
    const long n = port.read(bytes, kIdlePollMs);
    if (n < 0) {
      logError("CAT read error %ld", -n);
      break;
    }
    replies.take({bytes.data(), static_cast<size_t>(n)},
                 [&](std::span<const uint8_t> reply) { sendWebSockCatFrame(works, reply); });
  }
  // The port is taken back before it closes: a client's write never finds it closed.
  publish(works, nullptr);
  ExitCAT(works);
}

}  // namespace corvid

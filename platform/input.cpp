#include "platform/input.h"

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/root.h"

namespace corvid::platform {

namespace {
constexpr std::string_view kKeyboardFolder = "/dev/input/by-id";
constexpr std::string_view kKeyboardSuffix = "-event-kbd";
}  // namespace

std::optional<std::string> findKeyboard() {
  std::error_code ec;
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(hostPath(kKeyboardFolder), ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > kKeyboardSuffix.size() && name.ends_with(kKeyboardSuffix)) {
      names.push_back(name);
    }
  }
  if (names.empty()) return std::nullopt;
  std::sort(names.begin(), names.end());
  return std::string(kKeyboardFolder) + "/" + names.front();
}

size_t EventAssembler::eventSize() {
  return sizeof(input_event);
}

size_t EventAssembler::add(const char* bytes, size_t n, std::optional<InputEvent>& event) {
  const size_t taken = std::min(n, wanted());
  partial_.append(bytes, taken);
  if (partial_.size() == sizeof(input_event)) {
    input_event raw{};
    std::memcpy(&raw, partial_.data(), sizeof raw);
    partial_.clear();
    event = InputEvent{raw.type, raw.code, raw.value};
  }
  return taken;
}

Result<InputDevice> InputDevice::openDevice(const std::string& path) {
  // Without waiting: a FIFO standing in for the device would block the open until a
  // writer came.
  Fd fd(::open(hostPath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) return Result<InputDevice>::failure(errno);
  return InputDevice(std::move(fd));
}

int InputDevice::grab() {
  if (!fd_.valid()) return EBADF;
  return ::ioctl(fd_.get(), EVIOCGRAB, 1) == 0 ? 0 : errno;
}

InputDevice::ReadResult InputDevice::read(int timeoutMs) {
  ReadResult result;
  if (!fd_.valid()) {
    result.what = Read::Failed;
    result.error = EBADF;
    return result;
  }
  pollfd p{fd_.get(), POLLIN, 0};
  const int ready = ::poll(&p, 1, timeoutMs);
  if (ready < 0) {
    if (errno == EINTR) return result;
    result.what = Read::Failed;
    result.error = errno;
    return result;
  }
  if (ready == 0) return result;
  char buffer[sizeof(input_event)];
  const ssize_t n = ::read(fd_.get(), buffer, assembler_.wanted());
  if (n == 0) {
    result.what = Read::Ended;
    return result;
  }
  if (n < 0) {
    if (errno == EAGAIN || errno == EINTR) return result;
    result.what = errno == ENODEV ? Read::Ended : Read::Failed;
    result.error = errno;
    return result;
  }
  std::optional<InputEvent> event;
  assembler_.add(buffer, static_cast<size_t>(n), event);
  if (!event) return result;
  result.what = Read::Event;
  result.event = *event;
  return result;
}

}  // namespace corvid::platform

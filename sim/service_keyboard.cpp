#include "sim/service_keyboard.h"

#include <fcntl.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <system_error>
#include <vector>

namespace corvid::bench {

namespace {

// struct timeval and the three fields; no padding on either machine the bench runs on.
static_assert(sizeof(input_event) == 24 || sizeof(input_event) == 16);

constexpr std::array<ServiceKey, 8> kServiceKeys = {{
    {"SysRq", KEY_SYSRQ},  // screenshot
    {"F1", KEY_F1},        // CAT port: DTR off
    {"F2", KEY_F2},        // DTR on
    {"F3", KEY_F3},        // RTS off
    {"F4", KEY_F4},        // RTS on
    {"F10", KEY_F10},      // service shell
    {"F11", KEY_F11},      // save the settings
    {"F12", KEY_F12},      // end the program
}};

// The most records one call writes (a press). Kept within PIPE_BUF, so that a write
// into the FIFO is all or nothing, also when it is nearly full.
constexpr size_t kMaxRecords = 4;
static_assert(kMaxRecords * sizeof(input_event) <= PIPE_BUF);

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string errnoText(int err) {
  return std::generic_category().message(err);
}

}  // namespace

std::span<const ServiceKey> serviceKeys() {
  return kServiceKeys;
}

std::optional<uint16_t> keyCode(std::string_view name) {
  for (const ServiceKey& key : kServiceKeys) {
    if (sameName(key.name, name)) return key.code;
  }
  return std::nullopt;
}

std::string serviceKeyNames() {
  std::string names;
  for (const ServiceKey& key : kServiceKeys) {
    if (!names.empty()) names += ", ";
    names += key.name;
  }
  return names;
}

bool hasReader(const std::filesystem::path& fifo) {
  // A write-only open without blocking fails with ENXIO exactly when nobody reads.
  const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  const bool isFifo = ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
  ::close(fd);
  return isFifo;
}

ServiceKeyboard::ServiceKeyboard(const std::filesystem::path& fifo) {
  const int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error_ = "cannot open " + fifo.string() + ": " + errnoText(errno);
    return;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) {
    // A regular file would be overwritten from its start by every key.
    error_ = fifo.string() + " is not a FIFO";
    ::close(fd);
    return;
  }
  fd_ = fd;
}

ServiceKeyboard::~ServiceKeyboard() {
  if (fd_ >= 0) ::close(fd_);
}

std::string ServiceKeyboard::error() const {
  std::scoped_lock lock(mutex_);
  return error_;
}

bool ServiceKeyboard::event(uint16_t type, uint16_t code, int32_t value) {
  const Record record{type, code, value};
  return write(std::span(&record, 1));
}

bool ServiceKeyboard::press(uint16_t code) {
  const std::array<Record, 4> records = {{
      {EV_KEY, code, 1},
      {EV_SYN, SYN_REPORT, 0},
      {EV_KEY, code, 0},
      {EV_SYN, SYN_REPORT, 0},
  }};
  return write(records);
}

bool ServiceKeyboard::repeat(uint16_t code) {
  const std::array<Record, 2> records = {{{EV_KEY, code, 2}, {EV_SYN, SYN_REPORT, 0}}};
  return write(records);
}

bool ServiceKeyboard::release(uint16_t code) {
  const std::array<Record, 2> records = {{{EV_KEY, code, 0}, {EV_SYN, SYN_REPORT, 0}}};
  return write(records);
}

bool ServiceKeyboard::write(std::span<const Record> records) {
  if (records.size() > kMaxRecords) return false;
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::array<char, kMaxRecords * sizeof(input_event)> bytes{};
  size_t size = 0;
  for (const Record& record : records) {
    input_event ev{};
    // The time stamp fields are named by macros: their type depends on the machine's
    // time_t.
    ev.input_event_sec = static_cast<decltype(ev.input_event_sec)>(now.tv_sec);
    ev.input_event_usec = static_cast<decltype(ev.input_event_usec)>(now.tv_nsec / 1000);
    ev.type = record.type;
    ev.code = record.code;
    ev.value = record.value;
    std::memcpy(bytes.data() + size, &ev, sizeof ev);
    size += sizeof ev;
  }
  std::scoped_lock lock(mutex_);
  if (fd_ < 0) return false;  // error_ says why
  // No SIGPIPE can come from here: this descriptor reads the FIFO too, so it always
  // has a reader.
  ssize_t n;
  do {
    n = ::write(fd_, bytes.data(), size);
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(size)) {
    error_.clear();
    return true;
  }
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
    error_ = "the service keyboard is full: the controller does not read it";
  } else if (n < 0) {
    error_ = "cannot write the service keyboard: " + errnoText(errno);
  } else {
    error_ = "the service keyboard took only part of an event";
  }
  return false;
}

}  // namespace corvid::bench

#include "sim/wire_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <system_error>

namespace corvid::bench {

namespace {

void writeAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a full disk loses log lines, never the simulation
    text.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace

std::vector<WireExchange> exchangesOf(std::span<const WireEntry> wire) {
  std::vector<WireExchange> out;
  for (const WireEntry& entry : wire) {
    if (entry.fromController()) {
      out.push_back({&entry, nullptr});
    } else if (!out.empty() && out.back().reply == nullptr) {
      out.back().reply = &entry;
    }
  }
  return out;
}

bool WireLog::openFile(const std::filesystem::path& file,
                       std::chrono::steady_clock::time_point start, std::string& error) {
  UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644));
  if (!fd) {
    error = "cannot open " + file.string() + ": " + std::generic_category().message(errno);
    return false;
  }
  std::scoped_lock lock(mutex_);
  file_ = std::move(fd);
  start_ = start;
  return true;
}

void WireLog::closeFile() {
  std::scoped_lock lock(mutex_);
  file_.reset();
}

void WireLog::note(std::string_view text) {
  std::scoped_lock lock(mutex_);
  if (file_) writeAll(file_.get(), "# " + printable(text) + "\n");
}

void WireLog::writeLine(const WireEntry& entry) {
  if (!file_) return;
  std::array<char, 32> time{};
  std::snprintf(time.data(), time.size(), "%12.6f",
                std::chrono::duration<double>(entry.at - start_).count());
  std::string line = time.data();
  line += entry.fromController() ? " ctl> " : " amp> ";
  line += printable(entry.bytes);
  if (entry.fromController() && entry.check != FrameCheck::Ok) {
    line += "   ! ";
    line += describe(entry.check);
  }
  line += '\n';
  writeAll(file_.get(), line);
}

void WireLog::add(WireEntry entry) {
  {
    std::scoped_lock lock(mutex_);
    writeLine(entry);
    entries_.push_back(std::move(entry));
    // Trimmed in halves, so that a long bench run costs amortised constant time.
    if (entries_.size() > 2 * keep_) {
      const size_t drop = entries_.size() - keep_;
      entries_.erase(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(drop));
      firstIndex_ += drop;
    }
  }
  changed_.notify_all();
}

size_t WireLog::size() const {
  std::scoped_lock lock(mutex_);
  return firstIndex_ + entries_.size();
}

std::span<const WireEntry> WireLog::keptFrom(size_t from) const {
  const size_t skip = from > firstIndex_ ? from - firstIndex_ : 0;
  if (skip >= entries_.size()) return {};
  return std::span<const WireEntry>(entries_).subspan(skip);
}

std::vector<WireEntry> WireLog::since(size_t from) const {
  std::scoped_lock lock(mutex_);
  const std::span<const WireEntry> kept = keptFrom(from);
  return {kept.begin(), kept.end()};
}

bool WireLog::waitFor(size_t from, const std::function<bool(std::span<const WireEntry>)>& done,
                      std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return done(keptFrom(from)); });
}

}  // namespace corvid::bench

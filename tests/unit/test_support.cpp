#include "tests/unit/test_support.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/clock.h"
#include "platform/root.h"

namespace corvid::testing {

namespace fs = std::filesystem;

TempRoot::TempRoot() {
  std::string tmpl = (fs::temp_directory_path() / "corvid-unit-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
  dir_ = tmpl;
  fs::create_directories(dir_ / "opt/set");
  fs::create_directories(dir_ / "bin");
  // The stand-in lifts a file size limit a test may have set to fake a full disk.
  addProgram("mount",
             "ulimit -f unlimited 2>/dev/null\n"
             "echo \"mount $*\" >> \"" + dir_.string() + "/calls.log\"\n"
             "case \"$*\" in *rw*) [ -e \"" + dir_.string() + "/fail-mount-rw\" ] && exit 1;; "
             "*) [ -e \"" + dir_.string() + "/fail-mount-ro\" ] && exit 1;; esac\n"
             "exit 0\n");
  platform::setRoot(dir_.string());
}

TempRoot::~TempRoot() {
  platform::setRoot("");
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

fs::path TempRoot::path(const std::string& absolute) const {
  return dir_ / absolute.substr(absolute.front() == '/' ? 1 : 0);
}

std::string TempRoot::read(const std::string& absolute) const {
  std::ifstream in(path(absolute), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void TempRoot::write(const std::string& absolute, const std::string& content) const {
  std::ofstream out(path(absolute), std::ios::binary);
  out << content;
}

std::vector<std::string> TempRoot::calls() const {
  std::vector<std::string> lines;
  std::ifstream in(dir_ / "calls.log");
  for (std::string line; std::getline(in, line);) {
    for (size_t at; (at = line.find(dir_.string())) != std::string::npos;) {
      line.replace(at, dir_.string().size(), "DIR");
    }
    lines.push_back(line);
  }
  return lines;
}

void TempRoot::failMount(const std::string& which) const {
  std::ofstream(dir_ / ("fail-mount-" + which)) << "\n";
}

void TempRoot::addProgram(const std::string& name, const std::string& script) const {
  const fs::path file = dir_ / "bin" / name;
  std::ofstream(file) << "#!/bin/sh\n" << script;
  fs::permissions(file, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
}

LogCatcher::LogCatcher() {
  platform::setLogSink([this](platform::LogLevel, std::string_view text) {
    std::scoped_lock lock(mutex_);
    lines_.emplace_back(text);
  });
}

LogCatcher::~LogCatcher() { platform::setLogSink({}); }

std::vector<std::string> LogCatcher::lines() const {
  std::scoped_lock lock(mutex_);
  return lines_;
}

bool LogCatcher::contains(const std::string& text) const { return find(text) >= 0; }

int LogCatcher::find(const std::string& text, int from) const {
  std::scoped_lock lock(mutex_);
  for (size_t i = static_cast<size_t>(from); i < lines_.size(); ++i) {
    if (lines_[i].find(text) != std::string::npos) return static_cast<int>(i);
  }
  return -1;
}

struct InstantSleep::State {
  std::atomic<long long> total{0};
};

InstantSleep::InstantSleep() : state_(new State) {
  platform::setSleepHook([state = state_](std::chrono::milliseconds d) {
    state->total += d.count();
    std::this_thread::yield();
  });
}

InstantSleep::~InstantSleep() {
  platform::setSleepHook({});
  delete state_;
}

std::chrono::milliseconds InstantSleep::total() const {
  return std::chrono::milliseconds(state_->total.load());
}

}  // namespace corvid::testing

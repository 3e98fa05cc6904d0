// Shared by the unit tests: a temporary root with a recording mount stand-in, a log
// catcher, and instant sleeps.
#pragma once

#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/log.h"

namespace corvid::testing {

// A fresh root folder with opt/set and a "mount" stand-in in bin/ that appends its
// arguments to DIR/calls.log and fails when DIR/fail-mount-rw or DIR/fail-mount-ro
// exists. The platform root points at it for the life of the object.
class TempRoot {
 public:
  TempRoot();
  ~TempRoot();
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  std::filesystem::path path(const std::string& absolute) const;
  std::string read(const std::string& absolute) const;
  void write(const std::string& absolute, const std::string& content) const;
  // Lines of calls.log; the root's folder is shown as "DIR".
  std::vector<std::string> calls() const;
  void failMount(const std::string& which) const;  // "rw" or "ro"
  void addProgram(const std::string& name, const std::string& script) const;

 private:
  std::filesystem::path dir_;
};

// Catches every log line while it lives.
class LogCatcher {
 public:
  LogCatcher();
  ~LogCatcher();
  std::vector<std::string> lines() const;
  bool contains(const std::string& text) const;
  // Index of the first line holding text at or after from; -1 if none.
  int find(const std::string& text, int from = 0) const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Every platform sleep returns at once while it lives (and is counted).
class InstantSleep {
 public:
  InstantSleep();
  ~InstantSleep();
  std::chrono::milliseconds total() const;

 private:
  struct State;
  State* state_;
};

}  // namespace corvid::testing

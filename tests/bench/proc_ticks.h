// Processor time of a process and of its threads, from /proc, for the benchmarks.
#pragma once

#include <sys/types.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

namespace corvid::bench::test {

// utime + stime of a /proc stat file, in clock ticks. The name field may hold blanks
// and parentheses: the fields are counted from the last ')'.
inline std::optional<unsigned long long> cpuTicks(const std::filesystem::path& statFile) {
  std::ifstream in(statFile);
  std::string text;
  std::getline(in, text);
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0;
  unsigned long long stime = 0;
  // Field 3 (state) is the first after the name; utime and stime are fields 14 and 15.
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::strtoull(field.c_str(), nullptr, 10);
    if (i == 15) stime = std::strtoull(field.c_str(), nullptr, 10);
  }
  if (!fields) return std::nullopt;
  return utime + stime;
}

// Ticks per thread, keyed by "name (tid)".
inline std::map<std::string, unsigned long long> threadTicks(pid_t pid) {
  std::map<std::string, unsigned long long> ticks;
  std::error_code ec;
  for (const auto& task :
       std::filesystem::directory_iterator(std::filesystem::path("/proc") / std::to_string(pid) / "task", ec)) {
    std::ifstream commFile(task.path() / "comm");
    std::string comm;
    std::getline(commFile, comm);
    if (const auto t = cpuTicks(task.path() / "stat")) {
      ticks[comm + " (" + task.path().filename().string() + ")"] = *t;
    }
  }
  return ticks;
}

}  // namespace corvid::bench::test

#include "platform/log.h"

#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace corvid::platform {

namespace {
std::mutex gSinkMutex;
LogSink gSink;

std::string format(const char* fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n <= 0) return {};
  std::string text(static_cast<size_t>(n), '\0');
  std::vsnprintf(text.data(), text.size() + 1, fmt, args);
  return text;
}

void emit(LogLevel level, const char* fmt, va_list args) {
  std::string text = format(fmt, args);
  {
    std::scoped_lock lock(gSinkMutex);
    if (gSink) {
      gSink(level, text);
      return;
    }
  }
  switch (level) {
    case LogLevel::Info: syslog(LOG_INFO, "%s", text.c_str()); break;
    case LogLevel::Error: syslog(LOG_ERR, "%s", text.c_str()); break;
    case LogLevel::Trace: std::fputs(text.c_str(), stderr); break;
  }
}
}  // namespace

void openLog(bool copyToStderr) {
  openlog(nullptr, copyToStderr ? LOG_PERROR : 0, LOG_USER);
}

void logInfo(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  emit(LogLevel::Info, fmt, args);
  va_end(args);
}

void logError(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  emit(LogLevel::Error, fmt, args);
  va_end(args);
}

void trace(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  emit(LogLevel::Trace, fmt, args);
  va_end(args);
}

void setLogSink(LogSink sink) {
  std::scoped_lock lock(gSinkMutex);
  gSink = std::move(sink);
}

}  // namespace corvid::platform

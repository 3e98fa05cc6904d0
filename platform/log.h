// Logging: syslog at information and error level under the process's default identity;
// with a root every syslog line is also copied to standard error. Trace lines go to
// standard error only. Tests may catch every line through a sink.
#pragma once

#include <functional>
#include <string_view>

namespace corvid::platform {

enum class LogLevel { Info, Error, Trace };

// Opens the system log. copyToStderr: also write each line to standard error.
void openLog(bool copyToStderr);

// printf-style; the format strings are the system's own messages.
void logInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Standard error only, written as given (the caller adds the line feed).
void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A sink receives every line instead of syslog and standard error (tests).
using LogSink = std::function<void(LogLevel, std::string_view)>;
void setLogSink(LogSink sink);

}  // namespace corvid::platform

// The calls log of a bench root. Every stand-in program appends one line per call to
// DIR/var/log/bench-calls.log, so that a test sees which commands the controller ran, in
// order, with their arguments exactly as the program received them.
//
// Line format: argv[0] (as called: "mount", or "DIR/sbin/reboot" for an absolute call)
// and each argument, separated by one blank. A word that is not empty and holds no byte
// below 0x21, no 0x7F, no double quote and no backslash is written as it is; any other
// word is written in double quotes with the escapes \" \\ \n \t \r and \xHH, so every
// call stays on one line and its words can be read back (splitCallLine).
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvid::bench {

std::string formatCall(std::span<const std::string> argv);

// The words of one line of the log; empty when the line is malformed.
std::optional<std::vector<std::string>> splitCallLine(std::string_view line);

// Appends formatCall(argv) and a line feed with a single write on a descriptor opened
// with O_APPEND, so the lines of concurrent calls never interleave. 0 or errno.
int appendCall(const std::filesystem::path& log, std::span<const std::string> argv);

// Every line of the log, without line feeds; empty when the log is missing.
std::vector<std::string> readCallsLog(const std::filesystem::path& log);

}  // namespace corvid::bench

// Shell commands, as system() and popen() run them, with the root applied: absolute
// paths in the command line are mapped under the root and PATH holds only the root's
// program folders, so that off the unit nothing real is remounted, rebooted or
// reconfigured.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/fd.h"

namespace corvid::platform {

struct CommandStatus {
  int spawnError = 0;  // errno when the shell could not be started
  int exitCode = -1;   // the shell's exit status; -1 when it did not exit normally
  bool ok() const { return spawnError == 0 && exitCode == 0; }
  // One number for a log line: errno when it could not start, else the exit status.
  int errorCode() const { return spawnError != 0 ? spawnError : exitCode; }
};

// Runs the command through /bin/sh -c and waits for it.
CommandStatus runCommand(std::string_view command);

// For the fuzz targets, which must not start a shell for each input: while set, runCommand
// hands its command to the hook instead and returns what the hook returns. nullptr: the
// shell again.
using CommandHook = CommandStatus (*)(std::string_view command);
void setCommandHook(CommandHook hook);

// A command whose standard output is read line by line (popen "r").
class CommandPipe {
 public:
  static std::optional<CommandPipe> start(std::string_view command);
  CommandPipe(CommandPipe&& other) noexcept;
  CommandPipe& operator=(CommandPipe&& other) noexcept;
  CommandPipe(const CommandPipe&) = delete;
  CommandPipe& operator=(const CommandPipe&) = delete;
  ~CommandPipe();

  // Next line without its line feed, at most maxChars characters (the rest of a longer
  // line is dropped). False at the end of the output.
  bool readLine(std::string& line, size_t maxChars);
  // Waits for the command; its status as runCommand reports it.
  CommandStatus close();

 private:
  CommandPipe(Fd out, pid_t pid) : out_(std::move(out)), pid_(pid) {}
  Fd out_;
  pid_t pid_ = -1;
  std::string pending_;
  bool eof_ = false;
};

}  // namespace corvid::platform

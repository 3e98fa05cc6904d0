// The root: on the unit every path is the real one; on the bench (corvid --root DIR or
// CORVID_ROOT=DIR) every absolute path the program opens, creates, deletes, lists, maps
// or executes is taken under DIR, and so are the absolute paths inside shell commands.
#pragma once

#include <string>
#include <string_view>

namespace corvid::platform {

// Set once at start, before any thread runs. An empty root means the unit itself.
void setRoot(std::string dir);
const std::string& root();
bool hasRoot();

// "/opt/set/setup.txt" -> "DIR/opt/set/setup.txt". Relative paths stay as they are, and
// so does /dev/null, which every shell redirection needs and which harms nothing.
std::string hostPath(std::string_view path);

// Maps every absolute path that starts a word of a shell command line (also right
// after a redirection or an '=').
std::string hostCommand(std::string_view command);

// The PATH a command sees under the root: DIR/usr/local/bin:DIR/usr/bin:DIR/bin:...
std::string commandSearchPath();

}  // namespace corvid::platform

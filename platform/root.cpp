#include "platform/root.h"

namespace corvid::platform {

namespace {
std::string gRoot;

bool startsWord(char previous) {
  switch (previous) {
    case ' ': case '\t': case '<': case '>': case '=': case '|': case ';': case '&':
    case '(': case '\'': case '"':
      return true;
    default:
      return false;
  }
}
}  // namespace

void setRoot(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  gRoot = std::move(dir);
}

const std::string& root() { return gRoot; }

bool hasRoot() { return !gRoot.empty(); }

std::string hostPath(std::string_view path) {
  if (gRoot.empty() || path.empty() || path.front() != '/' || path == "/dev/null") {
    return std::string(path);
  }
  return gRoot + std::string(path);
}

std::string hostCommand(std::string_view command) {
  if (gRoot.empty()) return std::string(command);
  std::string out;
  out.reserve(command.size() + gRoot.size() * 2);
  for (size_t i = 0; i < command.size(); ++i) {
    if (command[i] == '/' && (i == 0 || startsWord(command[i - 1]))) {
      size_t end = i;
      while (end < command.size() && command[end] != ' ' && command[end] != '\t' &&
             command[end] != '|' && command[end] != ';' && command[end] != '&' &&
             command[end] != '>' && command[end] != '<' && command[end] != ')' &&
             command[end] != '\'' && command[end] != '"') {
        ++end;
      }
      out += hostPath(command.substr(i, end - i));
      i = end - 1;
    } else {
      out += command[i];
    }
  }
  return out;
}

std::string commandSearchPath() {
  if (gRoot.empty()) return {};
  std::string path;
  for (const char* dir : {"/usr/local/bin", "/usr/bin", "/bin", "/usr/sbin", "/sbin"}) {
    if (!path.empty()) path += ':';
    path += gRoot + dir;
  }
  return path;
}

}  // namespace corvid::platform

#include "sim/calls_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

namespace corvid::bench {

namespace {

bool plainWord(std::string_view word) {
  if (word.empty()) return false;
  for (const char c : word) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x21 || b == 0x7F || c == '"' || c == '\\') return false;
  }
  return true;
}

void appendQuoted(std::string& out, std::string_view word) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += '"';
  for (const char c : word) {
    const auto b = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (b < 0x20 || b == 0x7F) {
          out += "\\x";
          out += kHex[b >> 4];
          out += kHex[b & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string formatCall(std::span<const std::string> argv) {
  std::string out;
  for (const std::string& word : argv) {
    if (!out.empty()) out += ' ';
    if (plainWord(word)) {
      out += word;
    } else {
      appendQuoted(out, word);
    }
  }
  return out;
}

std::optional<std::vector<std::string>> splitCallLine(std::string_view line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] != '"') {
      const size_t end = std::min(line.find(' ', i), line.size());
      if (end == i) return std::nullopt;  // plain words are never empty
      words.emplace_back(line.substr(i, end - i));
      i = end;
    } else {
      std::string word;
      ++i;
      bool closed = false;
      while (i < line.size() && !closed) {
        const char c = line[i++];
        if (c == '"') {
          closed = true;
        } else if (c != '\\') {
          word += c;
        } else {
          if (i >= line.size()) return std::nullopt;
          const char e = line[i++];
          switch (e) {
            case '"':
              word += '"';
              break;
            case '\\':
              word += '\\';
              break;
            case 'n':
              word += '\n';
              break;
            case 't':
              word += '\t';
              break;
            case 'r':
              word += '\r';
              break;
            case 'x': {
              if (i + 2 > line.size()) return std::nullopt;
              const int hi = hexDigit(line[i]);
              const int lo = hexDigit(line[i + 1]);
              if (hi < 0 || lo < 0) return std::nullopt;
              word += static_cast<char>(hi * 16 + lo);
              i += 2;
              break;
            }
            default:
              return std::nullopt;
          }
        }
      }
      if (!closed) return std::nullopt;
      words.push_back(std::move(word));
    }
    if (i < line.size()) {
      if (line[i] != ' ' || i + 1 == line.size()) return std::nullopt;
      ++i;
    }
  }
  return words;
}

int appendCall(const std::filesystem::path& log, std::span<const std::string> argv) {
  const std::string line = formatCall(argv) + '\n';
  const int fd = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  // One write: with O_APPEND the kernel places it whole at the end of the file.
  ssize_t n;
  do {
    n = ::write(fd, line.data(), line.size());
  } while (n < 0 && errno == EINTR);
  const int err = n < 0 ? errno : (static_cast<size_t>(n) == line.size() ? 0 : EIO);
  ::close(fd);
  return err;
}

std::vector<std::string> readCallsLog(const std::filesystem::path& log) {
  std::vector<std::string> lines;
  std::ifstream in(log);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

}  // namespace corvid::bench

#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <string>

#include "platform/command.h"
#include "platform/log.h"
#include "platform/root.h"

namespace corvid::platform {

File openForReading(std::string_view path) {
  return File(std::fopen(hostPath(path).c_str(), "rb"));
}

std::optional<std::string> readFile(std::string_view path, size_t maxBytes) {
  File file = openForReading(path);
  if (!file) return std::nullopt;
  std::string content;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    if (content.size() + n > maxBytes) {
      errno = EFBIG;
      return std::nullopt;
    }
    content.append(buffer, n);
  }
  if (std::ferror(file.get()) != 0) {
    errno = EIO;
    return std::nullopt;
  }
  return content;
}

bool LineReader::open(std::string_view path) {
  file_.reset(std::fopen(hostPath(path).c_str(), "r"));
  return file_ != nullptr;
}

bool LineReader::next(std::string& line, size_t maxChars, bool* overlong) {
  line.clear();
  if (!file_) return false;
  bool cut = false;
  int c;
  bool any = false;
  while ((c = std::fgetc(file_.get())) != EOF) {
    any = true;
    if (line.size() < maxChars) {
      line += static_cast<char>(c);
    } else if (c != '\n') {
      cut = true;
    }
    if (c == '\n') break;
  }
  if (overlong != nullptr) *overlong = cut;
  return any;
}

void stripLineEnd(std::string& line) {
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
}

namespace {
int writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return 0;
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The temporary files of a rewrite are the file's name, a dot and six letters or digits.
constexpr size_t kTempSuffix = 6;
bool isTempOf(std::string_view name, std::string_view base) {
  if (name.size() != base.size() + 1 + kTempSuffix || !name.starts_with(base) ||
      name[base.size()] != '.') {
    return false;
  }
  return std::all_of(name.end() - kTempSuffix, name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

// A power cut in the middle of a rewrite leaves its temporary file behind: the next
// rewrite of the same file removes it, so that cuts over the years do not fill the card.
void removeStaleTemps(const std::string& target) {
  const size_t slash = target.rfind('/');
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folderOf(target), ec)) {
    if (isTempOf(entry.path().filename().string(), base)) {
      std::filesystem::remove(entry.path(), ec);
    }
  }
}

// One rewrite at a time in this process, so that no rewrite takes another's temporary
// file for a stale one.
std::mutex& rewriteMutex() {
  static std::mutex m;
  return m;
}
}  // namespace

int replaceFileAtomically(std::string_view path, std::string_view content) {
  const std::string target = hostPath(path);
  std::scoped_lock lock(rewriteMutex());
  removeStaleTemps(target);
  std::string temp = target + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  int err = writeAll(fd, content);
  if (err == 0 && ::fchmod(fd, 0644) != 0) err = errno;
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(temp.c_str(), target.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(temp.c_str());
    return err;
  }
  // The rename itself must reach the disk too.
  const int dir = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return 0;
}

std::vector<std::string> listFolder(std::string_view folder, std::string_view prefix) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(hostPath(folder), ec)) {
    std::string name = entry.path().filename().string();
    // As the shell's pattern: hidden names only when the prefix itself starts with '.'.
    if (name.starts_with(prefix) && (name[0] != '.' || prefix.starts_with('.'))) {
      names.push_back(std::move(name));
    }
  }
  std::sort(names.begin(), names.end());
  for (std::string& name : names) name = std::string(folder) + "/" + name;
  return names;
}

bool fileExists(std::string_view path) {
  struct stat st {};
  return ::stat(hostPath(path).c_str(), &st) == 0;
}

int removeFile(std::string_view path) {
  if (::unlink(hostPath(path).c_str()) != 0 && errno != ENOENT) return errno;
  return 0;
}

namespace {
std::recursive_mutex gSetWindowMutex;
}

SetWriteWindow::SetWriteWindow() : lock_(gSetWindowMutex) {
  const CommandStatus status = runCommand("mount -o remount defaults,rw /opt/set");
  writable_ = status.ok();
  if (!writable_) logError("can't mount rw /opt/set/ error %d", status.errorCode());
}

SetWriteWindow::~SetWriteWindow() {
  // Whatever happened inside the window (a failed open, a full disk), the partition
  // goes back to read-only. A failed rw remount left it as it was.
  if (!writable_) return;
  const CommandStatus status = runCommand("mount -v -n -o remount -r /opt/set");
  if (!status.ok()) logError("can't mount ro /opt/set/ error %d", status.errorCode());
}

}  // namespace corvid::platform

// Files under the root: bounded line reading, atomic replacement, and the read-write
// window of /opt/set (a read-only partition remounted read-write around each write).
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvid::platform {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
// A stdio file that closes itself.
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens a file for reading in binary mode: an absolute path under the root, a relative one
// relative to the working directory (the panel pictures). Empty, with errno set, when it
// cannot be opened.
File openForReading(std::string_view path);

// The whole content of a file (under the root); empty, with errno set, when it cannot
// be opened or read, or holds more than maxBytes (EFBIG).
std::optional<std::string> readFile(std::string_view path, size_t maxBytes);

// Reads a text file line by line as a fixed-size line buffer would: each line without
// its line feed, cut to maxChars characters. Unlike fgets, the rest of an overlong line
// is dropped, never handed back as a line of its own.
class LineReader {
 public:
  // Opens the path under the root; false (errno set) when it cannot be opened.
  bool open(std::string_view path);
  bool isOpen() const { return file_ != nullptr; }
  // Next line; false at the end of the file. overlong tells whether it was cut.
  bool next(std::string& line, size_t maxChars, bool* overlong = nullptr);

 private:
  File file_;
};

// Removes one trailing "\n" and then one trailing "\r".
void stripLineEnd(std::string& line);

// Writes content to a temporary file in the same folder, flushes it to disk and renames
// it over the path (under the root): a power cut leaves the old file or the new one.
// Returns 0 or the errno of the step that failed; on failure the old file is untouched.
int replaceFileAtomically(std::string_view path, std::string_view content);

bool fileExists(std::string_view path);
// Removes a file under the root; 0 or errno (a missing file is not an error).
int removeFile(std::string_view path);
// The entries of a folder (under the root) whose names start with prefix, as the shell
// pattern "FOLDER/PREFIX*" lists them: sorted, each as FOLDER/NAME. Empty when none.
std::vector<std::string> listFolder(std::string_view folder, std::string_view prefix);

// The read-write window of /opt/set. Opening it runs
// "mount -o remount defaults,rw /opt/set"; closing it runs
// "mount -v -n -o remount -r /opt/set", also after a failed write, so the partition is
// never left writable. Windows are serialised: two writers cannot remount the partition
// read-only under each other.
class SetWriteWindow {
 public:
  SetWriteWindow();
  ~SetWriteWindow();
  SetWriteWindow(const SetWriteWindow&) = delete;
  SetWriteWindow& operator=(const SetWriteWindow&) = delete;

  // False when the read-write remount failed ("can't mount rw /opt/set/ error %d" has
  // been logged); the caller writes nothing then.
  bool writable() const { return writable_; }

 private:
  std::unique_lock<std::recursive_mutex> lock_;
  bool writable_ = false;
};

}  // namespace corvid::platform

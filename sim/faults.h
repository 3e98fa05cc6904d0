// Faults injected into the stand-in programs from outside (a test, a scenario, the
// bench's --fault option). The file DIR/bench/faults holds words separated by blanks or
// line feeds; '#' starts a comment that runs to the end of its line. A word names the
// calls that fail:
//
//   PROGRAM     every call of that stand-in: mount, rm, reboot, my_temp, my_vorn, lsusb,
//               stty, tput, sudo, ifup, ifdown, fbgrab, getpack.sh, getpack2.sh,
//               sshshell
//   mount-rw    only the read-write remount ("mount -o remount defaults,rw /opt/set")
//   mount-ro    only the read-only remount ("mount -v -n -o remount -r /opt/set")
//
// and may end in "=N" to choose the exit status, 1 to 255 (default 1): "mount-rw=32".
// A failing call is still recorded in the calls log; it prints nothing on standard
// output, one line "PROGRAM: bench fault WORD" on standard error, and exits with the
// status. Words that no stand-in knows are kept: later simulators read the same file.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvid::bench {

struct Fault {
  std::string word;
  int status = 1;
};

class Faults {
 public:
  // Malformed words ("=N" out of range or not a number) are described in errors and
  // then taken with the default status, so a fault is never silently lost.
  static Faults parse(std::string_view text, std::vector<std::string>* errors = nullptr);
  // A missing file means no faults.
  static Faults load(const std::filesystem::path& file);

  // The exit status of the fault with exactly this word, if it is set.
  std::optional<int> status(std::string_view word) const;
  const std::vector<Fault>& all() const { return faults_; }

 private:
  std::vector<Fault> faults_;
};

}  // namespace corvid::bench

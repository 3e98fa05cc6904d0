// The program's side of the software updates: the update scripts run and their output
// read, the last-good marker cleared once the program has run for 30 seconds, and the
// information file with the unit's identity and live readings.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace corvid {

struct Works;

inline constexpr std::string_view kInfoPath = "/opt/set/info.txt";
inline constexpr std::string_view kUpdateScript = "/opt/Corvid/getpack.sh";
inline constexpr std::string_view kServiceUpdateScript = "/opt/Corvid/getpack2.sh";
inline constexpr size_t kUpdateLineMax = 127;

// The 17 lines of the information file, in °F for the temperatures when TempMode is 1.
std::string infoFileText(const Works& works);
// Replaces /opt/set/info.txt with them, inside the read-write window of /opt/set.
void WrInfoFile(Works& works);

// What an update script's output says, line by line: 0 success (a line starting
// "ALLOK", which ends the reading), the number of the last error line (starting "VORNE",
// the number from its 11th character on; the line before it is the error text), or -1
// when it said neither.
class UpdateOutput {
 public:
  // Takes the next line (without its line feed); false once the reading is to stop.
  bool take(std::string_view line);
  int result() const { return result_; }
  const std::string& errorText() const { return errorText_; }
  bool sawError() const { return sawError_; }

 private:
  int result_ = -1;
  bool sawError_ = false;
  std::string errorText_;
  std::string previous_;
};
// Run the normal and the service update script and return the result as above; while
// one runs updateErrorText is "0". A script that cannot be started gives -1.
int ReadSystemGetpack(Works& works);
int ReadSystemGetpack2(Works& works);

// Removes the last-good marker /opt/set/good.
void DeleteLastGoodLink();

// Thread body: after 30 s of running the marker is removed; a program that stops
// before keeps it.
void AggFWThread(Works& works);

// A text kept in one of the amplifier's memory pages: up to its first NUL, any byte
// that is not printable ASCII shown as '.', so the file and the panel stay plain text.
std::string pageText(std::span<const uint8_t> page);

}  // namespace corvid

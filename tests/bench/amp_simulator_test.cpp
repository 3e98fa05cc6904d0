// The amplifier micro simulator on its pseudo-terminal, driven from this test as the
// controller drives it: the link under the root, raw bytes both ways, bad frames,
// faults through the interface and through the faults file, the wire log.
#include "sim/amp_simulator.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/bench/bench_harness.h"

namespace corvid::bench::test {
namespace {

namespace fs = std::filesystem;

// The controller's end of the line.
class Line {
 public:
  explicit Line(const fs::path& path)
      : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
  bool isOpen() const { return static_cast<bool>(fd_); }

  void write(std::string_view bytes) const {
    ASSERT_EQ(::write(fd_.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // The bytes that arrive until ';' or n bytes, or until the line stays quiet for quiet.
  std::string read(size_t n = 4096, std::chrono::milliseconds quiet = 1000ms) const {
    std::string got;
    while (got.size() < n && (got.empty() || got.back() != ';')) {
      pollfd p{fd_.get(), POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(quiet.count())) <= 0) break;
      char c;
      if (::read(fd_.get(), &c, 1) != 1) break;
      got += c;
    }
    return got;
  }

 private:
  UniqueFd fd_;
};

class SimulatorOnItsLine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path().empty());
    for (const char* folder : {"dev", "var/log", "bench"}) {
      fs::create_directories(temp_.path() / folder);
    }
    AmpSimulatorOptions options;
    options.root = temp_.path();
    micro_.emplace(options);
    std::string error;
    ASSERT_TRUE(micro_->start(error)) << error;
  }

  std::string wireFile() const {
    std::ifstream in(temp_.path() / "var/log/amp-wire.log");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  TempFolder temp_;
  std::optional<AmpSimulator> micro_;
};

TEST_F(SimulatorOnItsLine, AnswersFramesOnTheLinkedLineAndLogsThem) {
  const fs::path link = temp_.path() / "dev/ttyAMA0";
  EXPECT_EQ(fs::read_symlink(link), micro_->slavePath());
  Line line(link);
  ASSERT_TRUE(line.isOpen());

  // Digits and text in two writes, as the controller sends them.
  line.write("4d");
  line.write("ST;");
  const std::string status = line.read();
  EXPECT_EQ(status, frameReply("ST0800000000000000002048204800000000;"));
  line.write(frameCommand("SA2;") + frameCommand("VSM;"));
  EXPECT_EQ(line.read(), frameReply("SA2;"));
  EXPECT_EQ(line.read(), frameReply("VSM1.02.03;"));
  EXPECT_EQ(micro_->withMicro([](AmpMicro& m) { return m.settings().selectedAntenna; }), 2);

  // Frames the micro cannot trust are counted and not answered.
  line.write("4DST;");
  line.write("4eST;");
  EXPECT_EQ(line.read(4096, 300ms), "");
  const SimulatorCounters counters = micro_->counters();
  EXPECT_EQ(counters.frames, 5u);
  EXPECT_EQ(counters.badFrames, 2u);
  EXPECT_EQ(counters.replies, 3u);
  EXPECT_EQ(counters.refused, 0);

  const std::vector<WireEntry> wire = micro_->wire().since();
  ASSERT_EQ(wire.size(), 8u);
  EXPECT_TRUE(wire[0].fromController());
  EXPECT_EQ(wire[0].bytes, "4dST;");
  EXPECT_EQ(wire[1].bytes, status);
  EXPECT_FALSE(wire[1].fromController());
  EXPECT_LE(wire[0].at, wire[1].at);
  EXPECT_EQ(wire[6].check, FrameCheck::UpperCaseDigits);
  EXPECT_EQ(wire[7].check, FrameCheck::WrongChecksum);
  EXPECT_EQ(micro_->wire().since(7).size(), 1u);

  const std::string file = wireFile();
  EXPECT_NE(file.find(" ctl> 4dST;\n"), std::string::npos) << file;
  EXPECT_NE(file.find(" amp> " + status + "\n"), std::string::npos) << file;
  EXPECT_NE(file.find(" ctl> 4DST;   ! upper-case checksum digits\n"), std::string::npos);

  micro_->stop();
  EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "the link goes with the simulator";
}

TEST_F(SimulatorOnItsLine, FaultBytesPassTheLineUntranslated) {
  Line line(temp_.path() / "dev/ttyAMA0");
  ASSERT_TRUE(line.isOpen());
  MicroFaults faults;
  faults.replies = {{ReplyFault::Garbage, "ST"},
                    {ReplyFault::LowerCaseChecksum, "FM"},
                    {ReplyFault::Semicolon, "SA"},
                    {ReplyFault::BadChecksum, "AN"},
                    {ReplyFault::Refused, "MP"}};
  micro_->setFaults(faults);

  line.write(frameCommand("ST;"));
  const std::string garbage = line.read(24, 500ms);
  ASSERT_EQ(garbage.size(), 24u);
  EXPECT_EQ(garbage.substr(0, 6), std::string("\r\n\0\x11\x13\xFF", 6)) << "no byte translated";
  EXPECT_EQ(garbage.find(';'), std::string::npos);
  // The simulator logs a reply once it is written: the log may trail the line a little.
  EXPECT_TRUE(waitUntil(
      [&] {
        const std::vector<WireEntry> wire = micro_->wire().since();
        return !wire.empty() && wire.back().bytes == garbage;
      },
      3s));

  line.write(frameCommand("FM;"));
  EXPECT_EQ(line.read(), frameReply("FM000014070000;", DigitCase::Lower));
  line.write(frameCommand("SA3;"));
  EXPECT_EQ(line.read(), ";");
  line.write(frameCommand("AN1;"));
  const std::string badSum = line.read();
  EXPECT_EQ(badSum.substr(2), "AN1;");
  EXPECT_NE(badSum, frameReply("AN1;"));
  line.write(frameCommand("MP0;"));
  EXPECT_EQ(line.read(), frameReply("MP?;"));
  EXPECT_TRUE(micro_->withMicro([](AmpMicro& m) { return m.settings().protectionOn; }))
      << "a refused command is not carried out";

  faults.replies = {{ReplyFault::Overlong, ""}};
  micro_->setFaults(faults);
  line.write(frameCommand("ST;"));
  const std::string overlong = line.read(500, 500ms);
  EXPECT_EQ(overlong.size(), 500u);
  EXPECT_EQ(overlong.find(';'), std::string::npos);

  faults.replies = {{ReplyFault::Silent, ""}};
  faults.late = 200ms;
  micro_->setFaults(faults);
  line.write(frameCommand("ST;"));
  EXPECT_EQ(line.read(4096, 300ms), "");

  faults.replies.clear();
  micro_->setFaults(faults);
  const auto sent = SimClock::now();
  line.write(frameCommand("GS;"));
  EXPECT_EQ(line.read(), frameReply("GS0000000000;"));
  EXPECT_GE(SimClock::now() - sent, 190ms) << "a late reply";
}

TEST_F(SimulatorOnItsLine, FaultsFileIsReadAgainWhenItChanges) {
  Line line(temp_.path() / "dev/ttyAMA0");
  ASSERT_TRUE(line.isOpen());
  const fs::path file = temp_.path() / "bench/faults";
  auto writeFaults = [&](const std::string& text) {
    std::ofstream(file.string() + ".new") << text;
    fs::rename(file.string() + ".new", file);
  };
  writeFaults("mount-rw amp-refuse:ST amp-temp1:75\namp-bogus\n");
  ASSERT_TRUE(waitUntil([&] { return micro_->faults().temp1 == 75.0; }, 3s));
  EXPECT_EQ(micro_->faultsFileErrors().size(), 1u);
  line.write(frameCommand("ST;"));
  EXPECT_EQ(line.read(), frameReply("ST?;"));

  // The interface's faults apply with the file's.
  MicroFaults api;
  api.alarmBits = 0x04;
  micro_->setFaults(api);
  writeFaults("amp-temp1:75\n");
  ASSERT_TRUE(waitUntil([&] { return micro_->faults().replies.empty(); }, 3s));
  line.write(frameCommand("ST;"));
  const std::string status = line.read();
  ASSERT_EQ(status.size(), 39u) << status;
  EXPECT_EQ(std::stoi(status.substr(22, 4)), rawOfTemperature(75.0));
  EXPECT_EQ(status[30], '4');

  fs::remove(file);
  ASSERT_TRUE(waitUntil([&] { return !micro_->faults().temp1; }, 3s));
  EXPECT_EQ(micro_->faults().alarmBits, 0x04);
  EXPECT_NE(wireFile().find("# faults file: amp-refuse:ST amp-temp1:75\n"), std::string::npos);
}

}  // namespace
}  // namespace corvid::bench::test

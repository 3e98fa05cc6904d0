// The USB CAT port simulator of the bench (sim/cat_port_sim.h): its protocol as tables of
// what is sent and what comes back, the commands that change the station, the
// auto-information, the faults, the pieces a reply is cut into; then the simulator on
// its pseudo-terminal, read and written as the controller does, with the silent second
// device and the device unplugged and plugged in again. Also the bench's reading of the
// server's log lines about a remote client, and the setup.txt lines a remote scenario
// writes.
#include "sim/cat_port_sim.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "sim/pty.h"
#include "sim/remote_client_watch.h"
#include "sim/scenarios.h"

namespace corvid::bench {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::span<const uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

struct Exchange {
  std::string sent;
  std::vector<std::string> replies;
};

TEST(CatPortProtocol, ReadsAndRefusals) {
  const std::vector<Exchange> cases = {
      {"DT;", {"DT001;"}},
      {"ID;", {"ID077;"}},
      {"FA;", {"FA00014070000;"}},
      {"FB;", {"FB00007100000;"}},
      {"MD;", {"MD2;"}},
      {"AI;", {"AI0;"}},
      // Frequency shown, step, RIT offset, RIT, XIT, memory channel, receiving, USB,
      // VFO A, no scan, no split, no tone.
      {"IF;",
       {"IF00014070000"
        "00000"
        "+00000"
        "0"
        "0"
        "000"
        "0"
        "2"
        "0"
        "0"
        "0"
        "0"
        "00"
        "0;"}},
      {"FA;ID;MD;", {"FA00014070000;", "ID077;", "MD2;"}},
      // Line ends between commands are ignored.
      {"\r\nFA;\r\nID;\n", {"FA00014070000;", "ID077;"}},
      // The reply comes only with the ';'.
      {"FA", {}},
      // Unknown, lower case, too short, empty.
      {"XY;", {"?;"}},
      {"fa;", {"?;"}},
      {"F;", {"?;"}},
      {";", {"?;"}},
      // Parameters where none are taken, and bad ones.
      {"DT001;", {"?;"}},
      {"ID019;", {"?;"}},
      {"RX1;", {"?;"}},
      {"FA1;", {"?;"}},
      {"FA0001407000;", {"?;"}},    // 10 digits
      {"FA000140700000;", {"?;"}},  // 12 digits
      {"FA0001407000A;", {"?;"}},
      {"FA-0014070000;", {"?;"}},
      {"FA00000029999;", {"?;"}},  // below 30 kHz
      {"FA00060000001;", {"?;"}},  // above 60 MHz
      {"FA99999999999;", {"?;"}},  // more than 32 bits
      {"MD0;", {"?;"}},
      {"MD8;", {"?;"}},
      {"MD22;", {"?;"}},
      {"AI2;", {"?;"}},
      {"TX3;", {"?;"}},
      // A control byte drops the command under way: only "A" is left.
      {"F\x01"
       "A;",
       {"?;"}},
      // 41 characters are too many; the next command is answered again.
      {std::string(41, 'A') + ";FA;", {"?;", "FA00014070000;"}},
      {"FA" + std::string(38, '0') + ";", {"?;"}},
  };
  for (const Exchange& c : cases) {
    Station station;
    CatPortRadio radio(station);
    EXPECT_EQ(radio.take(bytesOf(c.sent), {}), c.replies) << c.sent;
    EXPECT_EQ(station.get().freqA, 14'070'000u) << c.sent;
  }
}

TEST(CatPortProtocol, RepliesAssembleAcrossPiecesOfInput) {
  Station station;
  CatPortRadio radio(station);
  EXPECT_TRUE(radio.take(bytesOf("F"), {}).empty());
  EXPECT_TRUE(radio.take(bytesOf("A"), {}).empty());
  EXPECT_EQ(radio.take(bytesOf(";I"), {}), std::vector<std::string>{"FA00014070000;"});
  EXPECT_EQ(radio.take(bytesOf("D;"), {}), std::vector<std::string>{"ID077;"});
  EXPECT_EQ(radio.counters().commands, 2u);
  EXPECT_EQ(radio.counters().received, (std::vector<std::string>{"FA", "ID"}));
}

struct Setting {
  std::string sent;
  std::function<void(Station&)> before;
  std::function<bool(const StationState&)> holds;
  std::string readBack;  // what a read then answers; empty: no read
  std::string readAnswer;
};

TEST(CatPortProtocol, SetCommandsChangeTheStationAndAreNotAnswered) {
  const auto none = [](Station&) {};
  const std::vector<Setting> cases = {
      {"FA00007074000;", none, [](const StationState& s) { return s.freqA == 7'074'000; }, "FA;",
       "FA00007074000;"},
      {"FB00021074000;", none,
       [](const StationState& s) { return s.freqB == 21'074'000 && s.freqA == 14'070'000; }, "FB;",
       "FB00021074000;"},
      {"FA00000030000;", none, [](const StationState& s) { return s.freqA == 30'000; }, "", ""},
      {"FA00060000000;", none, [](const StationState& s) { return s.freqA == 60'000'000; }, "", ""},
      // VFO A is set also while VFO B is the active one; the shown frequency stays B's.
      {"FA00003573000;", [](Station& st) { st.selectVfoB(true); },
       [](const StationState& s) { return s.freqA == 3'573'000 && s.displayFreq() == 7'100'000; },
       "IF;", "IF0000710000000000+0000000000011000000;"},
      {"MD1;", none, [](const StationState& s) { return s.modeA == StationMode::Lsb; }, "MD;",
       "MD1;"},
      // The mode is the active VFO's.
      {"MD5;", [](Station& st) { st.selectVfoB(true); },
       [](const StationState& s) {
         return s.modeB == StationMode::Am && s.modeA == StationMode::Usb;
       },
       "MD;", "MD5;"},
      {"TX;", none, [](const StationState& s) { return s.ptt && !s.tuneCarrier; }, "IF;",
       "IF0001407000000000+0000000000120000000;"},
      {"TX0;", none, [](const StationState& s) { return s.ptt; }, "", ""},
      {"TX1;", none, [](const StationState& s) { return s.ptt; }, "", ""},
      {"TX2;", none, [](const StationState& s) { return s.tuneCarrier && !s.ptt; }, "", ""},
      {"RX;",
       [](Station& st) {
         st.update([](StationState& s) {
           s.ptt = true;
           s.tuneCarrier = true;
         });
       },
       [](const StationState& s) { return !s.transmitting(); }, "", ""},
      // In split the transmitter shows the other VFO and its mode.
      {"TX;",
       [](Station& st) {
         st.setSplit(true);
         st.setMode(StationMode::Cw);
       },
       [](const StationState& s) { return s.ptt; }, "IF;",
       "IF0000710000000000+0000000000110010000;"},
      {"AI1;", none, [](const StationState&) { return true; }, "AI;", "AI1;"},
  };
  for (const Setting& c : cases) {
    Station station;
    c.before(station);
    CatPortRadio radio(station);
    EXPECT_TRUE(radio.take(bytesOf(c.sent), {}).empty()) << c.sent;
    EXPECT_TRUE(c.holds(station.get())) << c.sent;
    if (!c.readBack.empty()) {
      EXPECT_EQ(radio.take(bytesOf(c.readBack), {}), std::vector<std::string>{c.readAnswer})
          << c.sent;
    }
    EXPECT_EQ(radio.counters().unknown, 0u) << c.sent;
  }
}

TEST(CatPortProtocol, EveryModeDigitRoundTrips) {
  const std::vector<std::pair<char, StationMode>> table = {
      {'1', StationMode::Lsb}, {'2', StationMode::Usb}, {'3', StationMode::Cw},
      {'4', StationMode::Fm},  {'5', StationMode::Am},  {'6', StationMode::Dig},
      {'7', StationMode::Cwr}};
  for (const auto& [digit, mode] : table) {
    Station station;
    CatPortRadio radio(station);
    const std::string set = std::string("MD") + digit + ";";
    EXPECT_TRUE(radio.take(bytesOf(set), {}).empty()) << set;
    EXPECT_EQ(station.get().activeMode(), mode) << set;
    EXPECT_EQ(radio.take(bytesOf("MD;"), {}), std::vector<std::string>{set});
    EXPECT_EQ(catModeDigit(mode), digit);
    EXPECT_EQ(catMode(digit), mode);
  }
  EXPECT_EQ(catMode('0'), std::nullopt);
  EXPECT_EQ(catMode('8'), std::nullopt);
}

TEST(CatPortProtocol, AutoInformationSendsChangesMadeElsewhere) {
  Station station;
  CatPortRadio radio(station);
  // Off: a change is only noted, and not sent once it is switched on.
  station.setVfoFrequency(false, 7'000'000);
  EXPECT_TRUE(radio.autoInformation({}).empty());
  EXPECT_TRUE(radio.take(bytesOf("AI1;"), {}).empty());
  EXPECT_TRUE(radio.autoInformation({}).empty());

  station.setVfoFrequency(false, 7'074'000);
  EXPECT_EQ(radio.autoInformation({}), std::vector<std::string>{"FA00007074000;"});
  EXPECT_TRUE(radio.autoInformation({}).empty());  // sent once
  station.setVfoFrequency(false, 10'136'000);
  station.setVfoFrequency(true, 18'100'000);
  EXPECT_EQ(radio.autoInformation({}),
            (std::vector<std::string>{"FA00010136000;", "FB00018100000;"}));

  // Set over the port itself: the client knows, nothing goes back.
  EXPECT_TRUE(radio.take(bytesOf("FA00014074000;"), {}).empty());
  EXPECT_TRUE(radio.autoInformation({}).empty());

  // Silent: nothing unasked either, and the change is not kept for later.
  station.setVfoFrequency(false, 21'074'000);
  EXPECT_TRUE(radio.autoInformation({.silent = true}).empty());
  EXPECT_TRUE(radio.autoInformation({}).empty());

  EXPECT_TRUE(radio.take(bytesOf("AI0;"), {}).empty());
  station.setVfoFrequency(false, 28'074'000);
  EXPECT_TRUE(radio.autoInformation({}).empty());
  EXPECT_EQ(radio.counters().autoInformation, 3u);

  // Unplugged and plugged in: auto-information is off again, a half command is gone.
  EXPECT_TRUE(radio.take(bytesOf("AI1;F"), {}).empty());
  radio.unplugged();
  EXPECT_FALSE(radio.autoInformationOn());
  EXPECT_EQ(radio.take(bytesOf("A;"), {}), std::vector<std::string>{"?;"});
}

TEST(CatPortProtocol, FaultsSilenceOrHideTheIdentity) {
  {
    Station station;
    CatPortRadio radio(station);
    const CatPortFaults silent{.silent = true};
    EXPECT_TRUE(radio.take(bytesOf("DT;FA;XY;FA00007074000;TX;"), silent).empty());
    // Obeyed all the same.
    EXPECT_EQ(station.get().freqA, 7'074'000u);
    EXPECT_TRUE(station.get().ptt);
    EXPECT_EQ(radio.counters().commands, 5u);
  }
  {
    Station station;
    CatPortRadio radio(station);
    const CatPortFaults noId{.noId = true};
    EXPECT_EQ(radio.take(bytesOf("DT;ID;FA;"), noId),
              (std::vector<std::string>{"?;", "ID077;", "FA00014070000;"}));
  }
}

TEST(CatPortProtocol, KeepsTheLastThousandCommandsAndTheFrequenciesSent) {
  Station station;
  CatPortRadio radio(station);
  for (int i = 0; i < 1005; ++i) radio.take(bytesOf("ID;"), {});
  radio.take(bytesOf("FA;"), {});
  EXPECT_EQ(radio.counters().commands, 1006u);
  ASSERT_EQ(radio.counters().received.size(), 1000u);
  EXPECT_EQ(radio.counters().received.back(), "FA");
  radio.take(bytesOf("FA00007074000;FA;IF;"), {});
  const std::vector<FrequencySent>& sent = radio.counters().frequencies;
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].hz, 14'070'000u);
  EXPECT_EQ(sent[1].hz, 7'074'000u);
}

TEST(CatPortProtocol, ReplyPiecesMakeUpTheReply) {
  const std::vector<std::pair<std::string, size_t>> cases = {
      {";", 1},
      {"?;", 2},
      {"AI0;", 2},
      {"MD2;", 2},
      {"ID07;", 2},
      {"DT001;", 3},
      {"ID077;", 3},
      {"FA00014070000;", 3},
      {"IF0001407000000000+0000000000020000000;", 3}};
  for (const auto& [reply, count] : cases) {
    const std::vector<std::string> pieces = catReplyPieces(reply);
    EXPECT_EQ(pieces.size(), count) << reply;
    std::string joined;
    for (const std::string& piece : pieces) {
      EXPECT_FALSE(piece.empty()) << reply;
      joined += piece;
    }
    EXPECT_EQ(joined, reply);
  }
}

// ---- the simulator on its pseudo-terminal ----

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "catport-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// The device as the controller opens it: raw, 115200 bit/s.
UniqueFd openDevice(const fs::path& link) {
  UniqueFd fd(::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return fd;
  termios tio{};
  if (::tcgetattr(fd.get(), &tio) == 0) {
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B115200);
    ::tcsetattr(fd.get(), TCSAFLUSH, &tio);
  }
  return fd;
}

void send(const UniqueFd& fd, std::string_view text) {
  ASSERT_EQ(::write(fd.get(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

// Reads until the text read ends with ';' and holds `replies` of them, or the timeout.
std::string readReplies(const UniqueFd& fd, size_t replies,
                        std::chrono::milliseconds timeout = 10s) {
  std::string got;
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (static_cast<size_t>(std::count(got.begin(), got.end(), ';')) < replies &&
         std::chrono::steady_clock::now() < end) {
    pollfd p{fd.get(), POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    char buffer[256];
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n > 0) got.append(buffer, static_cast<size_t>(n));
    if (n == 0 || (n < 0 && errno != EAGAIN)) break;
  }
  return got;
}

TEST(CatPortSimulator, AnswersOnItsLinkInPiecesAndTheSilentDeviceNever) {
  TempDir root;
  ASSERT_FALSE(root.path().empty());
  CatPortSimulator sim({.root = root.path(),
                        .port = "/dev/ttyUSB0",
                        .silentPort = "/dev/ttyUSB1",
                        .watchFaultsFile = false,
                        .station = {}});
  std::string error;
  ASSERT_TRUE(sim.start(error)) << error;
  EXPECT_TRUE(fs::is_symlink(root.path() / "dev/ttyUSB0"));
  EXPECT_EQ(fs::read_symlink(root.path() / "dev/ttyUSB0").string(), sim.slavePath());
  ASSERT_TRUE(fs::is_symlink(root.path() / "dev/ttyUSB1"));

  const UniqueFd silent = openDevice(root.path() / "dev/ttyUSB1");
  ASSERT_TRUE(silent);
  send(silent, "DT;");
  ASSERT_TRUE(waitUntil([&] { return sim.counters().silentPortBytes == 3; }));

  const UniqueFd cat = openDevice(root.path() / "dev/ttyUSB0");
  ASSERT_TRUE(cat);
  send(cat, "DT;");
  EXPECT_EQ(readReplies(cat, 1), "DT001;");
  EXPECT_TRUE(waitUntil([&] { return sim.counters().writes == 1u; }));

  // By now the silent device has had its command long ago: nothing came back.
  char byte = 0;
  EXPECT_EQ(::read(silent.get(), &byte, 1), -1);
  EXPECT_EQ(errno, EAGAIN);

  sim.setFaults({.pieces = true});
  send(cat, "FA;MD;");
  EXPECT_EQ(readReplies(cat, 2), "FA00014070000;MD2;");
  // Three writes for "FA00014070000;", two for "MD2;".
  EXPECT_TRUE(waitUntil([&] { return sim.counters().writes == 1u + 3u + 2u; }))
      << sim.counters().writes;
  const CatPortCounters counters = sim.counters();
  EXPECT_EQ(counters.replies, 3u);
  EXPECT_EQ(counters.received, (std::vector<std::string>{"DT", "FA", "MD"}));

  // Auto-information over the line; the station is shared with whoever holds it.
  send(cat, "AI1;");
  ASSERT_TRUE(waitUntil([&] { return sim.counters().commands == 4; }));
  sim.sharedStation()->setVfoFrequency(false, 7'074'000);
  EXPECT_EQ(readReplies(cat, 1), "FA00007074000;");
  EXPECT_EQ(sim.counters().autoInformation, 1u);

  sim.stop();
  EXPECT_FALSE(fs::exists(root.path() / "dev/ttyUSB0"));
  EXPECT_FALSE(fs::exists(root.path() / "dev/ttyUSB1"));
}

TEST(CatPortSimulator, UnpluggedFromTheFaultsFileAndPluggedInAgain) {
  TempDir root;
  ASSERT_FALSE(root.path().empty());
  fs::create_directories(root.path() / "bench");
  const fs::path faults = root.path() / "bench/faults";
  // Replaced whole: the simulator must never read a half-written file (an empty one
  // plugs the port in without the fault).
  const auto setFaults = [&](const std::string& text) {
    std::ofstream(faults.string() + ".new") << text;
    fs::rename(faults.string() + ".new", faults);
  };
  setFaults("cat-gone\n");
  CatPortSimulator sim({.root = root.path(),
                        .port = "/dev/ttyUSB0",
                        .silentPort = "",
                        .watchFaultsFile = true,
                        .station = {}});
  std::string error;
  ASSERT_TRUE(sim.start(error)) << error;
  // Unplugged from the start: no link, never a moment with one.
  EXPECT_FALSE(fs::exists(root.path() / "dev/ttyUSB0"));
  EXPECT_TRUE(sim.slavePath().empty());
  EXPECT_TRUE(sim.silentLinkPath().empty());

  setFaults("cat-no-id\n");
  ASSERT_TRUE(waitUntil([&] { return fs::is_symlink(root.path() / "dev/ttyUSB0"); }));
  UniqueFd cat = openDevice(root.path() / "dev/ttyUSB0");
  ASSERT_TRUE(cat);
  ASSERT_TRUE(sim.faults().noId);
  send(cat, "DT;ID;");
  EXPECT_EQ(readReplies(cat, 2), "?;ID077;");

  setFaults("# unplugged\ncat-gone\n");
  ASSERT_TRUE(waitUntil([&] { return !fs::exists(root.path() / "dev/ttyUSB0"); }));
  EXPECT_EQ(sim.counters().gone, 1u);
  // The reader of the old device sees its line hang up.
  pollfd p{cat.get(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 1000), 1);
  EXPECT_NE(p.revents & (POLLHUP | POLLERR), 0);

  setFaults("cat-silent\n");
  ASSERT_TRUE(waitUntil([&] { return fs::is_symlink(root.path() / "dev/ttyUSB0"); }));
  cat = openDevice(root.path() / "dev/ttyUSB0");
  ASSERT_TRUE(cat);
  send(cat, "FA00007074000;");
  ASSERT_TRUE(waitUntil([&] { return sim.station().get().freqA == 7'074'000; }));
  EXPECT_EQ(sim.counters().replies, 2u);  // only the "?;" and "ID077;" before

  setFaults("");
  ASSERT_TRUE(waitUntil([&] { return sim.faults() == CatPortFaults{}; }));
  send(cat, "FA;");
  EXPECT_EQ(readReplies(cat, 1), "FA00007074000;");
}

// ---- the bench's view of the remote client ----

TEST(RemoteClientWatch, FollowsTheServersLogLines) {
  struct Step {
    std::string line;
    std::string after;
  };
  const std::vector<Step> steps = {
      {"corvid: Listening on port 6666\n", "none"},
      // A password line without a client changes nothing.
      {"corvid: required >bench< equals to >bench<\n", "none"},
      {"corvid: Connected by 127.0.0.1\n", "connected (127.0.0.1)"},
      {"corvid: required >bench< differ from >bad<\n", "connected (127.0.0.1)"},
      {"corvid: TCP closed\n", "none"},
      {"corvid: Connected by 192.168.1.20\r\n", "connected (192.168.1.20)"},
      {"corvid: required >bench< equals to >bench<\n", "logged in (192.168.1.20)"},
      {"corvid: CAT read error 5\n", "logged in (192.168.1.20)"},
      {"corvid: TCP exiting\n", "logged in (192.168.1.20)"},
      {"corvid: TCP closed\n", "none"},
      // The address is shown only when it is one.
      {"corvid: Connected by <b>x</b>\n", "connected (?)"},
      {"corvid: Connected by " + std::string(60, '1') + "\n", "connected (?)"},
      {"corvid: Connected by ::1\n", "connected (::1)"},
      {"TCP closed\n", "none"},
  };
  RemoteClientWatch watch;
  EXPECT_EQ(watch.text(), "none");
  for (const Step& step : steps) {
    watch.feed(step.line);
    EXPECT_EQ(watch.text(), step.after) << step.line;
  }
  EXPECT_EQ(watch.changes(), 9u);
}

// ---- the settings a remote scenario writes ----

TEST(RemoteScenario, SetupValuesReplaceTheirLineOrAreAdded) {
  struct Case {
    std::string text;
    std::string key;
    std::string value;
    std::string result;
  };
  const std::vector<Case> cases = {
      {"", "LocalRemote", "1", "LocalRemote: 1\n"},
      {"EnableCAT: 0\nLocalRemote: 0\n", "LocalRemote", "1", "EnableCAT: 0\nLocalRemote: 1\n"},
      {"Passphrase: \nEnableKeyb: 1\n", "Passphrase", "bench",
       "Passphrase: bench\nEnableKeyb: 1\n"},
      {"Passphrase:\n", "Passphrase", "bench", "Passphrase: bench\n"},
      // A key that begins with another key's name is another key.
      {"TcpPortX: 1\n", "TcpPort", "5000", "TcpPortX: 1\nTcpPort: 5000\n"},
      // The last line without a line feed, and a second line of the key.
      {"TcpPort: 1\nA: 2\nTcpPort: 3", "TcpPort", "5000", "TcpPort: 5000\nA: 2\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(withSetupValue(c.text, c.key, c.value), c.result) << c.text;
  }
  const uint16_t port = freeTcpPort();
  EXPECT_GT(port, 0);
  const Scenario* remote = findScenario("remote");
  ASSERT_NE(remote, nullptr);
  EXPECT_EQ(remote->operation, Operation::Remote);
  EXPECT_EQ(findScenario("default")->operation, Operation::Local);
}

}  // namespace
}  // namespace corvid::bench

// The CAT link of remote operation on the real controller: the settings of the bench's
// remote scenario written into a fresh root (remote operation, the server on a free port
// with the bench's passphrase, EXT IO banks), the USB CAT port simulator on
// DIR/dev/ttyUSB0 with the silent second device on DIR/dev/ttyUSB1 and its replies in
// pieces. The controller's search must try ttyUSB1 first, give it up and take ttyUSB0; a
// remote client (the bench's corvid-remote, in this process) logs in and its CAT text
// reaches the transceiver and the replies come back whole; its leaving sends "RX;"; the
// bench's reading of the server's log follows the client; unplugging the port ends the
// link with error 20. One controller run (its remote start-up takes about 25 s of it).
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "client/remote_session.h"
#include "sim/cat_port_sim.h"
#include "sim/extio_sim.h"
#include "sim/remote_client_watch.h"
#include "sim/scenarios.h"
#include "sim/service_keyboard.h"
#include "tests/bench/bench_harness.h"

namespace corvid::bench::test {
namespace {

// The lines of text, each with its line feed.
std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
  return lines;
}

// The client's CAT replies ("cat: REPLY" lines).
std::vector<std::string> catReplies(const std::string& output) {
  std::vector<std::string> replies;
  for (const std::string& line : linesOf(output)) {
    if (line.starts_with("cat: ")) replies.push_back(line.substr(5, line.size() - 6));
  }
  return replies;
}

TEST(CatLinkBench, SearchSkipsTheSilentPortAndTheLinkRelaysTheClientsCat) {
  MicroRun bench;
  CorvidRun& run = bench.corvid();
  ASSERT_TRUE(run.prepared());
  run.writeFile("/opt/set/setup.txt", goldenSetup());
  const uint16_t port = freeTcpPort();
  ASSERT_NE(port, 0);
  ASSERT_EQ(setRemoteOperation(run.root(), port, kBenchPassphrase), "");

  auto station = std::make_shared<Station>();
  ExtIoSimulator extIo({.root = run.root().dir(),
                        .port = "/dev/VORNSER",
                        .watchFaultsFile = false,
                        .cycleMs = 100,
                        .station = station});
  CatPortSimulator cat({.root = run.root().dir(),
                        .port = "/dev/ttyUSB0",
                        .silentPort = "/dev/ttyUSB1",
                        .watchFaultsFile = false,
                        .station = station});
  cat.setFaults({.pieces = true});
  std::string error;
  ASSERT_TRUE(extIo.start(error)) << error;
  ASSERT_TRUE(cat.start(error)) << error;
  ASSERT_TRUE(bench.start());

  // The last in sorted order first: ttyUSB1 gets "DT;", stays silent for its second and
  // is closed; then ttyUSB0 answers "DT001" in pieces and is kept.
  const std::optional<size_t> asked1 = run.waitForLogFrom(0, "Send \"DT;\" /dev/ttyUSB1");
  ASSERT_TRUE(asked1) << run.log();
  const std::optional<size_t> gaveUp =
      run.waitForLogFrom(*asked1, "Cannot connect PEX using /dev/ttyUSB1");
  ASSERT_TRUE(gaveUp) << run.log();
  const std::optional<size_t> asked0 = run.waitForLogFrom(*gaveUp, "Send \"DT;\" /dev/ttyUSB0");
  ASSERT_TRUE(asked0) << run.log();
  const std::optional<size_t> found =
      run.waitForLogFrom(*asked0, "CAT serial found:  /dev/ttyUSB0");
  ASSERT_TRUE(found) << run.log();
  ASSERT_TRUE(run.waitForLogFrom(*found, "OK works->catFD=")) << run.log();
  EXPECT_NE(run.log().find("Received \"DT001\" /dev/ttyUSB0"), std::string::npos) << run.log();
  EXPECT_EQ(cat.counters().silentPortBytes, 3u);  // "DT;" and nothing more
  ASSERT_TRUE(run.waitForLog("Listening on port " + std::to_string(port))) << run.log();

  // A client logs in and talks to the transceiver through the amplifier.
  int input[2];
  ASSERT_EQ(::pipe(input), 0);
  const std::string lines = "FA;\nXX;\nID;\nFA00007074000;\nFA;\nIF;\nTX;\n";  // "XX;" stays
  ASSERT_EQ(::write(input[1], lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
  ::close(input[1]);
  client::ClientOptions options;
  options.host = "127.0.0.1";
  options.port = port;
  options.password = std::string(kBenchPassphrase);
  options.cat = true;
  options.forSeconds = 5;
  std::ostringstream out;
  std::ostringstream err;
  const size_t beforeClient = run.logSize();
  const int status = client::runClient(options, client::ClientStreams{out, err, input[0], nullptr});
  ::close(input[0]);
  EXPECT_EQ(status, 0) << err.str();
  // Every reply whole, though each left the transceiver in two or three writes.
  EXPECT_EQ(catReplies(out.str()),
            (std::vector<std::string>{"FA00014070000;", "ID077;", "FA00007074000;",
                                      "IF0000707400000000+0000000000020000000;"}))
      << out.str();
  EXPECT_EQ(station->get().freqA, 7'074'000u);

  // Its leaving unkeys the transceiver.
  ASSERT_TRUE(run.waitForLogFrom(beforeClient, "TCP closed")) << run.log();
  ASSERT_TRUE(waitUntil([&] {
    return !cat.counters().received.empty() && cat.counters().received.back() == "RX";
  })) << run.log();
  EXPECT_EQ(cat.counters().received,
            (std::vector<std::string>{"DT", "FA", "ID", "FA00007074000", "FA", "IF", "TX", "RX"}));
  EXPECT_FALSE(station->get().transmitting());

  // The bench's web view follows the client through the server's log lines.
  RemoteClientWatch watch;
  std::vector<std::string> seen = {watch.text()};
  for (const std::string& line : linesOf(run.logFrom(beforeClient))) {
    watch.feed(line);
    if (seen.back() != watch.text()) seen.push_back(watch.text());
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"none", "connected (127.0.0.1)",
                                            "logged in (127.0.0.1)", "none"}))
      << run.logFrom(beforeClient);

  // The service keyboard's F1 to F4 switch DTR and RTS of the open CAT port (a
  // pseudo-terminal has no modem lines: the controller reaches the port and reports what
  // the driver says).
  {
    ServiceKeyboard keyboard(run.root().serviceKeyboard());
    ASSERT_TRUE(keyboard.ok()) << keyboard.error();
    const size_t beforeKeys = run.logSize();
    for (int key : {KEY_F1, KEY_F2, KEY_F3, KEY_F4}) {
      ASSERT_TRUE(keyboard.press(static_cast<uint16_t>(key)));
    }
    for (const char* name : {"KEY_F1", "KEY_F2", "KEY_F3", "KEY_F4"}) {
      EXPECT_TRUE(run.waitForLogFrom(beforeKeys, std::string("Activated ") + name, 5s)) << name;
    }
    EXPECT_EQ(run.logFrom(beforeKeys).find("no CAT port open"), std::string::npos)
        << run.logFrom(beforeKeys);
  }

  // Unplugged: the read fails, the link ends and raises error 20.
  const size_t beforeGone = run.logSize();
  cat.setFaults({.pieces = true, .gone = true});
  ASSERT_TRUE(run.waitForLogFrom(beforeGone, "CAT read error")) << run.logFrom(beforeGone);
  EXPECT_TRUE(run.waitForLogFrom(beforeGone, "CAT: EXIT!!")) << run.logFrom(beforeGone);
  EXPECT_TRUE(run.waitForLogFrom(beforeGone, "err:20")) << run.logFrom(beforeGone);
  EXPECT_FALSE(std::filesystem::exists(cat.linkPath()));

  // Plugged in again, an error reset from the client restarts the remote threads: the
  // link searches anew and finds the port.
  cat.setFaults({.pieces = true});
  ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(cat.linkPath()); }, 5s));
  const size_t beforeReset = run.logSize();
  client::ClientOptions reset;
  reset.host = "127.0.0.1";
  reset.port = port;
  reset.password = std::string(kBenchPassphrase);
  reset.sendWords = {"VORNRE"};
  reset.forSeconds = 2;
  std::ostringstream resetOut;
  std::ostringstream resetErr;
  EXPECT_EQ(client::runClient(reset, client::ClientStreams{resetOut, resetErr, -1, nullptr}), 0)
      << resetErr.str();
  EXPECT_TRUE(run.waitForLogFrom(beforeReset, ">>> RESTART REMOTE!")) << run.logFrom(beforeReset);
  EXPECT_TRUE(run.waitForLogFrom(beforeReset, "CAT serial found:  /dev/ttyUSB0", 30s))
      << run.logFrom(beforeReset);
  EXPECT_TRUE(run.alive());
}

}  // namespace
}  // namespace corvid::bench::test

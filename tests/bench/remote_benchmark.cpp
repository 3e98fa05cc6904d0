// corvid-remote-benchmark: the remote server of the real controller under load. The
// controller runs on a bench root with the amplifier micro and the EXT IO transceiver
// (its FFT every CYCLE_MS), and:
//   1. corvid-remote stays logged in for SECONDS with the spectrum switched to the EXT IO
//      FFT ("VORNFT00"): status frames a second (the display loop's goal is 25), every
//      "SP" piece and whole spectrum it received against the spectra the transceiver sent;
//   2. a client of its own sends "VORNAN 1" and "VORNAN 2" in turn: the time from each
//      word to the "SA" command on the amplifier line, beside the interval of the
//      controller's status polls on that line.
// Not a test: run it by hand.
//
//   corvid-remote-benchmark [SECONDS] [CYCLE_MS]    (defaults 60 and 20)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "sim/child_process.h"
#include "sim/extio_sim.h"
#include "sim/scenarios.h"
#include "sim/station_feed.h"
#include "tests/bench/bench_harness.h"

namespace corvid::bench::test {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
constexpr const char* kPassword = "bench-pass";

double ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

long summaryValue(const std::string& text, const std::string& key) {
  const size_t line = text.rfind("frames ");
  if (line == std::string::npos) return -1;
  const size_t at = text.find(" " + key + "=", line);
  return at == std::string::npos ? -1
                                 : std::strtol(text.c_str() + at + key.size() + 2, nullptr, 10);
}

std::string readFile(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool loginRaw(platform::TcpSocket& socket, uint16_t port) {
  auto s = platform::TcpSocket::connect("127.0.0.1", port, 2000);
  if (!s.ok()) return false;
  socket = std::move(s.value());
  const std::string request =
      "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nSec-WebSocket-Version: 13\r\n"
      "Sec-WebSocket-Protocol: chat\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
      "Connection: keep-alive, Upgrade\r\nUpgrade: websocket\r\n\r\n";
  if (socket.write(Bytes(request.begin(), request.end())) < 0) return false;
  std::string response;
  while (response.find("\r\n\r\n") == std::string::npos && response.size() < 2000) {
    uint8_t b = 0;
    if (socket.read({&b, 1}, 5000) != 1) return false;
    response += static_cast<char>(b);
  }
  const std::string password = kPassword;
  Bytes frame = {0x81, static_cast<uint8_t>(password.size()), 0, 0, 0, 0};
  frame.insert(frame.end(), password.begin(), password.end());
  return socket.write(frame) == static_cast<long>(frame.size());
}

int run(int seconds, int cycleMs) {
  MicroRun bench;
  CorvidRun& corvid = bench.corvid();
  if (!corvid.prepared()) return 1;
  const uint16_t port = freeTcpPort();
  corvid.writeFile("/opt/set/setup.txt",
                   withValues(goldenSetup(), {{"WebSocket", "1"},
                                              {"TcpPort", std::to_string(port)},
                                              {"Passphrase", kPassword}}));
  writeBandTables(corvid, factoryBandTable("!Pex"));
  ExtIoSimulator sim({.root = corvid.root().dir(),
                      .port = "/dev/VORNSER",
                      .watchFaultsFile = false,
                      .cycleMs = cycleMs,
                      .station = {}});
  std::string error;
  if (!sim.start(error)) {
    std::fprintf(stderr, "EXT IO simulator: %s\n", error.c_str());
    return 1;
  }
  StationFeed feed(sim.sharedStation(), bench.micro());
  feed.start();
  if (!bench.start() || !corvid.waitForLog("Timer thread started", std::chrono::seconds(60)) ||
      !corvid.waitForLog("Listening on port", std::chrono::seconds(10))) {
    std::fprintf(stderr, "the controller did not start\n%s", corvid.log().c_str());
    return 1;
  }

  // 1. Status and spectrum over the window.
  const std::filesystem::path out = corvid.root().dir() / "remote.txt";
  ChildOptions options;
  options.argv = emulatorWords();
  options.argv.insert(
      options.argv.end(),
      {CORVID_REMOTE_BINARY, "127.0.0.1:" + std::to_string(port), "--password", kPassword, "--for",
       std::to_string(seconds), "--stats", "--send", "VORNFT00"});
  options.stdoutFile = out;
  const size_t spectraBefore = sim.counters().spectra;
  std::optional<ChildProcess> client = ChildProcess::start(options, error);
  if (!client) {
    std::fprintf(stderr, "corvid-remote: %s\n", error.c_str());
    return 1;
  }
  const ExitStatus status = client->wait();
  const size_t sent = sim.counters().spectra - spectraBefore;
  const std::string text = readFile(out);
  const long st = summaryValue(text, "ST");
  const long sp = summaryValue(text, "SP");
  const long spectra = summaryValue(text, "spectra");
  std::printf("corvid-remote for %d s (exit %d), FFT every %d ms:\n", seconds, status.shellStatus(),
              cycleMs);
  std::printf("  status frames      %ld, %.2f a second (goal 25)\n", st,
              static_cast<double>(st) / seconds);
  std::printf("  spectra sent       %zu by the transceiver while the client ran\n", sent);
  std::printf("  spectra received   %ld whole, %ld SP pieces (%ld missing of 2 a spectrum)\n",
              spectra, sp, 2 * spectra - sp > 0 ? 2 * spectra - sp : 0);
  std::printf("  not received       %ld (the login and the word before the first take some)\n",
              static_cast<long>(sent) - spectra);
  std::printf("  client summary     %s", text.substr(text.rfind("frames ")).c_str());

  // 2. Command word to the amplifier line.
  platform::TcpSocket socket;
  if (!loginRaw(socket, port)) {
    std::fprintf(stderr, "raw client: no login\n");
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::vector<double> latency;
  int missed = 0;
  for (int i = 0; i < 20; ++i) {
    const int antenna = 1 + i % 2;
    const std::string word = "VORNAN " + std::to_string(antenna);
    Bytes frame = {0x82, static_cast<uint8_t>(word.size() + 2), 'S', 'T'};
    frame.insert(frame.end(), word.begin(), word.end());
    const size_t from = bench.micro().wire().size();
    const auto start = Clock::now();
    socket.write(frame);
    const std::string sa = "SA" + std::to_string(antenna) + ";";
    if (waitForFrame(bench.micro(), sa, from, std::chrono::seconds(2))) {
      for (const WireEntry& e : bench.micro().wire().since(from)) {
        if (e.fromController() && e.text() == sa) {
          latency.push_back(ms(e.at - start));
          break;
        }
      }
    } else {
      ++missed;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  // The status poll's interval on the line over the same time.
  std::vector<double> polls;
  std::optional<Clock::time_point> last;
  for (const WireEntry& e : bench.micro().wire().since(0)) {
    if (!e.fromController() || !e.text().starts_with("ST")) continue;
    if (last) polls.push_back(ms(e.at - *last));
    last = e.at;
  }
  auto median = [](std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  std::sort(latency.begin(), latency.end());
  std::printf("VORNAN to SA on the amplifier line, %zu words (%d without SA):\n", latency.size(),
              missed);
  if (!latency.empty()) {
    std::printf("  min %.1f ms, median %.1f ms, max %.1f ms\n", latency.front(), median(latency),
                latency.back());
  }
  std::printf("  status poll interval on the line: median %.1f ms over %zu polls\n", median(polls),
              polls.size());
  return 0;
}

}  // namespace
}  // namespace corvid::bench::test

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  const int cycleMs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  return corvid::bench::test::run(seconds, cycleMs);
}

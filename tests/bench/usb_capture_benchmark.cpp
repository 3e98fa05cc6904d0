// corvid-usb-benchmark: the processor share of the USB IQ capture in the real controller,
// streaming from the bench's emulated transceiver (192 kS/s, a URB of 4096 samples every
// 21.3 ms) to a logged-in corvid-remote that asked for the USB spectrum ("VORNFD 4",
// then "VORNFT01" or "VORNFT02"). Over SECONDS, from /proc: the PEXRead thread's share of
// one core and the whole controller's, the transfers the device completed, the spectra the
// client received. The emulation itself costs the capture thread: every event-loop pass
// asks the device for a finished URB over umockdev's socket, where the unit's kernel
// answers from memory. Not a test: run it by hand, on an idle machine.
//
//   corvid-usb-benchmark [SECONDS]    (default 30)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>

#include "tests/bench/proc_ticks.h"
#include "tests/bench/remote_client_run.h"
#include "tests/bench/usb_bench.h"

namespace corvid::bench::test {
namespace {

using Clock = std::chrono::steady_clock;

unsigned long long ticksOf(pid_t pid, const std::string& thread) {
  unsigned long long sum = 0;
  for (const auto& [name, ticks] : threadTicks(pid)) {
    if (name.rfind(thread + " (", 0) == 0) sum += ticks;
  }
  return sum;
}

long statValue(const std::string& text, const std::string& key) {
  const size_t at = text.rfind(" " + key + "=");
  if (at == std::string::npos) return -1;
  return std::strtol(text.c_str() + at + key.size() + 2, nullptr, 10);
}

int measure(UsbBench& b, const char* word, int seconds) {
  CorvidRun& run = b.bench.corvid();
  const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
  const pid_t pid = run.pid();
  // The client logs in and asks; the window opens once the spectrum flows.
  Finished f;
  std::thread client([&] {
    f = runRemote(b.port,
                  {"--password", kUsbPassword, "--send", "VORNFD 4", "--send", word, "--for",
                   std::to_string(seconds + 4), "--stats"},
                  run.root().dir(), std::chrono::seconds(seconds + 20));
  });
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const auto p0 = cpuTicks(std::filesystem::path("/proc") / std::to_string(pid) / "stat");
  const unsigned long long t0 = ticksOf(pid, "PEXRead");
  const auto all0 = threadTicks(pid);
  const int u0 = b.usb->figures().bulkCompleted;
  const auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const auto p1 = cpuTicks(std::filesystem::path("/proc") / std::to_string(pid) / "stat");
  const unsigned long long t1 = ticksOf(pid, "PEXRead");
  const auto all1 = threadTicks(pid);
  const int u1 = b.usb->figures().bulkCompleted;
  client.join();
  if (!p0 || !p1) {
    std::fprintf(stderr, "cannot read /proc/%d/stat\n", static_cast<int>(pid));
    return 1;
  }
  std::printf("%s, Divide 4, %.1f s:\n", word, wall);
  std::printf("  transfers completed     %.1f /s\n", (u1 - u0) / wall);
  std::printf("  PEXRead thread          %.1f %% of a core\n",
              100.0 * static_cast<double>(t1 - t0) / tick / wall);
  std::printf("  whole controller        %.1f %% of a core\n",
              100.0 * static_cast<double>(*p1 - *p0) / tick / wall);
  std::printf("  threads above 2 %%:");
  for (const auto& [name, ticks] : all1) {
    const auto before = all0.find(name);
    const double share = 100.0 * static_cast<double>(ticks - (before == all0.end() ? 0 : before->second)) / tick / wall;
    if (share > 2) std::printf(" %s %.1f %%", name.c_str(), share);
  }
  std::printf("\n");
  std::printf("  spectra to the client   %ld in %d s (SP frames %ld)\n",
              statValue(f.out, "spectra"), seconds + 4, statValue(f.out, "SP"));
  return 0;
}

int benchmark(int seconds) {
  UsbSimOptions options;
  UsbBench b(options);
  if (!b.usb) {
    std::fprintf(stderr, "no emulated USB devices: %s\n", b.error.c_str());
    return 1;
  }
  if (!b.start()) {
    std::fprintf(stderr, "cannot start the bench: %s\n", b.error.c_str());
    return 1;
  }
  CorvidRun& run = b.bench.corvid();
  if (!run.waitForLog("SYN transfer starting", 60s)) {
    std::fprintf(stderr, "the capture did not start:\n%s\n", run.log().c_str());
    return 1;
  }
  {
    // The capture without a client: transfers scaled, none transformed.
    const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    const unsigned long long t0 = ticksOf(run.pid(), "PEXRead");
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const unsigned long long t1 = ticksOf(run.pid(), "PEXRead");
    std::printf("no client, %d s: PEXRead thread %.1f %% of a core\n", seconds,
                100.0 * static_cast<double>(t1 - t0) / tick / seconds);
  }
  for (const char* word : {"VORNFT01", "VORNFT02"}) {
    if (const int e = measure(b, word, seconds); e != 0) return e;
  }
  return 0;
}

}  // namespace
}  // namespace corvid::bench::test

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
  if (seconds <= 0) {
    std::fprintf(stderr, "usage: corvid-usb-benchmark [SECONDS]\n");
    return 2;
  }
  return corvid::bench::test::benchmark(seconds);
}

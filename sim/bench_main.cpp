// corvid-bench: prepares a bench root, starts the amplifier micro simulator on the
// controller's amplifier line and the transceiver simulators (FT-817, EXT IO and the USB
// CAT port) on one station, starts "corvid --root DIR" and shows its log.
//
//   corvid-bench [--dir DIR] [--corvid PATH] [--standin PATH] [--fresh]
//                [--scenario NAME] [--fault WORD]... [--interface 817|pex|gen]
//                [--web PORT] [--silent-usb-port] [--list-scenarios]
//   corvid-bench snapshot FILE.png [--dir DIR]
//   corvid-bench key NAME [--dir DIR]
//   corvid-bench press KEY [--long | --hold MS] [--dir DIR]
//
// Both transceivers run because the controller opens only the link its bank's band
// table names, and a bank switch at run time may name the other one. The station feeds
// the micro: its frequency, and its drive while it transmits. The USB CAT port
// (DIR/dev/ttyUSB0, cat_port_sim.h) runs in every run too: remote operation can be
// switched on from the menu at any time, and the port costs nothing while unused.
// --silent-usb-port adds DIR/dev/ttyUSB1, a USB serial device that never answers, which
// the controller's CAT search tries first. A scenario in remote operation ("remote")
// writes its settings into the root, puts the server on a free port and prints the
// client's command line ("remote client: corvid-remote 127.0.0.1:PORT --password P").
//
// The controller's standard error (its syslog copy and trace lines) is streamed line by
// line to standard output; the traffic on the amplifier line goes to
// DIR/var/log/amp-wire.log. CORVID_EMULATOR (words separated by blanks) is put before
// the controller's path, as the bench tests of a build for another processor do.
//
// The bench holds the root's service keyboard FIFO open while it runs (the controller
// never reads its end), and "key" types one key on it: SysRq, F1 to F4, F10 to F12.
// "press" presses panel key 1 to 6 in the root's GPIO block, as the web view's buttons do:
// short, long (the long-press time of the root's setup.txt and a margin) or held for MS
// milliseconds, and returns once the key is released again. The controller's log lines
// "panel NAME" (its panel state) are followed, and so are the server's lines of a remote
// client connecting, logging in and leaving; the web view shows the last of each.
// "snapshot" writes the panel as the framebuffer file of DIR holds it now. A benchmark scenario
// stops the controller after its measurement and prints its figures. SIGINT, SIGTERM or SIGHUP stop
// the controller (SIGTERM, then SIGKILL after 3 s) and the bench exits with 0. When the controller
// ends by itself the bench exits with its status (128 + N when signal N ended it).
// Usage and preparation errors exit with 2.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "sim/amp_simulator.h"
#include "sim/bench_root.h"
#include "sim/cat_port_sim.h"
#include "sim/child_process.h"
#include "sim/extio_sim.h"
#include "sim/framebuffer_png.h"
#include "sim/ft817_sim.h"
#include "sim/gpio_keys.h"
#include "sim/panel_state.h"
#include "sim/poll_figures.h"
#include "sim/remote_client_watch.h"
#include "sim/root_settings.h"
#include "sim/scenarios.h"
#include "sim/service_keyboard.h"
#include "sim/station_feed.h"
#include "sim/usb_device_sim.h"
#include "sim/web_view.h"

namespace fs = std::filesystem;
using namespace corvid::bench;

namespace {

int gSignalPipe[2] = {-1, -1};

void onStopSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
  errno = saved;
}

struct Options {
  fs::path dir = "bench-root";
  fs::path corvid;
  fs::path standin;
  bool fresh = false;
  std::string scenario = "default";
  std::vector<std::string> faults;
  std::optional<BankInterface> bankInterface;
  std::optional<int> webPort;
  bool silentUsbPort = false;
  bool noUsb = false;
  bool listScenarios = false;
};

void usage(std::FILE* out) {
  std::fprintf(
      out,
      "usage: corvid-bench [--dir DIR] [--corvid PATH] [--standin PATH] [--fresh]\n"
      "                    [--scenario NAME] [--fault WORD]... [--interface 817|pex|gen]\n"
      "                    [--web PORT] [--silent-usb-port] [--no-usb] [--list-scenarios]\n"
      "       corvid-bench snapshot FILE.png [--dir DIR]\n"
      "       corvid-bench key NAME [--dir DIR]\n"
      "       corvid-bench press KEY [--long | --hold MS] [--dir DIR]\n"
      "  --dir DIR        the bench root (default ./bench-root); its opt/set is kept\n"
      "  --corvid PATH    the controller (default: ../app/corvid beside this program)\n"
      "  --standin PATH   the stand-in programs' binary (default: beside this program)\n"
      "  --fresh          wipe DIR/opt/set first (factory start)\n"
      "  --scenario NAME  what runs around the controller (default: default)\n"
      "  --fault WORD     make stand-in calls fail: mount-rw, mount-ro, my_temp, ...,\n"
      "                   or the amplifier micro: amp-silent, amp-refuse:ST, amp-temp1:75,\n"
      "                   ... (DIR/bench/faults can be edited while the bench runs)\n"
      "  --interface I    the transceiver the banks follow: 817 (FT-817), pex (EXT IO),\n"
      "                   gen or none (the amplifier's frequency counter); written into\n"
      "                   the band table files before the start\n"
      "  --web PORT       a live view of the panel, its keys and the simulators on\n"
      "                   http://127.0.0.1:PORT/ (0: a free port)\n"
      "  --silent-usb-port  a second USB serial device, DIR/dev/ttyUSB1, that never\n"
      "                   answers (the CAT search tries it first)\n"
      "  --no-usb         no emulated USB devices (by default the transceiver's IQ\n"
      "                   interface 1721:061A and its sound card 0d8c:01af, for the\n"
      "                   controller's USB library through umockdev)\n"
      "  snapshot         writes the panel of DIR as it is now to FILE.png\n"
      "  key              types one key on the service keyboard of the bench running in\n"
      "                   DIR: SysRq, F1, F2, F3, F4, F10, F11 or F12\n"
      "  press            presses panel key 1 to 6 of the root DIR: short, long (--long)\n"
      "                   or held for MS milliseconds (--hold MS, 0 to 60000)\n");
}

void message(const char* format, const std::string& text) {
  std::fprintf(stdout, "corvid-bench: ");
  std::fprintf(stdout, format, text.c_str());
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Parses the command line; false (with the reason) on an error.
bool parse(int argc, char** argv, Options& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string_view word = argv[i];
    std::string value;
    bool hasValue = false;
    if (const size_t eq = word.find('='); word.starts_with("--") && eq != std::string_view::npos) {
      value = std::string(word.substr(eq + 1));
      word = word.substr(0, eq);
      hasValue = true;
    }
    auto takeValue = [&]() -> bool {
      if (hasValue) return true;
      if (i + 1 >= argc) {
        error = std::string(word) + " needs a value";
        return false;
      }
      value = argv[++i];
      return true;
    };
    if (word == "--dir") {
      if (!takeValue()) return false;
      options.dir = value;
    } else if (word == "--corvid") {
      if (!takeValue()) return false;
      options.corvid = value;
    } else if (word == "--standin") {
      if (!takeValue()) return false;
      options.standin = value;
    } else if (word == "--scenario") {
      if (!takeValue()) return false;
      options.scenario = value;
    } else if (word == "--fault") {
      if (!takeValue()) return false;
      options.faults.push_back(value);
    } else if (word == "--interface") {
      if (!takeValue()) return false;
      options.bankInterface = parseBankInterface(value);
      if (!options.bankInterface) {
        error = "--interface takes 817, pex, gen or none, not " + value;
        return false;
      }
    } else if (word == "--web") {
      if (!takeValue()) return false;
      int port = -1;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
      if (value.empty() || ec != std::errc{} || end != value.data() + value.size() || port < 0 ||
          port > 65535) {
        error = "--web takes a port from 0 to 65535, not " + value;
        return false;
      }
      options.webPort = port;
    } else if (word == "--fresh" && !hasValue) {
      options.fresh = true;
    } else if (word == "--no-usb" && !hasValue) {
      options.noUsb = true;
    } else if (word == "--silent-usb-port" && !hasValue) {
      options.silentUsbPort = true;
    } else if (word == "--list-scenarios" && !hasValue) {
      options.listScenarios = true;
    } else {
      error = "unknown option " + std::string(argv[i]);
      return false;
    }
  }
  return true;
}

// Writes whole lines of the controller's output as they complete, and hands each to the
// observer.
class LineStream {
 public:
  explicit LineStream(std::function<void(std::string_view)> observer = {})
      : observer_(std::move(observer)) {}
  // False when standard output is gone.
  bool feed(std::string_view chunk) {
    pending_.append(chunk);
    size_t start = 0;
    for (size_t nl; (nl = pending_.find('\n', start)) != std::string::npos; start = nl + 1) {
      const std::string_view line(pending_.data() + start, nl + 1 - start);
      if (observer_) observer_(line);
      if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size()) return false;
    }
    pending_.erase(0, start);
    return std::fflush(stdout) == 0;
  }
  void finish() {
    if (pending_.empty()) return;
    pending_ += '\n';
    std::fwrite(pending_.data(), 1, pending_.size(), stdout);
    std::fflush(stdout);
    if (observer_) observer_(pending_);
    pending_.clear();
  }

 private:
  std::function<void(std::string_view)> observer_;
  std::string pending_;
};

// Reads what the pipe holds now; false at its end or on an error.
bool readAvailable(int fd, LineStream& lines, bool& outputGone) {
  char buffer[4096];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n < 0) return errno == EINTR || errno == EAGAIN;
  if (n == 0) return false;
  if (!lines.feed(std::string_view(buffer, static_cast<size_t>(n)))) outputGone = true;
  return true;
}

// Runs until the controller ends, a stop signal comes, or finished() says so (checked
// every 200 ms when given).
int runBench(ChildProcess& child, const std::function<bool()>& finished,
             std::function<void(std::string_view)> observe) {
  LineStream lines(std::move(observe));
  int errFd = child.stderrFd();
  ::fcntl(errFd, F_SETFL, ::fcntl(errFd, F_GETFL) | O_NONBLOCK);
  bool outputGone = false;
  for (;;) {
    pollfd fds[2] = {{gSignalPipe[0], POLLIN, 0}, {errFd, POLLIN, 0}};
    const int ready = ::poll(fds, errFd >= 0 ? 2 : 1, 200);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) break;  // a stop signal
    if (finished && finished()) break;
    if (errFd >= 0 && ready > 0 && (fds[1].revents & (POLLIN | POLLHUP)) != 0) {
      if (!readAvailable(errFd, lines, outputGone)) errFd = -1;  // the child closed it
    }
    if (outputGone) break;
    if (errFd < 0) {
      if (const std::optional<ExitStatus> status = child.poll()) {
        lines.finish();
        message("corvid %s", status->describe());
        return status->shellStatus();
      }
    }
  }
  if (!outputGone) message("stopping corvid (pid %s)", std::to_string(child.pid()));
  const ExitStatus status = child.stop();
  if (errFd >= 0) {
    while (!outputGone && readAvailable(errFd, lines, outputGone)) {
    }
  }
  lines.finish();
  if (!outputGone) message("corvid stopped on request: %s", status.describe());
  return 0;
}

// The words of "corvid-bench COMMAND WORD [--dir DIR]": false (with the reason printed)
// for anything else.
bool commandWord(int argc, char** argv, const char* command, fs::path& dir, std::string& word) {
  dir = "bench-root";
  for (int i = 2; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else if (arg.starts_with("--dir=")) {
      dir = std::string(arg.substr(6));
    } else if (!arg.starts_with("--") && word.empty()) {
      word = std::string(arg);
    } else {
      std::fprintf(stderr, "corvid-bench: %s: unexpected %s\n", command, argv[i]);
      usage(stderr);
      return false;
    }
  }
  return true;
}

// The bench root of dir; empty (with the reason printed) when it is none.
std::optional<BenchRoot> benchRootAt(const fs::path& dir, const char* command) {
  std::error_code ec;
  BenchRoot root(fs::absolute(dir, ec));
  if (ec || !fs::exists(root.marker(), ec)) {
    std::fprintf(stderr, "corvid-bench: %s: %s is no bench root\n", command, dir.c_str());
    return std::nullopt;
  }
  return root;
}

// corvid-bench snapshot FILE.png [--dir DIR]
int snapshot(int argc, char** argv) {
  fs::path dir;
  std::string png;
  if (!commandWord(argc, argv, "snapshot", dir, png)) return 2;
  if (png.empty()) {
    std::fprintf(stderr, "corvid-bench: snapshot: which file? (snapshot FILE.png)\n");
    return 2;
  }
  const std::optional<BenchRoot> found = benchRootAt(dir, "snapshot");
  if (!found) return 2;
  const BenchRoot& root = *found;
  std::error_code ec;
  if (!fs::is_regular_file(root.framebuffer(), ec)) {
    std::fprintf(stderr, "corvid-bench: snapshot: no framebuffer at %s\n",
                 root.framebuffer().c_str());
    return 2;
  }
  if (const std::string error = writeFramebufferPng(root.framebuffer(), png); !error.empty()) {
    std::fprintf(stderr, "corvid-bench: snapshot: %s\n", error.c_str());
    return 2;
  }
  message("panel written to %s", png);
  return 0;
}

// corvid-bench key NAME [--dir DIR]
int typeKey(int argc, char** argv) {
  fs::path dir;
  std::string name;
  if (!commandWord(argc, argv, "key", dir, name)) return 2;
  if (name.empty()) {
    std::fprintf(stderr, "corvid-bench: key: which key? (%s)\n", serviceKeyNames().c_str());
    return 2;
  }
  const std::optional<uint16_t> code = keyCode(name);
  if (!code) {
    std::fprintf(stderr, "corvid-bench: key: no key named %s (keys: %s)\n", name.c_str(),
                 serviceKeyNames().c_str());
    return 2;
  }
  const std::optional<BenchRoot> found = benchRootAt(dir, "key");
  if (!found) return 2;
  const BenchRoot& root = *found;
  std::error_code ec;
  if (!fs::is_fifo(root.serviceKeyboard(), ec)) {
    std::fprintf(stderr, "corvid-bench: key: no service keyboard FIFO at %s\n",
                 root.serviceKeyboard().c_str());
    return 2;
  }
  // Asked before this program opens the FIFO itself: a key typed where nobody reads
  // would go with this program's descriptor.
  if (!hasReader(root.serviceKeyboard())) {
    std::fprintf(stderr,
                 "corvid-bench: key: nobody reads %s (neither a bench nor a controller runs in "
                 "%s)\n",
                 root.serviceKeyboard().c_str(), root.dir().c_str());
    return 2;
  }
  ServiceKeyboard keyboard(root.serviceKeyboard());
  if (!keyboard.press(*code)) {
    std::fprintf(stderr, "corvid-bench: key: %s\n", keyboard.error().c_str());
    return 2;
  }
  message("typed %s", name + " (key code " + std::to_string(*code) + ")");
  return 0;
}

// corvid-bench press KEY [--long | --hold MS] [--dir DIR]
int pressKey(int argc, char** argv) {
  fs::path dir = "bench-root";
  std::string keyText;
  KeyAction action = KeyAction::Short;
  std::optional<std::string> holdText;
  for (int i = 2; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else if (arg.starts_with("--dir=")) {
      dir = std::string(arg.substr(6));
    } else if (arg == "--long" && action == KeyAction::Short) {
      action = KeyAction::Long;
    } else if (arg == "--hold" && i + 1 < argc && action == KeyAction::Short) {
      action = KeyAction::Hold;
      holdText = argv[++i];
    } else if (arg.starts_with("--hold=") && action == KeyAction::Short) {
      action = KeyAction::Hold;
      holdText = std::string(arg.substr(7));
    } else if (!arg.starts_with("--") && keyText.empty()) {
      keyText = std::string(arg);
    } else {
      std::fprintf(stderr, "corvid-bench: press: unexpected %s\n", argv[i]);
      usage(stderr);
      return 2;
    }
  }
  int key = 0;
  const auto [end, ec] = std::from_chars(keyText.data(), keyText.data() + keyText.size(), key);
  if (keyText.empty() || ec != std::errc{} || end != keyText.data() + keyText.size() || key < 1 ||
      key > 6) {
    std::fprintf(stderr, "corvid-bench: press: which key? (1 to 6, not \"%s\")\n", keyText.c_str());
    return 2;
  }
  std::chrono::milliseconds hold{0};
  if (holdText) {
    long ms = -1;
    const auto [holdEnd, holdEc] =
        std::from_chars(holdText->data(), holdText->data() + holdText->size(), ms);
    if (holdText->empty() || holdEc != std::errc{} ||
        holdEnd != holdText->data() + holdText->size() || ms < 0 || ms > kLongestHold.count()) {
      std::fprintf(stderr, "corvid-bench: press: --hold takes 0 to %lld ms, not %s\n",
                   static_cast<long long>(kLongestHold.count()), holdText->c_str());
      return 2;
    }
    hold = std::chrono::milliseconds(ms);
  }
  const std::optional<BenchRoot> found = benchRootAt(dir, "press");
  if (!found) return 2;
  GpioKeys keys(found->gpioBlock());
  if (!keys.ok()) {
    std::fprintf(stderr, "corvid-bench: press: %s\n", keys.error().c_str());
    return 2;
  }
  const std::chrono::milliseconds longPress = longPressTime(*found);
  runKeySteps(keys, keySteps(key, action, longPress, hold));
  const std::string how = action == KeyAction::Long ? "long"
                          : action == KeyAction::Hold
                              ? "held " + std::to_string(hold.count()) + " ms"
                              : "short";
  message("pressed %s", "key " + std::to_string(key) + " (" + how + ")");
  return 0;
}

fs::path besideThisProgram(const fs::path& relative) {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return (exe.parent_path() / relative).lexically_normal();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string_view(argv[1]) == "snapshot") return snapshot(argc, argv);
  if (argc >= 2 && std::string_view(argv[1]) == "key") return typeKey(argc, argv);
  if (argc >= 2 && std::string_view(argv[1]) == "press") return pressKey(argc, argv);
  Options options;
  std::string error;
  if (!parse(argc, argv, options, error)) {
    std::fprintf(stderr, "corvid-bench: %s\n", error.c_str());
    usage(stderr);
    return 2;
  }
  if (options.listScenarios) {
    for (const Scenario& scenario : scenarios()) {
      std::printf("%-15.*s %.*s\n", static_cast<int>(scenario.name.size()), scenario.name.data(),
                  static_cast<int>(scenario.summary.size()), scenario.summary.data());
    }
    return 0;
  }
  const Scenario* scenario = findScenario(options.scenario);
  if (scenario == nullptr) {
    std::fprintf(stderr, "corvid-bench: no scenario named %s (see --list-scenarios)\n",
                 options.scenario.c_str());
    return 2;
  }
  if (options.corvid.empty()) options.corvid = besideThisProgram("../app/corvid");
  if (options.standin.empty()) options.standin = besideThisProgram("corvid-standin");
  std::error_code ec;
  if (!fs::is_regular_file(options.corvid, ec) || ::access(options.corvid.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "corvid-bench: no controller at %s (use --corvid PATH)\n",
                 options.corvid.c_str());
    return 2;
  }

  PrepareOptions prepare;
  prepare.dir = options.dir;
  prepare.standin = options.standin;
  prepare.settings = options.fresh ? SettingsStart::Fresh : SettingsStart::Keep;
  scenario->configure(prepare);
  prepare.faults.insert(prepare.faults.end(), options.faults.begin(), options.faults.end());
  const PrepareResult prepared = prepareRoot(prepare);
  for (const std::string& warning : prepared.warnings) message("warning: %s", warning);
  if (!prepared.root) {
    std::fprintf(stderr, "corvid-bench: %s\n", prepared.error.c_str());
    return 2;
  }
  const BenchRoot& root = *prepared.root;
  message("root %s", root.dir().string());
  message("calls log %s", root.callsLog().string());
  message("scenario %s", std::string(scenario->name) + " (" + std::string(scenario->summary) + ")");
  for (const std::string& fault : prepare.faults) message("fault %s", fault);
  if (scenario->operation == Operation::Remote) {
    const uint16_t port = freeTcpPort();
    if (port == 0) {
      std::fprintf(stderr, "corvid-bench: no free TCP port for the remote server\n");
      return 2;
    }
    if (const std::string err = setRemoteOperation(root, port, kBenchPassphrase); !err.empty()) {
      std::fprintf(stderr, "corvid-bench: %s\n", err.c_str());
      return 2;
    }
    message("remote client: %s", "corvid-remote 127.0.0.1:" + std::to_string(port) +
                                     " --password " + std::string(kBenchPassphrase));
  }
  if (options.bankInterface) {
    if (const std::string err = setBankInterface(root, *options.bankInterface); !err.empty()) {
      std::fprintf(stderr, "corvid-bench: %s\n", err.c_str());
      return 2;
    }
    message("bank interface %s", std::string(interfaceLine(*options.bankInterface)));
  }

  if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::fprintf(stderr, "corvid-bench: pipe: %s\n",
                 std::generic_category().message(errno).c_str());
    return 2;
  }
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  // The USB test bed first: it sets its folder in this process's environment, which no
  // other thread may read meanwhile.
  std::unique_ptr<UsbDeviceSimulator> usb;
  if (!options.noUsb && UsbDeviceSimulator::available() && emulatorWords().empty()) {
    usb = UsbDeviceSimulator::start({.root = root.dir()}, error);
    if (!usb) {
      std::fprintf(stderr, "corvid-bench: USB devices: %s\n", error.c_str());
      return 2;
    }
    message("USB devices 1721:061A, 0d8c:01af in %s", usb->testbedDir().string());
  }

  AmpSimulatorOptions microOptions;
  microOptions.root = root.dir();
  microOptions.linPort = rootPortSetting(root, "LinPort", "/dev/ttyAMA0");
  AmpSimulator micro(microOptions);
  auto station = std::make_shared<Station>();
  scenario->setup(micro, *station);
  if (!micro.start(error)) {
    std::fprintf(stderr, "corvid-bench: amplifier micro: %s\n", error.c_str());
    return 2;
  }
  message("amplifier micro on %s", micro.slavePath() + " (" + micro.linkPath().string() + ")");
  message("wire log %s", root.under("/var/log/amp-wire.log").string());
  for (const std::string& err : micro.faultsFileErrors()) message("warning: %s", err);

  Ft817Simulator ft817({.root = root.dir(),
                        .port = rootPortSetting(root, "CatSerialPort", "/dev/VORN817"),
                        .watchFaultsFile = true,
                        .station = station});
  if (!ft817.start(error)) {
    std::fprintf(stderr, "corvid-bench: FT-817: %s\n", error.c_str());
    return 2;
  }
  message("FT-817 on %s",
          fs::read_symlink(ft817.linkPath(), ec).string() + " (" + ft817.linkPath().string() + ")");
  ExtIoSimulator extIo({.root = root.dir(),
                        .port = rootPortSetting(root, "SerPort", "/dev/VORNSER"),
                        .watchFaultsFile = true,
                        .cycleMs = 100,
                        .station = station});
  if (!extIo.start(error)) {
    std::fprintf(stderr, "corvid-bench: EXT IO: %s\n", error.c_str());
    return 2;
  }
  message("EXT IO on %s",
          fs::read_symlink(extIo.linkPath(), ec).string() + " (" + extIo.linkPath().string() + ")");
  CatPortSimulator catPort({.root = root.dir(),
                            .port = "/dev/ttyUSB0",
                            .silentPort = options.silentUsbPort ? "/dev/ttyUSB1" : "",
                            .watchFaultsFile = true,
                            .station = station});
  if (!catPort.start(error)) {
    std::fprintf(stderr, "corvid-bench: USB CAT port: %s\n", error.c_str());
    return 2;
  }
  message("USB CAT port on %s",
          catPort.slavePath().empty()
              ? "nothing: unplugged (cat-gone)"
              : catPort.slavePath() + " (" + catPort.linkPath().string() + ")");
  if (options.silentUsbPort) {
    message("silent USB serial device on %s",
            fs::read_symlink(catPort.silentLinkPath(), ec).string() + " (" +
                catPort.silentLinkPath().string() + ")");
  }
  StationFeed feed(station, micro);
  feed.start();

  // Held open for the whole run, so that the controller reading it never sees its end.
  ServiceKeyboard keyboard(root.serviceKeyboard());
  if (keyboard.ok()) {
    message("service keyboard %s", root.serviceKeyboard().string());
  } else {
    message("warning: %s", keyboard.error());
  }

  // The controller's panel state and its remote client, from its log lines; the web view
  // shows them.
  PanelStateWatch panel;
  RemoteClientWatch remoteClient;
  std::optional<WebView> web;
  if (options.webPort) {
    web.emplace(WebViewOptions{.root = root.dir(),
                               .station = station,
                               .micro = &micro,
                               .keyboard = &keyboard,
                               .panelState = &panel,
                               .remoteClient = &remoteClient});
    if (!web->start(*options.webPort, error)) {
      std::fprintf(stderr, "corvid-bench: web view: %s\n", error.c_str());
      return 2;
    }
    message("web view %s", "http://127.0.0.1:" + std::to_string(web->port()) + "/");
  }

  ChildOptions child;
  child.argv = emulatorWords();
  child.argv.insert(child.argv.end(),
                    {fs::absolute(options.corvid, ec).string(), "--root", root.dir().string()});
  child.group = ProcessGroup::Own;
  if (usb) child.env = environmentWith(usb->environment());
  // The panel's pictures are files of the working directory, made by the build.
  child.workingDir = CORVID_PICTURES_DIR;
  message("starting %s",
          fs::absolute(options.corvid, ec).string() + " --root " + root.dir().string());
  std::optional<ChildProcess> corvid = ChildProcess::start(child, error);
  if (!corvid) {
    std::fprintf(stderr, "corvid-bench: %s\n", error.c_str());
    return 2;
  }
  std::function<bool()> finished;
  if (scenario->measure.count() > 0) {
    finished = [&micro, measure = scenario->measure] {
      const std::optional<std::chrono::steady_clock::time_point> end =
          startupEnd(micro.wire().since());
      return end && std::chrono::steady_clock::now() >= *end + measure;
    };
  }
  const int status = runBench(*corvid, finished, [&](std::string_view line) {
    panel.feed(line);
    remoteClient.feed(line);
  });
  corvid.reset();  // the controller first, then what it talks to
  if (web) web->stop();
  feed.stop();
  ft817.stop();
  extIo.stop();
  catPort.stop();
  micro.stop();
  if (scenario->measure.count() > 0) {
    const std::string figures = formatFigures(
        measurePolls(micro.wire().since(),
                     std::chrono::duration_cast<std::chrono::milliseconds>(scenario->measure)));
    std::fputs(figures.c_str(), stdout);
    const SimulatorCounters counters = micro.counters();
    std::printf("  frames %zu, bad frames %zu, replies %zu, refused by the micro %d\n",
                counters.frames, counters.badFrames, counters.replies, counters.refused);
  }
  return status;
}

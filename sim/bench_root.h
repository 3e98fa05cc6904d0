// The bench root: the folder that "corvid --root DIR" takes as its "/". Preparing it lays
// out the folders the controller expects, the device files (a framebuffer file and a
// GPIO register block file), the fonts (links to the host's), the stand-in programs and
// the host's harmless text tools that the controller's shell pipelines use.
//
// What a preparation keeps: DIR/opt/set (the operator's settings) survives unless a
// fresh start is asked for; its network file "interfaces" is written with the factory
// content (kFactoryInterfaces) only when it is missing. What it renews every time: the
// device files (blank screen, every key released, an empty service keyboard FIFO), the
// stand-ins, the calls log (emptied), the faults file and the stand-in answers.
//
// The sound devices (the USB sound card beside the transceiver): DIR/etc/asound.conf,
// the unit's sound configuration, defines the capture device kRxAudioDevice and the
// playback device kTxAudioDevice, both of the bench's sound plugin (sim/bench_pcm_plugin.cpp,
// which describes their files). Each preparation renews the configuration, empties the
// fault files, writes the default capture signal and removes the recordings, so that
// every run starts a time axis of its own.
//
// DIR/bench/ belongs to the bench: "bench-root" marks the folder as a bench root (no
// other non-empty folder is ever prepared, so a mistyped --dir cannot litter a home
// folder), "bin/corvid-standin" is the stand-ins' own copy (it finds the root from its
// own location), "faults" is described in faults.h and "answers/NAME", when present,
// is printed by stand-in NAME instead of its default output (standins.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvid::bench {

namespace fs = std::filesystem;

// The panel: 800 x 480 pixels of 4 bytes, blue, green, red, 0.
inline constexpr size_t kFbWidth = 800;
inline constexpr size_t kFbHeight = 480;
inline constexpr size_t kFbBytes = kFbWidth * kFbHeight * 4;

// The GPIO register block; the level word holds one bit per pin, and the six panel keys
// (pins 22 to 27) read 1 while released.
inline constexpr size_t kGpioBlockBytes = 4096;
inline constexpr size_t kGpioLevelOffset = 0x34;
inline constexpr uint32_t kKeysReleased = 0x3Fu << 22;

// The unit's network file as it leaves the factory (ifupdown format). The controller
// rewrites only the lines whose keyword starts in column 0, so the static interface's
// keywords stand there; the loopback stanza is never touched.
inline constexpr std::string_view kFactoryInterfaces =
    "# The unit's network interfaces (ifupdown).\n"
    "auto lo\n"
    "iface lo inet loopback\n"
    "\n"
    "auto eth0\n"
    "iface eth0 inet static\n"
    "address 192.168.1.200\n"
    "netmask 255.255.255.0\n"
    "gateway 192.168.1.1\n"
    "dns-nameservers 192.168.1.1\n";

// The sound devices' names, as the settings' AudioIn and AudioOut give them.
inline constexpr std::string_view kRxAudioDevice = "bench_rx_audio";
inline constexpr std::string_view kTxAudioDevice = "bench_tx_audio";
// What capture plays until a test writes another signal.
inline constexpr std::string_view kDefaultCaptureSignal = "tone 1000 -12";

class BenchRoot {
 public:
  // dir must be absolute.
  explicit BenchRoot(fs::path dir) : dir_(std::move(dir)) {}

  // The root of the stand-in copy running as exe (DIR/bench/bin/corvid-standin); empty
  // when exe does not lie in a prepared bench root.
  static std::optional<BenchRoot> ofStandin(const fs::path& exe);

  const fs::path& dir() const { return dir_; }
  fs::path callsLog() const { return dir_ / "var/log/bench-calls.log"; }
  fs::path faultsFile() const { return dir_ / "bench/faults"; }
  fs::path answersDir() const { return dir_ / "bench/answers"; }
  fs::path marker() const { return dir_ / "bench/bench-root"; }
  fs::path standinCopy() const { return dir_ / "bench/bin/corvid-standin"; }
  fs::path settingsDir() const { return dir_ / "opt/set"; }
  fs::path framebuffer() const { return dir_ / "dev/fb0"; }
  fs::path gpioBlock() const { return dir_ / "dev/mem"; }
  fs::path interfacesFile() const { return dir_ / "opt/set/interfaces"; }
  // The service keyboard: a FIFO that the controller finds as a USB keyboard
  // (/dev/input/by-id/*-event-kbd) and the bench writes input events into
  // (service_keyboard.h).
  fs::path serviceKeyboard() const {
    return dir_ / "dev/input/by-id/usb-Corvid_Bench_Keyboard-event-kbd";
  }

  // The sound devices: the configuration, and the folder of each device with its files.
  fs::path soundConfiguration() const { return dir_ / "etc/asound.conf"; }
  fs::path rxAudioDir() const { return dir_ / "bench/audio/rx"; }
  fs::path txAudioDir() const { return dir_ / "bench/audio/tx"; }
  fs::path captureSignalFile() const { return rxAudioDir() / "capture-signal"; }
  fs::path rxAudioFaultFile() const { return rxAudioDir() / "fault"; }
  fs::path txAudioFaultFile() const { return txAudioDir() / "fault"; }
  fs::path captureWav() const { return rxAudioDir() / "capture.wav"; }
  fs::path playbackWav() const { return txAudioDir() / "playback.wav"; }
  // The time of a recording's sample 0 (CLOCK_MONOTONIC nanoseconds, as text).
  static fs::path timeAxisFile(const fs::path& wav) { return wav.string() + ".t0"; }

  // "/opt/set/setup.txt" -> DIR/opt/set/setup.txt; a relative path is taken as if
  // it were absolute.
  fs::path under(std::string_view unitPath) const;

  // The PATH the controller gives its commands: DIR/usr/local/bin:DIR/usr/bin:...
  std::string searchPath() const;
  std::vector<fs::path> searchFolders() const;

  // True when path (absolute, or relative to the working folder) names something
  // strictly inside the root. Links in its folders are followed, a link at its end is
  // not (removing a link removes the link).
  bool contains(const fs::path& path) const;

 private:
  fs::path dir_;
};

enum class SettingsStart { Keep, Fresh };

struct PrepareOptions {
  fs::path dir;      // the root; made absolute
  fs::path standin;  // the corvid-standin binary to copy into the root
  SettingsStart settings = SettingsStart::Keep;
  std::vector<std::string> faults;             // words of DIR/bench/faults
  std::map<std::string, std::string> answers;  // stand-in name -> its output
};

struct PrepareResult {
  std::optional<BenchRoot> root;      // empty on failure
  std::string error;                  // why it failed
  std::vector<std::string> warnings;  // what is missing but not fatal (a host font)
};

PrepareResult prepareRoot(const PrepareOptions& options);

// The root's sound configuration: the plugin's type (its module at pluginPath) and the two
// devices in the root's folders.
std::string soundConfigurationText(const BenchRoot& root, std::string_view pluginPath);
// The plugin module this build made.
std::string_view benchSoundPlugin();

// The whole content of a file; empty when it cannot be read.
std::optional<std::string> readWholeFile(const fs::path& path);

// The folders of a root, relative to it.
std::vector<std::string_view> rootFolders();

}  // namespace corvid::bench

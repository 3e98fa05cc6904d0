#include "sim/bench_root.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <system_error>

#include "sim/faults.h"
#include "sim/micro_faults.h"
#include "sim/standins.h"

namespace corvid::bench {

namespace {

constexpr std::array<std::string_view, 19> kFolders = {
    "opt/set",
    "opt/fonts",
    "opt/Corvid",
    "tmp",
    "dev",
    "dev/input/by-id",
    "var/log",
    "usr/bin",
    "bin",
    "sbin",
    "usr/sbin",
    "usr/local/bin",
    "usr/share/fonts/truetype/dejavu",
    "bench",
    "bench/bin",
    "bench/answers",
    "etc",
    "bench/audio/rx",
    "bench/audio/tx",
};

struct FontLink {
  std::string_view link;    // under the root
  std::string_view target;  // on the host
};

constexpr std::array<FontLink, 5> kFonts = {{
    {"usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
     "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"},
    {"usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
     "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"},
    {"usr/share/fonts/truetype/dejavu/DejaVuSans-Oblique.ttf",
     "/usr/share/fonts/truetype/dejavu/DejaVuSans-Oblique.ttf"},
    {"opt/fonts/PTS55F_W.ttf", "/usr/share/fonts/truetype/paratype/PTS55F.ttf"},
    {"opt/fonts/PTS75F_W.ttf", "/usr/share/fonts/truetype/paratype/PTS75F.ttf"},
}};

// Text tools for the controller's pipelines ("lsusb|grep 0d8c:01af |wc -l"): they only
// read and print, so the host's own are linked in.
constexpr std::array<std::string_view, 6> kHostTools = {"grep", "wc", "cat", "sed", "head", "tail"};
constexpr std::array<std::string_view, 2> kHostToolFolders = {"/usr/bin", "/bin"};

constexpr std::string_view kMarkerText = "corvid bench root\n";

// Writes a file through a temporary one and a rename, so that a stand-in or a running
// controller never sees half of it.
std::string writeFileAtomically(const fs::path& path, std::string_view content,
                                fs::perms perms = fs::perms::owner_read | fs::perms::owner_write |
                                                  fs::perms::group_read | fs::perms::others_read) {
  const fs::path temp = path.string() + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out) return "cannot write " + temp.string();
  }
  std::error_code ec;
  fs::permissions(temp, perms, ec);
  if (!ec) fs::rename(temp, path, ec);
  if (ec) return "cannot create " + path.string() + ": " + ec.message();
  return {};
}

std::string replaceLink(const fs::path& target, const fs::path& link) {
  std::error_code ec;
  fs::remove(link, ec);
  if (ec) return "cannot remove " + link.string() + ": " + ec.message();
  fs::create_symlink(target, link, ec);
  if (ec) return "cannot link " + link.string() + ": " + ec.message();
  return {};
}

std::string gpioBlockContent() {
  std::string block(kGpioBlockBytes, '\0');
  for (size_t i = 0; i < 4; ++i) {  // little endian, as the SoC reads it
    block[kGpioLevelOffset + i] = static_cast<char>((kKeysReleased >> (8 * i)) & 0xFF);
  }
  return block;
}

std::string checkRootFolder(const fs::path& dir) {
  std::error_code ec;
  if (dir == dir.root_path() || fs::weakly_canonical(dir, ec) == dir.root_path()) {
    return "refusing to use " + dir.string() + " as a bench root";
  }
  const fs::file_status status = fs::status(dir, ec);
  if (!fs::exists(status)) return {};
  if (!fs::is_directory(status)) return dir.string() + " is not a folder";
  if (!fs::is_empty(dir, ec) && !fs::exists(BenchRoot(dir).marker(), ec)) {
    return dir.string() + " is not empty and is not a bench root (it has no bench/bench-root)";
  }
  return {};
}

std::string makeFolders(const BenchRoot& root, SettingsStart settings) {
  std::error_code ec;
  if (settings == SettingsStart::Fresh) {
    fs::remove_all(root.settingsDir(), ec);
    if (ec) return "cannot wipe " + root.settingsDir().string() + ": " + ec.message();
  }
  for (std::string_view folder : kFolders) {
    fs::create_directories(root.dir() / folder, ec);
    if (ec) return "cannot create " + (root.dir() / folder).string() + ": " + ec.message();
  }
  return {};
}

// A new, empty FIFO in place of whatever lay at the keyboard's path: events typed into
// an earlier run never reach the next controller. Made under a name that the
// controller's "*-event-kbd" pattern does not match, then renamed into place.
std::string makeKeyboardFifo(const BenchRoot& root) {
  const fs::path fifo = root.serviceKeyboard();
  const fs::path temp = fifo.string() + ".new";
  std::error_code ec;
  fs::remove(temp, ec);
  if (::mkfifo(temp.c_str(), S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH) != 0) {
    return "cannot make the FIFO " + temp.string() + ": " + std::generic_category().message(errno);
  }
  fs::rename(temp, fifo, ec);
  if (ec) return "cannot create " + fifo.string() + ": " + ec.message();
  return {};
}

// The operator's network file: written once, then it is his (a fresh start writes it
// again, as the factory image would).
std::string makeSettingsFiles(const BenchRoot& root) {
  std::error_code ec;
  if (fs::exists(fs::symlink_status(root.interfacesFile(), ec))) return {};
  return writeFileAtomically(root.interfacesFile(), kFactoryInterfaces);
}

std::string makeDevices(const BenchRoot& root) {
  // A regular file of zeros: the controller maps it as its framebuffer (a black panel).
  const fs::path temp = root.framebuffer().string() + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return "cannot create " + temp.string();
  }
  std::error_code ec;
  fs::resize_file(temp, kFbBytes, ec);
  if (!ec) fs::rename(temp, root.framebuffer(), ec);
  if (ec) return "cannot create " + root.framebuffer().string() + ": " + ec.message();
  if (std::string err = writeFileAtomically(root.gpioBlock(), gpioBlockContent()); !err.empty()) {
    return err;
  }
  return makeKeyboardFifo(root);
}

void linkFonts(const BenchRoot& root, std::vector<std::string>& warnings) {
  std::error_code ec;
  for (const FontLink& font : kFonts) {
    if (!fs::exists(font.target, ec)) {
      warnings.push_back("host font missing: " + std::string(font.target));
    }
    if (std::string err = replaceLink(font.target, root.dir() / font.link); !err.empty()) {
      warnings.push_back(err);
    }
  }
}

std::string installStandins(const BenchRoot& root, const fs::path& standin,
                            std::vector<std::string>& warnings) {
  std::error_code ec;
  if (!fs::is_regular_file(standin, ec)) return "no stand-in binary at " + standin.string();
  const fs::path copy = root.standinCopy();
  const fs::path temp = copy.string() + ".new";
  // Copied, not linked: the stand-ins find their root from where their binary lies, and
  // a rename replaces the binary even while a stand-in of an earlier run executes it.
  fs::copy_file(standin, temp, fs::copy_options::overwrite_existing, ec);
  if (!ec)
    fs::permissions(temp,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    ec);
  if (!ec) fs::rename(temp, copy, ec);
  if (ec) return "cannot install " + copy.string() + ": " + ec.message();

  for (const StandinRow& row : kStandins) {
    const fs::path folder = root.dir() / row.folder;
    if (std::string err = replaceLink(copy.lexically_relative(folder), folder / row.name);
        !err.empty()) {
      return err;
    }
  }
  for (std::string_view tool : kHostTools) {
    bool found = false;
    for (std::string_view folder : kHostToolFolders) {
      const fs::path host = fs::path(folder) / tool;
      if (::access(host.c_str(), X_OK) != 0) continue;
      if (std::string err = replaceLink(host, root.dir() / "bin" / tool); !err.empty()) {
        return err;
      }
      found = true;
      break;
    }
    if (!found) warnings.push_back("host tool missing: " + std::string(tool));
  }
  return {};
}

// The sound configuration, empty fault files, the default signal; the recordings of an
// earlier run removed.
std::string makeSoundDevices(const BenchRoot& root, std::vector<std::string>& warnings) {
  std::error_code ec;
  if (!fs::exists(benchSoundPlugin(), ec)) {
    warnings.push_back("sound plugin missing: " + std::string(benchSoundPlugin()));
  }
  if (std::string err = writeFileAtomically(root.soundConfiguration(),
                                            soundConfigurationText(root, benchSoundPlugin()));
      !err.empty()) {
    return err;
  }
  for (const fs::path& wav : {root.captureWav(), root.playbackWav()}) {
    for (const fs::path& file : {wav, BenchRoot::timeAxisFile(wav)}) {
      fs::remove(file, ec);
      if (ec) return "cannot remove " + file.string() + ": " + ec.message();
    }
  }
  for (const fs::path& fault : {root.rxAudioFaultFile(), root.txAudioFaultFile()}) {
    if (std::string err = writeFileAtomically(fault, ""); !err.empty()) return err;
  }
  return writeFileAtomically(root.captureSignalFile(), std::string(kDefaultCaptureSignal) + "\n");
}

std::string writeBenchFiles(const BenchRoot& root, const PrepareOptions& options) {
  std::string faults;
  for (const std::string& word : options.faults) faults += word + '\n';
  std::vector<std::string> faultErrors;
  microFaultsOf(Faults::parse(faults, &faultErrors), &faultErrors);
  if (!faultErrors.empty()) return faultErrors.front();
  if (std::string err = writeFileAtomically(root.faultsFile(), faults); !err.empty()) {
    return err;
  }
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(root.answersDir(), ec)) {
    fs::remove(entry.path(), ec);
  }
  for (const auto& [name, output] : options.answers) {
    if (name.empty() || name.find('/') != std::string::npos || name[0] == '.') {
      return "bad stand-in name for an answer: " + name;
    }
    if (std::string err = writeFileAtomically(root.answersDir() / name, output); !err.empty()) {
      return err;
    }
  }
  return writeFileAtomically(root.callsLog(), "");
}

}  // namespace

std::optional<BenchRoot> BenchRoot::ofStandin(const fs::path& exe) {
  const fs::path dir = exe.parent_path().parent_path().parent_path();
  std::error_code ec;
  if (dir.empty() || !dir.is_absolute() || !fs::exists(BenchRoot(dir).marker(), ec)) {
    return std::nullopt;
  }
  return BenchRoot(dir);
}

fs::path BenchRoot::under(std::string_view unitPath) const {
  return dir_ / fs::path(unitPath).relative_path();
}

std::vector<fs::path> BenchRoot::searchFolders() const {
  std::vector<fs::path> folders;
  for (std::string_view folder : {"usr/local/bin", "usr/bin", "bin", "usr/sbin", "sbin"}) {
    folders.push_back(dir_ / folder);
  }
  return folders;
}

std::string BenchRoot::searchPath() const {
  std::string path;
  for (const fs::path& folder : searchFolders()) {
    if (!path.empty()) path += ':';
    path += folder.string();
  }
  return path;
}

bool BenchRoot::contains(const fs::path& path) const {
  std::error_code ec;
  fs::path p = fs::absolute(path, ec);
  if (ec) return false;
  p = p.lexically_normal();
  if (!p.has_filename()) p = p.parent_path();
  const fs::path name = p.filename();
  if (name.empty() || name == "." || name == "..") return false;
  const fs::path parent = fs::weakly_canonical(p.parent_path(), ec);
  if (ec) return false;
  const fs::path root = fs::weakly_canonical(dir_, ec);
  if (ec) return false;
  const fs::path rel = parent.lexically_relative(root);
  return !rel.empty() && *rel.begin() != "..";
}

std::vector<std::string_view> rootFolders() {
  return {kFolders.begin(), kFolders.end()};
}

PrepareResult prepareRoot(const PrepareOptions& options) {
  PrepareResult result;
  if (options.dir.empty()) {
    result.error = "no root folder given";
    return result;
  }
  std::error_code ec;
  fs::path dir = fs::absolute(options.dir, ec).lexically_normal();
  if (ec) {
    result.error = "bad root folder " + options.dir.string() + ": " + ec.message();
    return result;
  }
  if (!dir.has_filename() && dir.has_relative_path()) dir = dir.parent_path();
  if (std::string err = checkRootFolder(dir); !err.empty()) {
    result.error = err;
    return result;
  }
  const BenchRoot root(dir);
  std::string err = makeFolders(root, options.settings);
  if (err.empty()) err = writeFileAtomically(root.marker(), kMarkerText);
  if (err.empty()) err = makeSettingsFiles(root);
  if (err.empty()) err = makeDevices(root);
  if (err.empty()) linkFonts(root, result.warnings);
  if (err.empty()) err = installStandins(root, options.standin, result.warnings);
  if (err.empty()) err = makeSoundDevices(root, result.warnings);
  if (err.empty()) err = writeBenchFiles(root, options);
  if (!err.empty()) {
    result.error = err;
    return result;
  }
  result.root = root;
  return result;
}

std::string soundConfigurationText(const BenchRoot& root, std::string_view pluginPath) {
  // The library's strings: double-quoted, a quote or a backslash escaped by a backslash.
  const auto quoted = [](const fs::path& path) {
    std::string out = "\"";
    for (const char c : path.string()) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    return out + "\"";
  };
  std::string text = "# The bench's sound devices (written by the root's preparation).\n";
  text += "pcm_type.corvid_bench {\n  lib " + quoted(fs::path(pluginPath)) + "\n}\n";
  const struct {
    std::string_view name;
    std::string_view what;
    fs::path dir;
  } devices[] = {
      {kRxAudioDevice, "capture: the transceiver's receive audio", root.rxAudioDir()},
      {kTxAudioDevice, "playback: to the transceiver's audio input", root.txAudioDir()},
  };
  for (const auto& device : devices) {
    text += "pcm." + std::string(device.name) + " {\n  type corvid_bench\n";
    text += "  dir " + quoted(device.dir) + "\n";
    text += "  hint.description \"" + std::string(device.what) + "\"\n}\n";
  }
  return text;
}

std::string_view benchSoundPlugin() {
  return CORVID_BENCH_PCM_PLUGIN;
}

std::optional<std::string> readWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace corvid::bench

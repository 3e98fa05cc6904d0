#include "sim/standins.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include "sim/calls_log.h"
#include "sim/faults.h"
#include "sim/framebuffer_png.h"

namespace corvid::bench {

namespace {

StandinOutcome succeed(const StandinCall&) {
  return {};
}

StandinOutcome failure(int status, std::string message) {
  StandinOutcome outcome;
  outcome.status = status;
  outcome.err = std::move(message) + '\n';
  return outcome;
}

// The answer file of a stand-in, else its default output.
StandinOutcome answer(const StandinCall& call, std::string_view name, std::string_view fallback) {
  StandinOutcome outcome;
  std::ifstream in(call.root.answersDir() / name, std::ios::binary);
  if (in) {
    std::ostringstream text;
    text << in.rdbuf();
    outcome.out = text.str();
  } else {
    outcome.out = fallback;
  }
  return outcome;
}

StandinOutcome myTemp(const StandinCall& call) {
  return answer(call, "my_temp", kMyTempDefault);
}
StandinOutcome myVorn(const StandinCall& call) {
  return answer(call, "my_vorn", kMyVornDefault);
}
StandinOutcome lsusb(const StandinCall& call) {
  return answer(call, "lsusb", "");
}
StandinOutcome getpack(const StandinCall& call) {
  return answer(call, "getpack.sh", kGetpackDefault);
}
StandinOutcome getpack2(const StandinCall& call) {
  return answer(call, "getpack2.sh", kGetpackDefault);
}

StandinOutcome rm(const StandinCall& call) {
  bool force = false;
  bool recursive = false;
  bool endOfOptions = false;
  std::vector<std::string> operands;
  for (size_t i = 1; i < call.argv.size(); ++i) {
    const std::string& word = call.argv[i];
    if (!endOfOptions && word == "--") {
      endOfOptions = true;
    } else if (!endOfOptions && word.size() > 1 && word[0] == '-') {
      for (const char c : std::string_view(word).substr(1)) {
        if (c == 'f') {
          force = true;
        } else if (c == 'r' || c == 'R') {
          recursive = true;
        } else {
          return failure(1, std::string("rm: invalid option -- '") + c + "'");
        }
      }
    } else {
      operands.push_back(word);
    }
  }
  StandinOutcome outcome;
  if (operands.empty() && !force) return failure(1, "rm: missing operand");
  for (const std::string& operand : operands) {
    const std::string quoted = "'" + operand + "'";
    if (!call.root.contains(operand)) {
      outcome.err += "rm: refusing to remove " + quoted + ": outside the bench root\n";
      outcome.status = 1;
      continue;
    }
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(operand, ec);
    if (!fs::exists(status)) {
      if (!force) {
        outcome.err += "rm: cannot remove " + quoted + ": No such file or directory\n";
        outcome.status = 1;
      }
      continue;
    }
    if (fs::is_directory(status) && !recursive) {
      outcome.err += "rm: cannot remove " + quoted + ": Is a directory\n";
      outcome.status = 1;
      continue;
    }
    if (recursive) {
      fs::remove_all(operand, ec);
    } else {
      fs::remove(operand, ec);
    }
    if (ec) {
      outcome.err += "rm: cannot remove " + quoted + ": " + ec.message() + '\n';
      outcome.status = 1;
    }
  }
  return outcome;
}

StandinOutcome sudo(const StandinCall& call) {
  if (call.argv.size() < 2) return failure(1, "usage: sudo PROGRAM [ARGUMENT...]");
  const std::string& program = call.argv[1];
  fs::path found;
  if (program.find('/') != std::string::npos) {
    if (!call.root.contains(program)) {
      return failure(1, "sudo: refusing to run " + program + ": outside the bench root");
    }
    found = program;
  } else {
    for (const fs::path& folder : call.root.searchFolders()) {
      const fs::path candidate = folder / program;
      if (::access(candidate.c_str(), X_OK) == 0) {
        found = candidate;
        break;
      }
    }
  }
  if (found.empty()) return failure(127, "sudo: " + program + ": command not found");
  StandinOutcome outcome;
  outcome.execPath = found.string();
  outcome.execArgv.assign(call.argv.begin() + 1, call.argv.end());
  return outcome;
}

StandinOutcome fbgrab(const StandinCall& call) {
  // Options of the real tool that take a value; only -d (the device) matters here.
  constexpr std::string_view kWithValue = "bcCdfhswz";
  fs::path device = call.root.framebuffer();
  std::string output;
  for (size_t i = 1; i < call.argv.size(); ++i) {
    const std::string& word = call.argv[i];
    if (word.size() == 2 && word[0] == '-' && kWithValue.find(word[1]) != std::string::npos) {
      if (i + 1 >= call.argv.size()) return failure(1, "fbgrab: " + word + " needs a value");
      if (word[1] == 'd') device = call.argv[i + 1];
      ++i;
    } else if (word.size() > 1 && word[0] == '-') {
      continue;  // flags such as -i
    } else {
      output = word;
    }
  }
  if (output.empty()) return failure(1, "usage: fbgrab [-d DEVICE] FILE.png");
  if (!call.root.contains(device)) {
    return failure(1, "fbgrab: refusing to read " + device.string() + ": outside the bench root");
  }
  if (!call.root.contains(output)) {
    return failure(1, "fbgrab: refusing to write " + output + ": outside the bench root");
  }
  if (std::string err = writeFramebufferPng(device, output); !err.empty()) {
    return failure(1, "fbgrab: " + err);
  }
  return {};
}

const StandinRow* findStandin(std::string_view name) {
  for (const StandinRow& row : kStandins) {
    if (row.name == name) return &row;
  }
  return nullptr;
}

}  // namespace

const std::array<StandinRow, 15> kStandins = {{
    {"mount", "bin", &succeed},
    {"rm", "bin", &rm},
    {"reboot", "sbin", &succeed},
    {"my_temp", "usr/local/bin", &myTemp},
    {"my_vorn", "usr/local/bin", &myVorn},
    {"lsusb", "usr/bin", &lsusb},
    {"stty", "bin", &succeed},
    {"tput", "usr/bin", &succeed},
    {"sudo", "usr/bin", &sudo},
    {"ifup", "sbin", &succeed},
    {"ifdown", "sbin", &succeed},
    {"fbgrab", "usr/bin", &fbgrab},
    {"getpack.sh", "opt/Corvid", &getpack},
    {"getpack2.sh", "opt/Corvid", &getpack2},
    {"sshshell", "opt", &succeed},
}};

std::string_view mountFaultWord(const std::vector<std::string>& argv) {
  bool readWrite = false;
  bool readOnly = false;
  for (size_t i = 1; i < argv.size(); ++i) {
    const std::string_view word = argv[i];
    if (word == "-r" || word == "--read-only") readOnly = true;
    if (word == "-w" || word == "--rw") readWrite = true;
    // Option lists such as "defaults,rw" or "remount,ro".
    size_t start = 0;
    while (start <= word.size()) {
      const size_t end = std::min(word.find(',', start), word.size());
      const std::string_view option = word.substr(start, end - start);
      if (option == "rw") readWrite = true;
      if (option == "ro") readOnly = true;
      start = end + 1;
    }
  }
  if (readWrite) return "mount-rw";
  if (readOnly) return "mount-ro";
  return {};
}

std::string lsusbLine(int bus, int device, uint16_t vendor, uint16_t product,
                      std::string_view name) {
  char text[64];
  std::snprintf(text, sizeof text, "Bus %03d Device %03d: ID %04x:%04x ", bus, device,
                static_cast<unsigned>(vendor), static_cast<unsigned>(product));
  return std::string(text) + std::string(name) + '\n';
}

StandinOutcome runStandin(const StandinCall& call) {
  if (call.argv.empty()) return failure(127, "corvid-standin: no program name");
  const std::string name = fs::path(call.argv[0]).filename().string();
  StandinOutcome recordError;
  if (const int err = appendCall(call.root.callsLog(), call.argv); err != 0) {
    // Reported, not fatal: the missing line shows in the log a test reads.
    recordError.err = name + ": cannot record the call in " + call.root.callsLog().string() + ": " +
                      std::generic_category().message(err) + '\n';
  }
  const StandinRow* row = findStandin(name);
  if (row == nullptr) {
    StandinOutcome outcome = failure(127, "corvid-standin: no stand-in named " + name);
    outcome.err = recordError.err + outcome.err;
    return outcome;
  }
  const Faults faults = Faults::load(call.root.faultsFile());
  std::vector<std::string_view> words = {name};
  if (name == "mount") {
    if (const std::string_view word = mountFaultWord(call.argv); !word.empty()) {
      words.push_back(word);
    }
  }
  for (std::string_view word : words) {
    if (const std::optional<int> status = faults.status(word)) {
      StandinOutcome outcome = failure(*status, name + ": bench fault " + std::string(word));
      outcome.err = recordError.err + outcome.err;
      return outcome;
    }
  }
  StandinOutcome outcome = row->handler(call);
  outcome.err = recordError.err + outcome.err;
  return outcome;
}

}  // namespace corvid::bench

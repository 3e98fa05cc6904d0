#include "system/network.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <vector>

#include "core/threads.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/command.h"
#include "platform/files.h"
#include "platform/log.h"

namespace corvid {

using platform::logError;
using platform::trace;

namespace {

// An interfaces file is a few dozen lines; anything this large is not one.
constexpr size_t kInterfacesMaxBytes = 1 << 20;

// The decimal number at the front of text, after blanks, as atoi reads it (0 when there
// is none).
long leadingNumber(std::string_view text) {
  size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  long value = 0;
  for (char c : text.substr(at)) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > 1000000) break;  // far past any field it is used for
  }
  return value;
}

std::string_view field(std::string_view text, size_t from, size_t count) {
  return from < text.size() ? text.substr(from, count) : std::string_view();
}

// The first word of a line (blanks before it allowed) and the rest after the one blank
// that ends it.
bool keywordAndValue(std::string_view line, std::string_view& keyword, std::string_view& value) {
  size_t start = 0;
  while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
  const size_t end = line.find_first_of(" \t", start);
  if (end == std::string_view::npos) return false;  // a keyword with nothing after it
  keyword = line.substr(start, end - start);
  value = line.substr(end + 1);
  return !value.empty();
}

std::string cut(std::string_view text, size_t max) {
  return std::string(text.substr(0, max));
}

}  // namespace

void SplitAddr(std::string_view text, std::array<uint8_t, 4>& bytes) {
  size_t part = 0;
  size_t start = 0;
  while (part < bytes.size() && start <= text.size()) {
    const size_t dot = std::min(text.find('.', start), text.size());
    const long value = leadingNumber(text.substr(start, dot - start));
    bytes[part++] = static_cast<uint8_t>(std::min(value, 255L));
    start = dot + 1;
  }
}

std::string addressText(const std::array<uint8_t, 4>& bytes) {
  char text[20];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}

int ReadLanParam(Works& works) {
  LanAddresses lan;
  platform::LineReader reader;
  if (!reader.open(kInterfacesPath)) {
    trace("Error opening network connection configuration file. CODE: %d\n", errno);
    works.system.lan.set(lan);
    return -1;
  }
  std::string line;
  while (reader.next(line, kInterfacesLineMax)) {
    platform::stripLineEnd(line);
    std::string_view keyword;
    std::string_view value;
    if (!keywordAndValue(line, keyword, value)) continue;
    if (keyword == "address") {
      lan.IP = cut(value, kLanTextMax);
      trace("ip: %s\n", lan.IP.c_str());
    } else if (keyword == "netmask") {
      lan.NetMask = cut(value, kLanTextMax);
      trace("NetMask: %s\n", lan.NetMask.c_str());
    } else if (keyword == "gateway") {
      lan.Gateway = cut(value, kLanTextMax);
    } else if (keyword == "nameserver" || keyword == "dns-nameservers") {
      lan.DNS = cut(value, kLanTextMax);
    }
  }
  SplitAddr(lan.IP, lan.IP_v);
  SplitAddr(lan.NetMask, lan.NetMask_v);
  lan.Gateway_none = lan.Gateway.empty() ? 1 : 0;
  if (!lan.Gateway.empty()) {
    SplitAddr(lan.Gateway, lan.Gateway_v);
    trace("gateway: %s\n", lan.Gateway.c_str());
  }
  lan.DNS_none = lan.DNS.empty() ? 1 : 0;
  if (!lan.DNS.empty()) {
    SplitAddr(lan.DNS, lan.DNS_v);
    trace("DNS: %s\n", lan.DNS.c_str());
  }
  trace("ReadLanParam DNS_none=%d Gateway_none=%d\n", lan.DNS_none, lan.Gateway_none);
  works.system.lan.set(lan);
  return 0;
}

std::string rewriteInterfaces(std::string_view content, const LanAddresses& lan) {
  std::string out;
  size_t start = 0;
  while (start < content.size()) {
    // Whole lines, whatever their length: a line is never split or lost.
    const size_t newline = content.find('\n', start);
    const size_t end = newline == std::string_view::npos ? content.size() : newline + 1;
    const std::string_view line = content.substr(start, end - start);
    start = end;
    // Only keywords in column 0; an indented line passes unchanged.
    if (line.starts_with("address")) {
      const std::string ip = addressText(lan.IP_v);
      trace("--->new ip: %s \n", ip.c_str());
      out += "address " + ip + "\n";
    } else if (line.starts_with("netmask")) {
      out += "netmask " + addressText(lan.NetMask_v) + "\n";
    } else if (line.starts_with("gateway")) {
      out += lan.Gateway_none == 1 ? std::string("gateway \n")
                                   : "gateway " + addressText(lan.Gateway_v) + "\n";
    } else if (line.starts_with("dns-nameservers") || line.starts_with("nameserver")) {
      out += lan.DNS_none == 1 ? std::string("dns-nameservers \n")
                               : "dns-nameservers " + addressText(lan.DNS_v) + "\n";
    } else {
      out += line;
    }
  }
  return out;
}

int SaveLanParam(Works& works) {
  platform::SetWriteWindow window;
  if (!window.writable()) {
    trace("can't mount rw /opt/set/ error %d\n", errno);
    return -1;
  }
  const std::optional<std::string> content =
      platform::readFile(kInterfacesPath, kInterfacesMaxBytes);
  if (!content) {
    trace("Error opening network connection configuration file. CODE: %d\n", errno);
    return -1;
  }
  const std::string rewritten = rewriteInterfaces(*content, works.system.lan.get());
  if (const int err = platform::replaceFileAtomically(kInterfacesPath, rewritten); err != 0) {
    logError("can't write %s error %d", std::string(kInterfacesPath).c_str(), err);
    return -1;
  }
  const platform::CommandStatus restart =
      platform::runCommand("sudo ifdown --exclude=lo -a && sudo ifup --exclude=lo -a");
  platform::sleepMs(1000);
  StartThreadLANinfo(works);  // does nothing while one runs
  return restart.spawnError != 0 ? -1 : restart.exitCode;
}

VersionOffer parseOffer(std::string_view offer) {
  VersionOffer v;
  v.softwareMajor = static_cast<int>(leadingNumber(field(offer, 0, 2)));
  if (v.softwareMajor == 10) v.softwareMajor = 1;  // as the offers are written
  v.softwareMinor = static_cast<int>(leadingNumber(field(offer, 3, 3)));
  size_t at = 6;
  while (at < offer.size() && offer[at] == ' ') ++at;
  v.firmwareMajor = static_cast<int>(leadingNumber(field(offer, at, 3)));
  v.firmwareMinor = static_cast<int>(leadingNumber(field(offer, at + 4, 3)));
  return v;
}

uint8_t compareOffer(const VersionOffer& offer, std::string_view software,
                     std::string_view firmware) {
  const long swMajor = leadingNumber(field(software, 0, 2));
  const long swMinor = leadingNumber(field(software, 3, 3));
  const bool newerSoftware = swMajor < offer.softwareMajor ||
                             (swMajor == offer.softwareMajor && swMinor < offer.softwareMinor);
  if (!newerSoftware) return kUpdateNone;
  const long fwMajor = leadingNumber(field(firmware, 0, 3));
  const long fwMinor = leadingNumber(field(firmware, 4, 3));
  const bool newerFirmware = fwMajor < offer.firmwareMajor ||
                             (fwMajor == offer.firmwareMajor && fwMinor < offer.firmwareMinor);
  return newerFirmware ? kUpdateSoftwareAndFw : kUpdateSoftware;
}

bool lanDisconnected(std::string_view state) {
  return (!state.empty() && state[0] == 'N') || (state.size() > 1 && state[1] == 'o');
}

void ReadLANconnection(Works& works) {
  SystemState& system = works.system;
  system.updateAvailable = kUpdateNone;
  system.lanStatusText.set("No Conn");
  auto pipe = platform::CommandPipe::start("my_vorn");
  if (!pipe) {
    // The amplifier goes on without the LAN line: "No Conn" stays, said once.
    if (system.myVornMissing.exchange(1) == 0) logError("can't run my_vorn");
    return;
  }
  std::string offer;
  std::string state = "No Conn";
  int lines = 0;
  for (std::string line; pipe->readLine(line, kMyVornLineMax);) {
    if (lines++ == 0) offer = line;
    state = line;
  }
  pipe->close();
  // Only the text before a tab or line end is shown.
  state = state.substr(0, state.find_first_of("\t\n"));
  system.lanStatusText.set(state);
  trace("!!!myvorn: %i %s %s\n", lines, offer.c_str(), state.c_str());
  if (lanDisconnected(state)) return;
  const VersionOffer v = parseOffer(offer);
  system.offeredFwMajor = v.firmwareMajor;
  system.offeredFwMinor = v.firmwareMinor;
  system.updateAvailable = compareOffer(v, works.core.version, works.amp.ampFwVersion.get());
}

void LANInfoThread(Works& works) {
  works.system.lanInfoRunning = 1;
  ReadLANconnection(works);
  works.system.lanInfoTime = static_cast<int64_t>(std::time(nullptr));
  works.system.lanInfoRunning = 0;
}

}  // namespace corvid

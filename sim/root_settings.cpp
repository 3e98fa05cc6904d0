#include "sim/root_settings.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>
#include <vector>

namespace corvid::bench {

namespace {


std::optional<int> wholeNumber(std::string_view text) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The controller's factory band table (bands/bands.cpp) as it saves it: amplifier off,
// antenna 1, tuner in, no attenuator, no input power.
constexpr std::string_view kFactoryBands =
    "160m 1800000 2000000 0 1 1 0 0.0\n"
    "80m 3500000 4000000 0 1 1 0 0.0\n"
    "60m 5330500 5450000 0 1 1 0 0.0\n"
    "40m 7000000 7300000 0 1 1 0 0.0\n"
    "30m 10100000 10150000 0 1 1 0 0.0\n"
    "20m 14000000 14350000 0 1 1 0 0.0\n"
    "17m 18068000 18168000 0 1 1 0 0.0\n"
    "15m 21000000 21450000 0 1 1 0 0.0\n"
    "12m 24890000 24990000 0 1 1 0 0.0\n"
    "10m 28000000 29700000 0 1 1 0 0.0\n"
    "6m 50000000 54000000 0 1 1 0 0.0\n";

constexpr int kDefaultLongPressTenths = 5;
constexpr int kMaxLongPressTenths = 600;

// The file of a bank, as the controller names it: bank 0 and banks above 19 share
// antenna.txt.
std::string bankFile(int bank) {
  if (bank >= 1 && bank <= 19) return "/opt/set/antenna_b" + std::to_string(bank) + ".txt";
  return "/opt/set/antenna.txt";
}

}  // namespace

std::optional<std::string> settingIn(std::string_view setupText, std::string_view key) {
  size_t start = 0;
  while (start < setupText.size()) {
    size_t end = setupText.find('\n', start);
    if (end == std::string_view::npos) end = setupText.size();
    std::string_view line = setupText.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > key.size() + 1 && line.starts_with(key) && line[key.size()] == ':' &&
        line[key.size() + 1] == ' ') {
      return std::string(line.substr(key.size() + 2));
    }
    if (line.size() == key.size() + 1 && line.starts_with(key) && line.back() == ':') return "";
  }
  return std::nullopt;
}

std::optional<std::string> rootSetting(const BenchRoot& root, std::string_view key) {
  const std::optional<std::string> text = readWholeFile(root.under("/opt/set/setup.txt"));
  if (!text) return std::nullopt;
  return settingIn(*text, key);
}

std::string rootPortSetting(const BenchRoot& root, std::string_view key,
                            std::string_view fallback) {
  const std::optional<std::string> value = rootSetting(root, key);
  if (value && value->size() > 1 && value->front() == '/') return *value;
  return std::string(fallback);
}

std::chrono::milliseconds longPressTime(std::string_view setupText) {
  int tenths = kDefaultLongPressTenths;
  if (const std::optional<std::string> value = settingIn(setupText, "BTN_longpress_Time")) {
    const std::optional<int> parsed = wholeNumber(*value);
    if (parsed && *parsed >= 0 && *parsed <= kMaxLongPressTenths) tenths = *parsed;
  }
  return std::chrono::milliseconds(tenths * 100);
}

std::chrono::milliseconds longPressTime(const BenchRoot& root) {
  return longPressTime(readWholeFile(root.under("/opt/set/setup.txt")).value_or(""));
}

std::optional<BankInterface> parseBankInterface(std::string_view word) {
  if (word == "817") return BankInterface::Ft817;
  if (word == "pex") return BankInterface::ExtIo;
  if (word == "gen" || word == "none") return BankInterface::Counter;
  return std::nullopt;
}

std::string_view interfaceLine(BankInterface iface) {
  switch (iface) {
    case BankInterface::Ft817:
      return "!817";
    case BankInterface::ExtIo:
      return "!Pex";
    case BankInterface::Counter:
      return "!Gen";
  }
  return "!Gen";
}

std::string withInterface(std::string_view table, BankInterface iface) {
  std::string out = std::string(interfaceLine(iface)) + "\n";
  bool bands = false;
  size_t start = 0;
  while (start < table.size()) {
    size_t end = table.find('\n', start);
    if (end == std::string_view::npos) end = table.size();
    std::string_view line = table.substr(start, end - start);
    start = end + 1;
    if (line.starts_with('!')) continue;  // the old interface line
    std::string_view body = line;
    if (!body.empty() && body.back() == '\r') body.remove_suffix(1);
    if (!body.empty() && body.front() != ';') bands = true;
    out.append(line);
    out += '\n';
  }
  if (!bands) out.append(kFactoryBands);
  return out;
}

std::string setBankInterface(const BenchRoot& root, BankInterface iface) {
  std::vector<int> banks = {0};
  int inUse = 1;  // NumBanco's default
  if (const std::optional<std::string> value = rootSetting(root, "NumBanco")) {
    if (const std::optional<int> n = wholeNumber(*value)) inUse = *n;
  }
  banks.push_back(inUse);
  for (int bank = 1; bank <= 19; ++bank) {
    std::error_code ec;
    if (std::filesystem::exists(root.under(bankFile(bank)), ec)) banks.push_back(bank);
  }
  std::vector<std::string> done;
  for (int bank : banks) {
    const std::string file = bankFile(bank);
    if (std::find(done.begin(), done.end(), file) != done.end()) continue;
    done.push_back(file);
    const std::filesystem::path path = root.under(file);
    const std::string table = withInterface(readWholeFile(path).value_or(""), iface);
    // Replaced whole, as the controller replaces its files.
    const std::filesystem::path temp = path.string() + ".bench-new";
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      out << table;
      if (!out.flush()) return "cannot write " + temp.string();
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) return "cannot replace " + path.string() + ": " + ec.message();
  }
  return {};
}

}  // namespace corvid::bench

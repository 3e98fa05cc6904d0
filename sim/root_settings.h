// What the bench reads from, and writes into, a root's settings folder before and while
// the controller runs: single keys of setup.txt ("Key: value" lines, as the controller
// writes them), the long-press time of the panel keys, and the interface line of the
// band table files, which tells the controller which transceiver link to run.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "sim/bench_root.h"

namespace corvid::bench {

// The value of key in a setup.txt text ("Key: value", a trailing CR dropped); empty when
// the key is missing.
std::optional<std::string> settingIn(std::string_view setupText, std::string_view key);
// The same for DIR/opt/set/setup.txt.
std::optional<std::string> rootSetting(const BenchRoot& root, std::string_view key);
// A device path of the settings (LinPort, SerPort, CatSerialPort): the value when it is
// an absolute path, else fallback.
std::string rootPortSetting(const BenchRoot& root, std::string_view key, std::string_view fallback);

// The panel's long-press time: BTN_longpress_Time in tenths of a second (default 5, so
// 0.5 s); a value that is no number, or not 0 to 600, counts as the default.
std::chrono::milliseconds longPressTime(std::string_view setupText);
std::chrono::milliseconds longPressTime(const BenchRoot& root);

// The frequency source of a bank: the first line of its band table.
enum class BankInterface {
  Ft817,    // "!817": the FT-817 on CatSerialPort
  ExtIo,    // "!Pex": the maker's transceiver on SerPort
  Counter,  // "!Gen": no transceiver link, the amplifier's own frequency counter
};

// "817", "pex", "gen" or "none" (the counter); empty for anything else.
std::optional<BankInterface> parseBankInterface(std::string_view word);
std::string_view interfaceLine(BankInterface iface);

// A band table text with its interface line replaced (or put first when it has none);
// every band line kept. An empty table gets the factory bands, as the controller
// writes them for a bank it has no file of.
std::string withInterface(std::string_view table, BankInterface iface);

// Sets the interface line of bank 0's table (antenna.txt), of the bank in use (NumBanco)
// and of every other bank table already in the root. Empty, or what went wrong.
std::string setBankInterface(const BenchRoot& root, BankInterface iface);

}  // namespace corvid::bench

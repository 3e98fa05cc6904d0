// The stand-in programs of a bench root. One binary, corvid-standin, is copied into the
// root (DIR/bench/bin) and linked under each program's name in the folder where the unit
// has it; it picks the stand-in by the name it was called with (argv[0]). Every call is
// first recorded in the calls log (calls_log.h) and checked against the faults file
// (faults.h); then the stand-in answers its output contract. Nothing real is ever
// remounted, rebooted or reconfigured.
//
//   mount    exit 0
//   rm       removes the named paths, only inside the root ("-f" ignores missing ones,
//            "-r"/"-R" removes folders); a path outside the root is refused, status 1
//   reboot   records only (DIR/sbin/reboot)
//   my_temp  two lines: the CPU temperature ("45") and a line whose characters 6 to 9
//            are the GPU temperature ("temp=47.2'C")
//   my_vorn  two lines: the offer "01.046 001.000" (software 01.046, the installed one,
//            so no update is announced; amplifier firmware 001.000) and the connection
//            state "LAN OK" (the controller reads a state starting with 'N' or with 'o'
//            as second character as no connection)
//   lsusb    no device lines
//   stty, tput, ifup, ifdown   record only, exit 0 (DIR/bin/stty, DIR/usr/bin/tput)
//   getpack.sh, getpack2.sh    the update scripts (DIR/opt/Corvid): a few progress
//            lines, then "ALLOK" (the controller reads "ALLOK" as success, a line
//            "VORNE ERR N" as error N with the line before it as the error text, and
//            neither as no result)
//   sshshell the service shell (DIR/opt/sshshell): records only, exit 0
//   sudo     records, then runs the rest of its arguments with the root's PATH only; a
//            program outside the root is refused
//   fbgrab   writes a PNG of DIR/dev/fb0 (or of "-d DEVICE") to the path it is given,
//            inside the root
//
// A file DIR/bench/answers/NAME replaces the standard output of my_temp, my_vorn,
// lsusb, getpack.sh and getpack2.sh (lsusbLine() formats a device line); the constants
// below are the answers the scenarios and tests use. A fault word with "=N" changes a
// stand-in's exit status (faults.h).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/bench_root.h"

namespace corvid::bench {

struct StandinCall {
  BenchRoot root;
  std::vector<std::string> argv;  // argv[0] as called, then the arguments
};

struct StandinOutcome {
  int status = 0;
  std::string out;  // standard output
  std::string err;  // standard error
  // Not empty: the caller replaces itself with this program, argv execArgv, under the
  // root's PATH (sudo).
  std::string execPath;
  std::vector<std::string> execArgv;
};

using StandinHandler = StandinOutcome (*)(const StandinCall& call);

struct StandinRow {
  std::string_view name;
  std::string_view folder;  // relative to the root
  StandinHandler handler;
};

extern const std::array<StandinRow, 15> kStandins;

inline constexpr std::string_view kMyTempDefault = "45\ntemp=47.2'C\n";

// my_vorn: line 1 the offer "SS.sss FFF.fff" (software, amplifier firmware), line 2
// the connection state. The controller's software is 01.046.
inline constexpr std::string_view kMyVornDefault = "01.046 001.000\nLAN OK\n";
inline constexpr std::string_view kMyVornNoConn = "01.046 001.000\nNo Conn\n";
inline constexpr std::string_view kMyVornUpdateOffered = "01.047 001.012\nLAN OK\n";
// The amplifier firmware that offer names, as the micro reports its version.
inline constexpr std::string_view kOfferedFirmware = "001.012";

// The update scripts: a successful run, a failed one (error 12, with its text on the
// line before) and one that ends without a result line.
inline constexpr std::string_view kGetpackDefault =
    "Checking for a new package\n"
    "Downloading package 01.047\n"
    "Installing package 01.047\n"
    "ALLOK\n";
inline constexpr std::string_view kGetpackError =
    "Downloading package 01.047\n"
    "Package checksum mismatch\n"
    "VORNE ERR 12\n";
inline constexpr std::string_view kGetpackNoResult =
    "Checking for a new package\n"
    "Downloading package 01.047\n";

// Records the call, applies the faults, runs the stand-in named by argv[0]'s last path
// component. An unknown name gives status 127.
StandinOutcome runStandin(const StandinCall& call);

// "Bus 001 Device 004: ID 0d8c:01af NAME", as lsusb lists a device (with line feed).
std::string lsusbLine(int bus, int device, uint16_t vendor, uint16_t product,
                      std::string_view name);

// The mount fault word that a mount call matches besides "mount": "mount-rw" for a
// read-write remount, "mount-ro" for a read-only one, empty otherwise.
std::string_view mountFaultWord(const std::vector<std::string>& argv);

}  // namespace corvid::bench

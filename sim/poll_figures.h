// Figures of the controller's polling, read from the micro simulator's wire log: the
// bench's poll benchmark (corvid-bench --scenario poll-benchmark) prints them.
//
// The controller does not say when it queues a command, so the figures are what the
// wire shows:
//   - start-up: from the first frame to the reply to CM (the last start-up command), the
//     number of start-up commands and how many status polls (ST) went out between two
//     consecutive ones (the link sends one queued command per status poll: 1 each);
//   - steady polling, in a window after the start-up: status polls per second, frames
//     per second, and the gap between a reply of the micro and the controller's next
//     frame, after a status reply and after any other reply (the controller's own pause
//     and reaction time; with a zero-latency micro this is the whole cycle but for the
//     micro's turnaround);
//   - the micro's turnaround: a frame in to its reply out, the simulator's own share.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "sim/wire_log.h"

namespace corvid::bench {

struct GapFigures {
  size_t count = 0;
  double meanMs = 0;
  double minMs = 0;
  double maxMs = 0;
  void add(double ms);
};

struct PollFigures {
  bool startupComplete = false;  // the CM reply was seen
  double startupSeconds = 0;
  size_t startupCommands = 0;  // start-up frames other than ST and FM
  double pollsBetweenMean = 0;
  size_t pollsBetweenMin = 0;
  size_t pollsBetweenMax = 0;

  double windowSeconds = 0;
  size_t statusPolls = 0;
  size_t counterPolls = 0;  // FM
  size_t otherFrames = 0;
  double pollsPerSecond = 0;
  double framesPerSecond = 0;
  GapFigures afterStatusReply;
  GapFigures afterOtherReply;
  GapFigures turnaround;
};

// The time of the reply to the first CM frame: the end of the start-up sequence.
std::optional<std::chrono::steady_clock::time_point> startupEnd(std::span<const WireEntry> wire);

// The figures of a wire log; the steady window starts at the end of the start-up and
// lasts window (or to the last entry, if that comes first).
PollFigures measurePolls(std::span<const WireEntry> wire, std::chrono::milliseconds window);

// The figures as lines of text for the bench's output.
std::string formatFigures(const PollFigures& figures);

}  // namespace corvid::bench

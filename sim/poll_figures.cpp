#include "sim/poll_figures.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace corvid::bench {

namespace {

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

bool isPoll(std::string_view text) {
  return text.starts_with("ST") || text.starts_with("FM");
}

std::string gapLine(const char* what, const GapFigures& gap) {
  std::array<char, 160> line{};
  std::snprintf(line.data(), line.size(),
                "  %-34s mean %7.3f ms  min %7.3f ms  max %7.3f ms  (%zu)\n", what, gap.meanMs,
                gap.minMs, gap.maxMs, gap.count);
  return line.data();
}

}  // namespace

void GapFigures::add(double ms) {
  minMs = count == 0 ? ms : std::min(minMs, ms);
  maxMs = count == 0 ? ms : std::max(maxMs, ms);
  meanMs += (ms - meanMs) / static_cast<double>(++count);
}

std::optional<Clock::time_point> startupEnd(std::span<const WireEntry> wire) {
  for (const WireExchange& exchange : exchangesOf(wire)) {
    if (exchange.frame->text().starts_with("CM") && exchange.reply != nullptr) {
      return exchange.reply->at;
    }
  }
  return std::nullopt;
}

PollFigures measurePolls(std::span<const WireEntry> wire, std::chrono::milliseconds window) {
  PollFigures figures;
  const std::vector<WireExchange> all = exchangesOf(wire);
  const std::optional<Clock::time_point> end = startupEnd(wire);
  if (all.empty() || !end) return figures;
  figures.startupComplete = true;
  figures.startupSeconds = msBetween(all.front().frame->at, *end) / 1000.0;

  // Start-up: status polls between consecutive start-up commands.
  std::optional<size_t> polls;  // counting once the first command went out
  size_t gaps = 0;
  size_t pollSum = 0;
  for (const WireExchange& exchange : all) {
    if (exchange.frame->at > *end) break;
    const std::string_view text = exchange.frame->text();
    if (isPoll(text)) {
      if (polls && text.starts_with("ST")) ++*polls;
      continue;
    }
    ++figures.startupCommands;
    if (polls) {
      figures.pollsBetweenMin = gaps == 0 ? *polls : std::min(figures.pollsBetweenMin, *polls);
      figures.pollsBetweenMax = std::max(figures.pollsBetweenMax, *polls);
      pollSum += *polls;
      ++gaps;
    }
    polls = 0;
  }
  if (gaps > 0) figures.pollsBetweenMean = static_cast<double>(pollSum) / static_cast<double>(gaps);

  // The steady window.
  const Clock::time_point windowEnd = std::min(*end + window, wire.back().at);
  figures.windowSeconds = std::max(msBetween(*end, windowEnd) / 1000.0, 0.0);
  for (size_t i = 0; i < all.size(); ++i) {
    const WireExchange& exchange = all[i];
    if (exchange.frame->at <= *end || exchange.frame->at >= windowEnd) continue;
    const std::string_view text = exchange.frame->text();
    if (text.starts_with("ST")) {
      ++figures.statusPolls;
    } else if (text.starts_with("FM")) {
      ++figures.counterPolls;
    } else {
      ++figures.otherFrames;
    }
    if (exchange.reply == nullptr) continue;
    figures.turnaround.add(msBetween(exchange.frame->at, exchange.reply->at));
    if (i + 1 < all.size()) {
      const double gap = msBetween(exchange.reply->at, all[i + 1].frame->at);
      (text.starts_with("ST") ? figures.afterStatusReply : figures.afterOtherReply).add(gap);
    }
  }
  if (figures.windowSeconds > 0) {
    figures.pollsPerSecond = static_cast<double>(figures.statusPolls) / figures.windowSeconds;
    figures.framesPerSecond =
        static_cast<double>(figures.statusPolls + figures.counterPolls + figures.otherFrames) /
        figures.windowSeconds;
  }
  return figures;
}

std::string formatFigures(const PollFigures& f) {
  if (!f.startupComplete) return "poll figures: the start-up sequence did not end (no CM reply)\n";
  std::array<char, 256> line{};
  std::string text = "poll figures (from the micro's end of the line)\n";
  std::snprintf(line.data(), line.size(),
                "  start-up: %zu commands in %.3f s; status polls between two of them: "
                "mean %.2f, min %zu, max %zu\n",
                f.startupCommands, f.startupSeconds, f.pollsBetweenMean, f.pollsBetweenMin,
                f.pollsBetweenMax);
  text += line.data();
  std::snprintf(line.data(), line.size(),
                "  steady, %.1f s: %zu ST, %zu FM, %zu other; %.1f status polls/s, "
                "%.1f frames/s\n",
                f.windowSeconds, f.statusPolls, f.counterPolls, f.otherFrames, f.pollsPerSecond,
                f.framesPerSecond);
  text += line.data();
  text += gapLine("status reply -> next frame", f.afterStatusReply);
  text += gapLine("other reply -> next frame", f.afterOtherReply);
  text += gapLine("micro turnaround (frame -> reply)", f.turnaround);
  return text;
}

}  // namespace corvid::bench

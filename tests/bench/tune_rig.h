// The controller's own link and tuner code run in-process against the bench's micro:
// the controller has no way yet to start a tune from outside (the tune key's handler is
// not built), so a test or the tune benchmark calls GoTune itself and turns the link's
// state machine (linkStep, the body of the Linear thread) until the tune has ended.
//
// MicroStream is the zero-latency line: the micro answers each frame as it is written.
// On the bench proper the same link runs over the simulator's pseudo-terminal.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "amp/link.h"
#include "atu/atu.h"
#include "core/works.h"
#include "platform/serial.h"
#include "sim/amp_micro.h"
#include "sim/micro_protocol.h"
#include "tests/unit/fake_micro.h"

namespace corvid::bench {

class MicroStream final : public platform::ByteStream {
 public:
  explicit MicroStream(AmpMicro& micro) : micro_(micro) {}

  long read(std::span<uint8_t> buffer, int) override {
    size_t n = 0;
    while (n < buffer.size() && !toLink_.empty()) {
      buffer[n++] = static_cast<uint8_t>(toLink_.front());
      toLink_.pop_front();
    }
    return static_cast<long>(n);
  }

  long write(std::span<const uint8_t> data) override {
    frames_.clear();
    parser_.feed(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()),
                 frames_);
    for (const Frame& frame : frames_) {
      if (frame.check != FrameCheck::Ok) {
        ++badFrames;
        continue;
      }
      commands.emplace_back(frame.text());
      const auto reply = micro_.answer(frame.text(), SimClock::now());
      if (reply) {
        const std::string framed = frameReply(*reply);
        toLink_.insert(toLink_.end(), framed.begin(), framed.end());
      }
    }
    return static_cast<long>(data.size());
  }

  std::vector<std::string> commands;  // the command texts, checksum digits removed
  int badFrames = 0;

 private:
  AmpMicro& micro_;
  FrameParser parser_;
  std::vector<Frame> frames_;
  std::deque<char> toLink_;
};

// A record as the link has it after the amplifier's start-up, set for a tune on antenna
// (1..3) at a frequency: automatic tuning enabled, no SWR target (the fine passes run
// to 1.1), the status poll running.
inline void prepareTuneWorks(Works& works, int antenna, uint64_t frequencyHz) {
  testing::prepareLinkedWorks(works);
  works.set.AutoTuneMode = 1;
  works.set.AutoTuneMaxCicli = 0;  // 600 cycles
  works.set.NumAntenna = antenna - 1;
  works.atu.tunerBypassed = 0;
  works.ui.trxFreq = static_cast<uint32_t>(frequencyHz);
  works.amp.linearProcessStatus = CmdST;
  wireTuner(works);
}

// Turns the link until the tune started by the caller has ended, or the step budget is
// spent; true when it ended.
template <class Port>
bool runTuneToEnd(Works& works, Port& port, LinkReceiver& receiver, long maxSteps = 2000000) {
  for (long i = 0; i < maxSteps; ++i) {
    if (works.atu.tuneState.load() == 0) return true;
    linkStep(works, port, receiver);
  }
  return works.atu.tuneState.load() == 0;
}

// The tune values of the MT1 commands, in order.
inline std::vector<uint32_t> tuneWrites(const std::vector<std::string>& commands) {
  std::vector<uint32_t> values;
  for (const std::string& c : commands) {
    if (c.size() == 12 && c.compare(0, 3, "MT1") == 0) {
      values.push_back(static_cast<uint32_t>(std::stoul(c.substr(3, 8), nullptr, 16)));
    }
  }
  return values;
}

}  // namespace corvid::bench

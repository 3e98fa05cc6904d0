// An in-memory stand-in for the amplifier micro's end of the serial line: every frame
// the link writes is checked and recorded, and answered by a reply function. Frames are
// made and checked with the bench's protocol code (sim/micro_protocol.h), written apart
// from the link's, so that a wrong checksum in the link cannot pass unseen.
#pragma once

#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "amp/link.h"
#include "core/works.h"
#include "errors/errors.h"
#include "platform/serial.h"
#include "sim/micro_protocol.h"

namespace corvid::testing {

// The frame the micro sends for a reply text: upper-case checksum digits, then the text.
inline std::string microFrame(const std::string& text) {
  return bench::frameReply(text);
}

class FakeMicro final : public platform::ByteStream {
 public:
  // Returns the raw bytes to answer a command text with (use microFrame), or "" for
  // silence.
  using Responder = std::function<std::string(const std::string& command)>;
  explicit FakeMicro(Responder responder) : responder_(std::move(responder)) {}

  long read(std::span<uint8_t> buffer, int) override {
    size_t n = 0;
    while (n < buffer.size() && !toLink_.empty()) {
      buffer[n++] = static_cast<uint8_t>(toLink_.front());
      toLink_.pop_front();
    }
    return static_cast<long>(n);
  }

  long write(std::span<const uint8_t> data) override {
    parsed_.clear();
    parser_.feed(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()),
                 parsed_);
    for (const bench::Frame& frame : parsed_) {
      frames.push_back(frame.bytes);
      // Lower-case digits of the right checksum, as the micro requires of the link.
      if (frame.check != bench::FrameCheck::Ok) badFrames.push_back(frame.bytes);
      const std::string text(frame.text());
      commands.push_back(text);
      for (char c : responder_(text)) toLink_.push_back(c);
    }
    return static_cast<long>(data.size());
  }

  std::vector<std::string> frames;     // as written, checksum digits included
  std::vector<std::string> commands;   // command texts
  std::vector<std::string> badFrames;  // frames the micro would refuse

 private:
  Responder responder_;
  bench::FrameParser parser_;
  std::vector<bench::Frame> parsed_;
  std::deque<char> toLink_;
};

// A plausible answer to every command of the link, status included.
std::string defaultReply(const std::string& command);

// The texts of the commands queued so far; the queue is left empty.
inline std::vector<std::string> drainQueue(Works& works) {
  std::vector<std::string> texts;
  char letters[2];
  for (int i; (i = works.amp.cmdQueue.pop()) >= 0;)
    texts.push_back(buildCommand(works, i, letters));
  return texts;
}

// A record as the link has it once the amplifier has answered its start-up: errors can
// be raised, status replies are decoded, the default calibration offsets.
inline void prepareLinkedWorks(Works& works) {
  InitGlobalVar(works);
  initErrorTable(works);
  works.errors.errorsMuted = 0;
  works.amp.statusValid = 1;
  works.amp.KostPWRIN = 150;
  works.amp.KostFORW = 140;
  works.amp.KostREFL = 100;
}

}  // namespace corvid::testing

// Connects a transceiver simulator's station to the amplifier micro simulator: every
// 20 ms the micro gets the station's shown frequency, and is keyed with the station's
// drive while the station transmits (unkeyed otherwise). The feed's own thread runs from
// start() to stop() (or the destructor).
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "sim/amp_simulator.h"
#include "sim/station.h"

namespace corvid::bench {

class StationFeed {
 public:
  StationFeed(std::shared_ptr<Station> station, AmpSimulator& micro)
      : station_(std::move(station)), micro_(micro) {}
  ~StationFeed() { stop(); }
  StationFeed(const StationFeed&) = delete;
  StationFeed& operator=(const StationFeed&) = delete;

  void start();
  void stop();
  // One copy of the station into the micro.
  void feed();

 private:
  std::shared_ptr<Station> station_;
  AmpSimulator& micro_;
  std::thread thread_;
  std::atomic<bool> stopRequested_{false};
};

}  // namespace corvid::bench

#include "sim/station_feed.h"

#include <chrono>

namespace corvid::bench {

void StationFeed::feed() {
  const StationState s = station_->get();
  micro_.withMicro([&s](AmpMicro& micro) {
    micro.setTransceiverFrequency(s.displayFreq());
    if (s.transmitting())
      micro.key(s.driveWatts());
    else
      micro.unkey();
  });
}

void StationFeed::start() {
  if (thread_.joinable()) return;
  stopRequested_ = false;
  thread_ = std::thread([this] {
    while (!stopRequested_) {
      feed();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
}

void StationFeed::stop() {
  stopRequested_ = true;
  if (thread_.joinable()) thread_.join();
}

}  // namespace corvid::bench

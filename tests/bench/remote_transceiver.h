// The transceiver behind a controller in remote operation, for the bench tests of remote
// audio: its EXT IO link and its USB CAT port, on one station.
#pragma once

#include <memory>
#include <string>

#include "sim/bench_root.h"
#include "sim/cat_port_sim.h"
#include "sim/extio_sim.h"
#include "sim/station.h"

namespace corvid::bench::test {

struct RemoteTransceiver {
  explicit RemoteTransceiver(const BenchRoot& root)
      : extIo({.root = root.dir(),
               .port = "/dev/VORNSER",
               .watchFaultsFile = false,
               .cycleMs = 100,
               .station = station}),
        cat({.root = root.dir(),
             .port = "/dev/ttyUSB0",
             .silentPort = {},
             .watchFaultsFile = false,
             .station = station}) {}
  bool start(std::string& error) { return extIo.start(error) && cat.start(error); }

  std::shared_ptr<Station> station = std::make_shared<Station>();  // first: the others share it
  ExtIoSimulator extIo;
  CatPortSimulator cat;
};

}  // namespace corvid::bench::test

// The GPIO thread as it runs in the controller, against a GPIO block file and the
// power controller's model: key 1 held past the long-press time arms the power-off (as
// the key decoder does), and only after its release does the power-off command 0x85 go
// out, again every 1.5 s, through the priority slot of the link. Real time throughout:
// the thread's 2 ms passes and 200-pass slots are what is checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "core/works.h"
#include "sim/bench_root.h"
#include "sim/gpio_keys.h"
#include "tests/unit/test_support.h"
#include "ui/gpio.h"

namespace corvid {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::LogCatcher;
using testing::TempRoot;

// What the key decoder does with a long press of key 1.
int armPowerOff(Works& works, int key, int held) {
  if (key == 1 && held != 0) works.ui.shutdownState = 1;
  return 0;
}

// The command bytes of the power controller's log, in order.
std::vector<std::string> commandsOf(const std::filesystem::path& log) {
  std::vector<std::string> commands;
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);) {
    if (line.size() == 5) commands.push_back(line.substr(0, 2));  // "85 02"
  }
  return commands;
}

size_t countOf(const std::vector<std::string>& commands, const std::string& command) {
  return static_cast<size_t>(std::count(commands.begin(), commands.end(), command));
}

TEST(PanelGpio, KeyOneLongPressSendsPowerOffRepeatedlyAfterRelease) {
  TempRoot root;
  LogCatcher log;
  std::filesystem::create_directories(root.path("/dev"));
  std::filesystem::create_directories(root.path("/var/log"));
  {
    std::vector<char> block(bench::kGpioBlockBytes, 0);
    const uint32_t levels = bench::kKeysReleased;
    std::memcpy(block.data() + bench::kGpioLevelOffset, &levels, sizeof levels);
    std::ofstream(root.path("/dev/mem"), std::ios::binary)
        .write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  const std::filesystem::path controllerLog = root.path("/var/log/power-controller.log");
  auto works = std::make_unique<Works>();
  InitGlobalVar(*works);  // TIME_LONG_PRESS 0.5 s; the first exchange is 0xB0
  bench::GpioKeys keys(root.path("/dev/mem"));
  ASSERT_TRUE(keys.ok()) << keys.error();

  std::thread gpio([&] { runGpio(*works, &armPowerOff); });
  const auto stop = [&] {
    works->core.running = 0;
    if (gpio.joinable()) gpio.join();
  };

  keys.set(1, true);
  bool armed = false;
  for (auto until = Clock::now() + 5s; Clock::now() < until && !armed;) {
    armed = works->ui.shutdownState.load() == 1;
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(armed) << "the long press did not arm the power-off";
  // Held on: nothing is sent while the key is down, however long.
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(works->ui.shutdownState, 1);
  EXPECT_EQ(countOf(commandsOf(controllerLog), "85"), 0u) << "power-off sent with key 1 held";

  keys.set(1, false);
  const auto released = Clock::now();
  // The release is taken after debouncing, the state moves on 0.3 s later, the command
  // is handed over 1.5 s after that and goes out at the next slot (at most 200 passes):
  // the first send about 2 s after the release, then one every 1.5 s, give or take a
  // slot.
  std::vector<double> sends;  // seconds after the release
  size_t seen = 0;
  while (Clock::now() - released < 6s) {
    const size_t now = countOf(commandsOf(controllerLog), "85");
    for (; seen < now; ++seen) {
      sends.push_back(std::chrono::duration<double>(Clock::now() - released).count());
    }
    std::this_thread::sleep_for(10ms);
  }
  stop();

  EXPECT_EQ(works->ui.shutdownState, 3);
  ASSERT_GE(sends.size(), 2u) << "the power-off command is repeated every 1.5 s";
  EXPECT_GT(sends[0], 1.7);
  EXPECT_LT(sends[0], 3.5);
  for (size_t i = 1; i < sends.size(); ++i) {
    EXPECT_GT(sends[i] - sends[i - 1], 1.2) << i;
    EXPECT_LT(sends[i] - sends[i - 1], 2.6) << i;
  }
  EXPECT_TRUE(log.contains("SHUT DOWN> SEND TINY CMD\n"));
  EXPECT_TRUE(log.contains("CMD TINY PRIORITY 85\n"));
  // Every exchange is logged with the model's reply: the power-off one with the status.
  const std::vector<std::string> commands = commandsOf(controllerLog);
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands.front(), "B0");
}

}  // namespace
}  // namespace corvid

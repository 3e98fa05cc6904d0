// The thread set: flags, bodies, start and join order, the start-up countdown, the
// power-controller mailbox and the remote switch.
#include "core/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "core/settings.h"
#include "core/works.h"
#include "tests/unit/test_support.h"

namespace corvid {
namespace {

using testing::InstantSleep;
using testing::LogCatcher;
using testing::TempRoot;

// A body that runs until running falls to 0.
void untilStopped(Works& works) {
  while (works.core.running.load() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Stands in for the GPIO thread's side of the mailbox: takes each command and counts it.
std::atomic<int> gCommandsTaken{0};
std::atomic<int> gLastCommand{0};
void mailboxReader(Works& works) {
  while (works.core.running.load() != 0) {
    if (const int code = works.core.tinyCommand.load(); code != 0) {
      gLastCommand = code;
      ++gCommandsTaken;
      works.core.tinyStatus = 0x42;
      works.core.tinyCommand = 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

class ThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    initSetup(works());
    gCommandsTaken = 0;
    gLastCommand = 0;
  }
  void TearDown() override {
    works().core.running = 0;
    joinThreads(works());
    for (ThreadId id : {ThreadId::LoadThread, ThreadId::LANInfoThread, ThreadId::AggFWThread}) {
      works().core.threads.join(id);
    }
  }
  Works& works() { return *works_; }

  TempRoot root;
  LogCatcher log;
  std::unique_ptr<Works> works_ = std::make_unique<Works>();
};

TEST_F(ThreadsTest, AThreadStartsOnlyWithItsFlagAndABody) {
  works().set.text.setFlag(Slot::EnableLinear, '1');
  EXPECT_FALSE(startTableThread(works(), ThreadId::Linear)) << "no body: nothing starts";
  works().core.threads.setBody(ThreadId::Linear, &untilStopped);
  works().set.text.setFlag(Slot::EnableLinear, '0');
  EXPECT_FALSE(startTableThread(works(), ThreadId::Linear));
  works().set.text.setFlag(Slot::EnableLinear, '1');
  EXPECT_TRUE(startTableThread(works(), ThreadId::Linear));
  EXPECT_FALSE(startTableThread(works(), ThreadId::Linear)) << "never twice at once";
  // Unconditional threads need no flag.
  works().core.threads.setBody(ThreadId::AggFWThread, &untilStopped);
  EXPECT_TRUE(startTableThread(works(), ThreadId::AggFWThread));
}

TEST_F(ThreadsTest, JoinsFollowTheShutdownOrderWithTheirMessages) {
  SetupText& text = works().set.text;
  for (Slot flag : {Slot::EnableKeyb, Slot::EnableFFT, Slot::EnableRead, Slot::EnableWrite,
                    Slot::WebSocket, Slot::EnableCAT, Slot::catSerialEnable, Slot::extIoEnable,
                    Slot::EnableLinear, Slot::EnableTime, Slot::EnableGPIO}) {
    text.setFlag(flag, '1');
  }
  for (const ThreadRow& row : kThreadTable) {
    if (row.flag == Slot::None) continue;
    works().core.threads.setBody(row.id, &untilStopped);
    EXPECT_TRUE(startTableThread(works(), row.id)) << row.name;
  }
  EXPECT_TRUE(log.contains(">>>>>>>>>> SOCKET SERVER start"));
  EXPECT_TRUE(log.contains("PEXread start"));
  EXPECT_TRUE(log.contains("Th_scrivi start"));
  EXPECT_TRUE(log.contains("Th_leggi start"));
  EXPECT_TRUE(log.contains("Cat.c start"));
  // A thread whose flag went down meanwhile is joined all the same.
  text.setFlag(Slot::EnableCAT, '0');

  works().core.running = 0;
  joinThreads(works());
  int at = 0;
  for (const char* message :
       {"joined Key end", "joined FFT end", "joined Touch end", "joined Spi end",
        "joined Wsocket end", "joined Cat end", "joined CatSerial end", "joined Serial end",
        "joined Linear end", "joined Time end", "joined GPIO end"}) {
    const int found = log.find(std::string("Communicator ") + message, at);
    ASSERT_GE(found, at) << message << " out of order";
    at = found + 1;
  }
  for (const ThreadRow& row : kThreadTable) EXPECT_FALSE(works().core.threads.started(row.id));
}

// The threads that are never waited for are cleaned up at the end if they have ended, and
// a shutdown never waits for one that runs on.
TEST_F(ThreadsTest, NeverJoinedThreadsAreReapedOnlyWhenEnded) {
  static std::atomic<bool> release;
  release = false;
  works().core.threads.setBody(ThreadId::LoadThread, [](Works&) {});
  works().core.threads.setBody(ThreadId::AggFWThread, [](Works&) {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  ASSERT_TRUE(startTableThread(works(), ThreadId::LoadThread));
  ASSERT_TRUE(startTableThread(works(), ThreadId::AggFWThread));
  // LoadThread ends at once: a shutdown soon finds it ended.
  for (int i = 0; i < 5000 && works().core.threads.started(ThreadId::LoadThread); ++i) {
    joinThreads(works());
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_FALSE(works().core.threads.started(ThreadId::LoadThread));
  EXPECT_TRUE(works().core.threads.started(ThreadId::AggFWThread)) << "not waited for";
  release = true;
  EXPECT_TRUE(works().core.threads.join(ThreadId::AggFWThread));
}

TEST_F(ThreadsTest, CountdownSendsTheLoaderCodeOnceAtFive) {
  InstantSleep instant;
  works().set.text.setFlag(Slot::EnableGPIO, '1');
  works().core.threads.setBody(ThreadId::GPIO, &mailboxReader);
  ASSERT_TRUE(startTableThread(works(), ThreadId::GPIO));
  works().core.threads.setBody(ThreadId::LoadThread, &LoadThread);
  works().core.waitPEX = 10;
  works().core.startInitThread = 1;
  ASSERT_TRUE(startTableThread(works(), ThreadId::LoadThread));
  // Let it count well past zero, then end the countdown.
  while (log.find("Time Loading ...-3..") < 0) std::this_thread::yield();
  works().core.startInitThread = 0;
  works().core.threads.join(ThreadId::LoadThread);

  EXPECT_EQ(works().core.initDone, 1);
  int at = 0;
  for (const char* step : {"Time Loading ...10..", "Time Loading ... 9..", "Time Loading ... 5..",
                           "Time Loading ... 1..", "Time Loading ... 0.."}) {
    const int found = log.find(step, at);
    ASSERT_GE(found, at) << step;
    at = found + 1;
  }
  EXPECT_EQ(gCommandsTaken, 2) << "code 181 once, handed over twice";
  EXPECT_EQ(gLastCommand, 181);
  EXPECT_LT(log.find("CmandoTinyconAttesaStato stato: ...42"), log.find("Time Loading ... 5.."));
  EXPECT_GT(log.find("CmandoTinyconAttesaStato stato: ...42"), log.find("Time Loading ... 6.."));
}

TEST_F(ThreadsTest, MailboxNeverWaitsForAMissingGpioThread) {
  // Without the GPIO thread no one would ever empty the mailbox.
  CmandoTinyconAttesaStato(works(), TinyCode::Started);
  EXPECT_EQ(works().core.tinyCommand, 0);
  EXPECT_TRUE(log.contains("power controller did not take command 197"));
}

TEST_F(ThreadsTest, RemoteSwitchRaisesAndDropsTheRemoteFlags) {
  InstantSleep instant;
  static std::atomic<int> deleted;
  deleted = 0;
  works().core.hooks.DeleteErrore = [](Works&, Err error) { deleted += errorNumber(error); };
  for (ThreadId id : {ThreadId::th_scrivi, ThreadId::th_leggi, ThreadId::Cat, ThreadId::PEXRead}) {
    works().core.threads.setBody(id, [](Works& w) {
      // Ends once remote operation stops, as the remote threads do.
      while (w.set.text.on(Slot::EnableCAT) && w.core.running.load() != 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }
  ExitThreadRemote(works());
  EXPECT_EQ(deleted, 9 + 10 + 5 + 20);
  EXPECT_TRUE(log.contains(">>>>>>>>>>>>>>>>>>>>>>>>> REMOTE STOP "));
  std::string text = root.read("/opt/set/setup.txt");
  EXPECT_NE(text.find("EnableRead: 0\nEnableWrite: 0\nEnableCAT: 0\n"), std::string::npos);

  works().core.remoteRestartRequest = 1;
  StartThreadCommRemote(works());
  EXPECT_EQ(works().core.remoteRestartRequest, 0);
  for (ThreadId id : {ThreadId::th_scrivi, ThreadId::th_leggi, ThreadId::Cat, ThreadId::PEXRead}) {
    EXPECT_TRUE(works().core.threads.started(id)) << threadRow(id).name;
  }
  EXPECT_LT(log.find("Th_scrivi start"), log.find("Th_leggi start"));
  EXPECT_LT(log.find("Th_leggi start"), log.find("Cat.c start"));
  text = root.read("/opt/set/setup.txt");
  EXPECT_NE(text.find("EnableRead: 1\nEnableWrite: 1\nEnableCAT: 1\n"), std::string::npos);
  EXPECT_NE(text.find("EnableFFT: 1\n"), std::string::npos);

  // Stop and start again: the old threads are waited for, never doubled.
  ExitThreadRemote(works());
  StartThreadCommRemote(works());
  EXPECT_TRUE(works().core.threads.started(ThreadId::Cat));
}

}  // namespace
}  // namespace corvid

// The root, shell commands, line reading, atomic replacement, the /opt/set window and the
// signal set-up.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/command.h"
#include "platform/files.h"
#include "platform/root.h"
#include "platform/signals.h"
#include "tests/unit/test_support.h"

namespace corvid {
namespace {

namespace fs = std::filesystem;
using testing::LogCatcher;
using testing::TempRoot;

TEST(Root, MapsAbsolutePathsOnlyUnderARoot) {
  platform::setRoot("");
  EXPECT_EQ(platform::hostPath("/opt/set/setup.txt"), "/opt/set/setup.txt");
  EXPECT_EQ(platform::hostCommand("rm /opt/set/info.txt"), "rm /opt/set/info.txt");

  platform::setRoot("/r/");
  EXPECT_EQ(platform::hostPath("/opt/set/setup.txt"), "/r/opt/set/setup.txt");
  EXPECT_EQ(platform::hostPath("start.png"), "start.png");  // relative stays relative
  EXPECT_EQ(platform::hostPath("/dev/null"), "/dev/null");
  EXPECT_EQ(platform::commandSearchPath(),
            "/r/usr/local/bin:/r/usr/bin:/r/bin:/r/usr/sbin:/r/sbin");
  platform::setRoot("");
}

TEST(Root, MapsEveryPathWordOfACommandLine) {
  platform::setRoot("/r");
  EXPECT_EQ(platform::hostCommand("mount -o remount defaults,rw /opt/set"),
            "mount -o remount defaults,rw /r/opt/set");
  EXPECT_EQ(platform::hostCommand("/usr/bin/fbgrab /tmp/screen.png >/dev/null 2>&1 </dev/null"),
            "/r/usr/bin/fbgrab /r/tmp/screen.png >/dev/null 2>&1 </dev/null");
  EXPECT_EQ(platform::hostCommand("lsusb|grep 0d8c:01af |wc -l"), "lsusb|grep 0d8c:01af |wc -l");
  EXPECT_EQ(platform::hostCommand("sudo ifdown eth0;/sbin/reboot"),
            "sudo ifdown eth0;/r/sbin/reboot");
  EXPECT_EQ(platform::hostCommand("cp \"/opt/a b\" x=/tmp/y"), "cp \"/r/opt/a b\" x=/r/tmp/y");
  // A slash inside a word is not the start of a path.
  EXPECT_EQ(platform::hostCommand("echo a/b 1/2"), "echo a/b 1/2");
  platform::setRoot("");
}

TEST(Command, RunsOnlyWhatTheRootProvides) {
  TempRoot root;
  // The host's programs are not reachable: no host mount, no host ls.
  EXPECT_EQ(platform::runCommand("ls /").exitCode, 127);
  // The absolute path in the command line lands under the root.
  root.addProgram("hello", "echo hello > \"$1\"\n");
  const platform::CommandStatus status = platform::runCommand("hello /opt/set/out.txt");
  EXPECT_TRUE(status.ok());
  EXPECT_EQ(root.read("/opt/set/out.txt"), "hello\n");
  root.addProgram("fail", "exit 3\n");
  EXPECT_EQ(platform::runCommand("fail").errorCode(), 3);
}

TEST(Command, PipeReadsLinesAndCutsLongOnes) {
  TempRoot root;
  root.addProgram("two", "echo 45\necho \"temp=47.2'C\"\nprintf 'tail-without-newline'\n");
  auto pipe = platform::CommandPipe::start("two");
  ASSERT_TRUE(pipe.has_value());
  std::string line;
  ASSERT_TRUE(pipe->readLine(line, 200));
  EXPECT_EQ(line, "45");
  ASSERT_TRUE(pipe->readLine(line, 6));
  EXPECT_EQ(line, "temp=4");  // cut, and the rest of that line is gone
  ASSERT_TRUE(pipe->readLine(line, 200));
  EXPECT_EQ(line, "tail-without-newline");
  EXPECT_FALSE(pipe->readLine(line, 200));
  EXPECT_TRUE(pipe->close().ok());
}

// The bench preloads ThreadSanitizer's runtime before umockdev's library into a controller
// of that build; the shell of every command would crash with it. Under a root it is left
// out of the commands' LD_PRELOAD (the rest kept); without one the list goes on as it is.
TEST(Command, UnderARootThreadSanitizersPreloadedRuntimeIsNotHandedOn) {
  const char* old = std::getenv("LD_PRELOAD");
  const std::string saved = old != nullptr ? old : "";
  const auto preloadSeen = [](const char* list) {
    ::setenv("LD_PRELOAD", list, 1);
    auto pipe = platform::CommandPipe::start("show-preload");
    std::string line;
    if (!pipe || !pipe->readLine(line, 500)) line = "(no output)";
    if (pipe) pipe->close();
    return line;
  };
  {
    TempRoot root;
    root.addProgram("show-preload", "printf '%s\\n' \"${LD_PRELOAD-unset}\"\n");
    // Paths that do not exist: the dynamic loader names each and goes on without it.
    EXPECT_EQ(preloadSeen("/nowhere/libtsan.so.2:/nowhere/libkeep-preload.so.0"),
              "/nowhere/libkeep-preload.so.0");
    EXPECT_EQ(preloadSeen("/nowhere/libkeep-preload.so.0 /nowhere/libtsan.so"),
              "/nowhere/libkeep-preload.so.0");
    EXPECT_EQ(preloadSeen("/nowhere/libtsan.so.2"), "unset");
    EXPECT_EQ(preloadSeen("/nowhere/libasan.so.8:/nowhere/libkeep-preload.so.0"),
              "/nowhere/libasan.so.8:/nowhere/libkeep-preload.so.0");
  }
  if (old != nullptr) {
    ::setenv("LD_PRELOAD", saved.c_str(), 1);
  } else {
    ::unsetenv("LD_PRELOAD");
  }
}

TEST(LineReader, CutsOverlongLinesWithoutSpillingTheRest) {
  TempRoot root;
  const std::string longLine = std::string(150, 'x') + "EnableGPIO: 0";
  root.write("/opt/set/t.txt", "a\r\n" + longLine + "\nlast");
  platform::LineReader reader;
  ASSERT_TRUE(reader.open("/opt/set/t.txt"));
  std::string line;
  bool overlong = false;
  ASSERT_TRUE(reader.next(line, 99, &overlong));
  platform::stripLineEnd(line);
  EXPECT_EQ(line, "a");
  EXPECT_FALSE(overlong);
  ASSERT_TRUE(reader.next(line, 99, &overlong));
  EXPECT_EQ(line, std::string(99, 'x'));
  EXPECT_TRUE(overlong);
  ASSERT_TRUE(reader.next(line, 99, &overlong));
  EXPECT_EQ(line, "last");  // the tail of the long line never comes back as a line
  EXPECT_FALSE(reader.next(line, 99));
}

TEST(ReplaceFile, ReplacesWholeAndLeavesNoTemporaryFile) {
  TempRoot root;
  root.write("/opt/set/f.txt", "old content that is longer than the new one\n");
  ASSERT_EQ(platform::replaceFileAtomically("/opt/set/f.txt", "new\n"), 0);
  EXPECT_EQ(root.read("/opt/set/f.txt"), "new\n");
  int files = 0;
  for (const auto& entry : fs::directory_iterator(root.path("/opt/set"))) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

// What a power cut in the middle of a rewrite leaves behind (its temporary file) goes
// with the next rewrite of that file; other files' and look-alike names stay.
TEST(ReplaceFile, TheNextRewriteRemovesATemporaryFileACutLeft) {
  TempRoot root;
  root.write("/opt/set/setup.txt", "old\n");
  for (const char* left : {"/opt/set/setup.txt.a1B2c3", "/opt/set/setup.txt.Zz9900",
                           "/opt/set/antenna.txt.a1B2c3", "/opt/set/setup.txt.bak",
                           "/opt/set/setup.txt.a1B2c3d", "/opt/set/setup.txt.a1-2c3"}) {
    root.write(left, "torn");
  }
  ASSERT_EQ(platform::replaceFileAtomically("/opt/set/setup.txt", "new\n"), 0);
  EXPECT_EQ(root.read("/opt/set/setup.txt"), "new\n");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(root.path("/opt/set"))) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"antenna.txt.a1B2c3", "setup.txt",
                                             "setup.txt.a1-2c3", "setup.txt.a1B2c3d",
                                             "setup.txt.bak"}));
}

TEST(ReplaceFile, AFailedWriteKeepsTheOldFile) {
  TempRoot root;
  root.write("/opt/set/f.txt", "old\n");
  // A file size limit stands in for a full disk: the write fails half-way.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  auto* previous = signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 64;
  setrlimit(RLIMIT_FSIZE, &small);
  const int err = platform::replaceFileAtomically("/opt/set/f.txt", std::string(4096, 'n'));
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_NE(err, 0);
  EXPECT_EQ(root.read("/opt/set/f.txt"), "old\n");
  int files = 0;
  for (const auto& entry : fs::directory_iterator(root.path("/opt/set"))) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1) << "the temporary file must be removed";

  // A folder that does not exist cannot be written, and says so.
  EXPECT_NE(platform::replaceFileAtomically("/opt/none/f.txt", "x"), 0);
}

TEST(SetWriteWindow, RemountsReadWriteThenReadOnly) {
  TempRoot root;
  {
    platform::SetWriteWindow window;
    EXPECT_TRUE(window.writable());
  }
  EXPECT_EQ(root.calls(), (std::vector<std::string>{
                              "mount -o remount defaults,rw DIR/opt/set",
                              "mount -v -n -o remount -r DIR/opt/set",
                          }));
}

TEST(SetWriteWindow, ReportsFailedRemounts) {
  TempRoot root;
  LogCatcher log;
  root.failMount("rw");
  {
    platform::SetWriteWindow window;
    EXPECT_FALSE(window.writable());
  }
  EXPECT_TRUE(log.contains("can't mount rw /opt/set/ error 1"));
  EXPECT_EQ(root.calls().size(), 1u) << "no read-only remount after a failed read-write one";

  fs::remove(root.dir() / "fail-mount-rw");
  root.failMount("ro");
  { platform::SetWriteWindow window; }
  EXPECT_TRUE(log.contains("can't mount ro /opt/set/ error 1"));
}

TEST(SetWriteWindow, WithoutAMountProgramNothingIsWritable) {
  TempRoot root;
  LogCatcher log;
  fs::remove(root.dir() / "bin/mount");
  platform::SetWriteWindow window;
  EXPECT_FALSE(window.writable());
  EXPECT_TRUE(log.contains("can't mount rw /opt/set/ error 127"));
}

TEST(Files, OpenForReadingMapsAbsolutePathsAndLeavesRelativeOnes) {
  TempRoot root;
  root.write("/opt/set/a.txt", "under the root");
  const fs::path relative = fs::path("corvid-relative-" + std::to_string(::getpid()) + ".txt");
  std::ofstream(relative) << "in the working folder";
  auto contents = [](platform::File file) {
    std::string text(64, '\0');
    text.resize(file ? std::fread(text.data(), 1, text.size(), file.get()) : 0);
    return text;
  };
  EXPECT_EQ(contents(platform::openForReading("/opt/set/a.txt")), "under the root");
  EXPECT_EQ(contents(platform::openForReading(relative.string())), "in the working folder");
  EXPECT_FALSE(platform::openForReading("/opt/set/missing.txt"));
  fs::remove(relative);
}

// How a process that met SIGSEGV ended: killed by it, or, in a sanitizer build, by the
// sanitizer's own handler, which reports the signal and exits with its code.
bool endedBySegmentationFault(int status) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  if (WIFEXITED(status)) return WEXITSTATUS(status) == 1 || WEXITSTATUS(status) == 66;
#endif
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV;
}

// What a fault signal does must not change: a handler that returned from one would run
// the faulting instruction again for ever. The stray ones get a handler that does nothing.
TEST(Signals, FaultSignalsKeepTheirActionAndStrayOnesAreIgnored) {
  const std::vector<int> kept = {SIGSEGV, SIGBUS, SIGFPE,  SIGILL,  SIGTRAP, SIGSYS,
                                 SIGABRT, SIGINT, SIGTERM, SIGCHLD, SIGIO};
  const std::vector<int> ignored = {SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM,
                                    SIGTSTP, SIGTTIN, SIGTTOU, SIGURG,  SIGXCPU, SIGWINCH};
  for (int signal : kept) EXPECT_TRUE(platform::keepsDefaultAction(signal)) << signal;
  for (int signal : ignored) EXPECT_FALSE(platform::keepsDefaultAction(signal)) << signal;

  // In a child, so that this process keeps its own signal set-up.
  EXPECT_EXIT(
      {
        struct sigaction before[32] = {};
        for (int signal : kept) sigaction(signal, nullptr, &before[signal]);
        platform::ignoreStraySignals();
        for (int signal : kept) {
          struct sigaction after {};
          sigaction(signal, nullptr, &after);
          if (after.sa_handler != before[signal].sa_handler) std::_Exit(100 + signal);
        }
        for (int signal : ignored) {
          struct sigaction after {};
          sigaction(signal, nullptr, &after);
          if (after.sa_handler == SIG_DFL || after.sa_handler == SIG_IGN) std::_Exit(150 + signal);
        }
        ::raise(SIGHUP);  // ignored: goes on
        ::raise(SIGPIPE);
        ::raise(SIGSEGV);
        std::_Exit(99);  // not reached: the fault signal ends the process
      },
      endedBySegmentationFault,
      "");
}

}  // namespace
}  // namespace corvid

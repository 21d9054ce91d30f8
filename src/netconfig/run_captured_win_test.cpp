// The captured runner and the wait routine against the real system: cmd.exe, pipes, timers and
// the thread's message queue.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "netconfig/netconfig.h"
#include "netconfig/wait_interval_fallback.h"
#include "runtime/system.h"
#include "runtime/win32_handle.h"

namespace ipmod {
namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Ends the test program when a run hangs instead of letting it block the whole test.
class Watchdog {
 public:
  explicit Watchdog(const char* what, int seconds = 120)
      : thread_([this, what, seconds] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!done_.wait_for(lock, std::chrono::seconds(seconds), [this] { return over_; })) {
            std::fprintf(stderr, "%s did not end within %d s\n", what, seconds);
            std::fflush(stderr);
            std::_Exit(3);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      over_ = true;
    }
    done_.notify_one();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool over_ = false;
  std::thread thread_;
};

CapturedRun Captured(const Text& command) {
  Watchdog watchdog(command.c_str());
  return SystemCommandRunner().RunCaptured(command);
}

Text ProgramDirectory() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  Text directory(path, length);
  return directory.substr(0, directory.find_last_of('\\'));
}

Text ChildPath() { return ProgramDirectory() + "\\netconfig_test_child.exe"; }

// The child started through the interpreter with `arguments`.
Text Child(const Text& arguments) { return "\"" + ChildPath() + "\" " + arguments; }

TEST(RunCapturedTest, EmptyOutputOnceTheInterpreterHasEnded) {
  const CapturedRun run = Captured("rem nothing to say");
  EXPECT_TRUE(run.started);
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(run.exitCode, 0u);
}

TEST(RunCapturedTest, ExitCodesComeBack) {
  const struct {
    Text command;
    uint32_t exitCode;
  } cases[] = {
      {"exit 3", 3},
      {Child("exit 7"), 7},
      // STILL_ACTIVE as an exit code: the run must still end.
      {"exit /b 259", 259},
      {"netconfig-no-such-command-here", 9009},
  };
  for (const auto& c : cases) {
    const CapturedRun run = Captured(c.command);
    EXPECT_TRUE(run.started) << c.command;
    EXPECT_EQ(run.exitCode, c.exitCode) << c.command << ": " << run.output;
  }
}

TEST(RunCapturedTest, PiecesAreJoinedInArrivalOrderWithStandardErrorInterleaved) {
  const CapturedRun run = Captured(Child("pieces 60 o:one o:two e:three o:four e:five"));
  EXPECT_EQ(run.output, "onetwothreefourfive");
  EXPECT_EQ(run.exitCode, 0u);

  const CapturedRun echoed = Captured("echo out& echo err 1>&2& echo again");
  EXPECT_EQ(echoed.output, "out\r\nerr \r\nagain\r\n");
}

TEST(RunCapturedTest, CommandReachesTheInterpreterUnchanged) {
  const struct {
    Text command;
    Text output;
  } cases[] = {
      {"echo \"a  b\"   c", "\"a  b\"   c\r\n"},
      {"echo 确定", "确定\r\n"},
      {"echo x& echo y", "x\r\ny\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(Captured(c.command).output, c.output) << c.command;
}

TEST(RunCapturedTest, MoreThanThePipeHoldsArrivesWhole) {
  const int kLines = 5000;
  Text expected;
  for (int i = 1; i <= kLines; ++i) expected += "line " + std::to_string(i) + "\r\n";
  const CapturedRun run = Captured(Child("lines " + std::to_string(kLines)));
  EXPECT_EQ(run.output.size(), expected.size());
  EXPECT_TRUE(run.output == expected) << "output differs from the numbered lines";
}

TEST(RunCapturedTest, OutputWrittenRightBeforeTheEndIsKept) {
  for (int i = 0; i < 5; ++i) {
    const CapturedRun run = Captured(Child("exit 4 last-words"));
    EXPECT_EQ(run.output, "last-words") << "run " << i;
    EXPECT_EQ(run.exitCode, 4u) << "run " << i;
  }
}

TEST(RunCapturedTest, AZeroByteEndsThePieceItIsIn) {
  EXPECT_EQ(Captured(Child("zero")).output, "abef");
}

TEST(RunCapturedTest, TheCommandGetsNoStandardInput) {
  // Our own standard input has a byte waiting; the command must not see it.
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  ScopedHandle readEnd;
  ScopedHandle writeEnd;
  ASSERT_TRUE(CreatePipe(readEnd.receive(), writeEnd.receive(), &inheritable, 0));
  DWORD written = 0;
  WriteFile(writeEnd.get(), "x", 1, &written, nullptr);
  const HANDLE previous = GetStdHandle(STD_INPUT_HANDLE);
  SetStdHandle(STD_INPUT_HANDLE, readEnd.get());
  const CapturedRun run = Captured(Child("stdin"));
  SetStdHandle(STD_INPUT_HANDLE, previous);
  EXPECT_EQ(run.output, "stdin: nothing");
}

TEST(RunCapturedTest, RunsInTheSystemDirectory) {
  const Text systemDirectory = SystemDirectory();
  ASSERT_FALSE(systemDirectory.empty());
  const CapturedRun run = Captured("cd");
  EXPECT_EQ(lstrcmpiA(run.output.c_str(), (systemDirectory + "\r\n").c_str()), 0)
      << run.output << " is not " << systemDirectory;
}

// The interpreter and what it starts look for programs with an environment of their own: PATH
// begins with the system directory and nothing stops the search there, whatever this program has.
TEST(RunCapturedTest, TheInterpreterSearchesTheSystemDirectoryFirst) {
  char ownPath[32768];
  const DWORD ownLength = GetEnvironmentVariableA("PATH", ownPath, sizeof ownPath);
  ASSERT_GT(ownLength, 0u);
  ASSERT_LT(ownLength, sizeof ownPath);
  ASSERT_TRUE(SetEnvironmentVariableA("NoDefaultCurrentDirectoryInExePath", "1"));
  ASSERT_TRUE(SetEnvironmentVariableA("NETCONFIG_KEPT", "kept \xB1\xBE\xB5\xD8"));
  // Once directly, once through the inner interpreter of the DNS command.
  for (const Text& command : {Child("env"), "cmd /c " + Child("env")}) {
    const CapturedRun run = Captured(command);
    EXPECT_EQ(run.exitCode, 0u) << command << ": " << run.output;
    const Text expectedPath = "PATH=" + SystemDirectory() + ";" + Text(ownPath, ownLength) + "\r\n";
    EXPECT_EQ(lstrcmpiA(run.output.substr(0, expectedPath.size()).c_str(), expectedPath.c_str()), 0)
        << command << ": " << run.output;
    EXPECT_NE(run.output.find("NoDefaultCurrentDirectoryInExePath: unset"), Text::npos)
        << command << ": " << run.output;
  }
  // Every other variable reaches the interpreter unchanged.
  EXPECT_EQ(Captured("echo.%NETCONFIG_KEPT%").output, "kept \xB1\xBE\xB5\xD8\r\n");
  SetEnvironmentVariableA("NoDefaultCurrentDirectoryInExePath", nullptr);
  SetEnvironmentVariableA("NETCONFIG_KEPT", nullptr);
}

// A value holding a character outside the system's code page (Thai ก, U+0E01, beside a Chinese
// one GBK holds) reaches the interpreter and what it starts as it is, not as "?".
TEST(RunCapturedTest, EveryCharacterOfTheEnvironmentReachesTheInterpreter) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"NETCONFIG_WIDE", L"\u0E01 \u672C x"));
  for (const Text& command :
       {Child("wide NETCONFIG_WIDE"), "cmd /c " + Child("wide NETCONFIG_WIDE")}) {
    const CapturedRun run = Captured(command);
    EXPECT_EQ(run.output, "0e01 0020 672c 0020 0078") << command;
    EXPECT_EQ(run.exitCode, 0u) << command << ": " << run.output;
  }
  SetEnvironmentVariableW(L"NETCONFIG_WIDE", nullptr);
}

// Reads a whole file; empty when there is none.
Text ReadWholeFile(const Text& path) {
  Text text;
  const ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return text;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
    text.append(buffer, read);
  }
  return text;
}

void WriteWholeFile(const Text& path, const Text& bytes) {
  const ScopedHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file) << path;
  DWORD written = 0;
  WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// Copies of the child named cmd.exe and netsh.exe beside this program and in a fresh current
// directory; all of them go again when the test ends.
class PlantedPrograms {
 public:
  PlantedPrograms() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    directory_ = Text(temp) + "netconfig-planted-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(directory_.c_str(), nullptr);
    log_ = directory_ + "\\planted.log";
    DeleteFileA(log_.c_str());
    SetEnvironmentVariableA("NETCONFIG_PLANTED_LOG", log_.c_str());
    char current[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    previousDirectory_ = current;
    for (const Text& place : {ProgramDirectory(), directory_}) {
      for (const char* name : {"\\cmd.exe", "\\netsh.exe"}) {
        const Text copy = place + name;
        if (CopyFileA(ChildPath().c_str(), copy.c_str(), FALSE)) {
          copies_[count_++] = copy;
        } else {
          ADD_FAILURE() << "could not plant " << copy;
        }
      }
    }
    SetCurrentDirectoryA(directory_.c_str());
  }

  ~PlantedPrograms() {
    SetCurrentDirectoryA(previousDirectory_.c_str());
    SetEnvironmentVariableA("NETCONFIG_PLANTED_LOG", nullptr);
    for (int i = 0; i < count_; ++i) DeleteFileA(copies_[i].c_str());
    DeleteFileA(log_.c_str());
    RemoveDirectoryA(directory_.c_str());
  }

  // What the planted programs have logged, and forget it.
  Text TakeLog() {
    const Text text = ReadWholeFile(log_);
    DeleteFileA(log_.c_str());
    return text;
  }

 private:
  Text directory_;
  Text log_;
  Text previousDirectory_;
  Text copies_[4];
  int count_ = 0;
};

// Starts a command line the way a bare CreateProcessA does and waits for it.
void StartBare(const Text& application, Text line) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created{};
  if (!CreateProcessA(application.empty() ? nullptr : application.c_str(), line.data(), nullptr,
                      nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &created)) {
    ADD_FAILURE() << "could not start " << line;
    return;
  }
  const ScopedHandle process(created.hProcess);
  const ScopedHandle thread(created.hThread);
  WaitForSingleObject(process.get(), 30000);
}

TEST(RunCapturedTest, PlantedCmdAndNetshAreNeverRun) {
  PlantedPrograms planted;

  // The plants work: a bare "cmd.exe" is taken from beside this program, and cmd takes a bare
  // "netsh" from its current directory.
  StartBare("", "cmd.exe /c exit 0");
  EXPECT_NE(planted.TakeLog(), "") << "the planted cmd.exe was not picked up by a bare start";
  StartBare(SystemDirectory() + "\\cmd.exe", "cmd.exe /c netsh interface ip show config");
  EXPECT_NE(planted.TakeLog(), "") << "the planted netsh.exe was not picked up by cmd";

  for (const Text command : {"netsh interface ip show config",
                             "cmd /c netsh interface ip set dns \"x\" static 192.0.2.53"}) {
    const CapturedRun run = Captured(command);
    EXPECT_TRUE(run.started) << command;
    EXPECT_EQ(planted.TakeLog(), "") << command;
    EXPECT_EQ(run.output.find("planted"), Text::npos) << command << ": " << run.output;
  }
}

// The project's stand-in netsh in place of the system's, logging to a file of its own;
// everything is put back when the test ends. Wine runs it only when WINEDLLOVERRIDES held
// netsh.exe=n when the test program started (CTest sets it).
class InstalledFakeNetsh {
 public:
  InstalledFakeNetsh() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const Text base = Text(temp) + "netconfig-netsh-" + std::to_string(GetCurrentProcessId());
    backup_ = base + ".bak";
    log_ = base + ".log";
    system_ = SystemDirectory() + "\\netsh.exe";
    backedUp_ = CopyFileA(system_.c_str(), backup_.c_str(), FALSE) != FALSE;
    installed_ = backedUp_ && CopyFileA((ProgramDirectory() + "\\fake-netsh.exe").c_str(),
                                        system_.c_str(), FALSE) != FALSE;
    SetEnvironmentVariableA("FAKE_NETSH_LOG", log_.c_str());
  }
  ~InstalledFakeNetsh() {
    for (const char* name :
         {"FAKE_NETSH_LOG", "FAKE_NETSH_EXIT", "FAKE_NETSH_EXIT_1", "FAKE_NETSH_REPLY_2"}) {
      SetEnvironmentVariableA(name, nullptr);
    }
    if (backedUp_) CopyFileA(backup_.c_str(), system_.c_str(), FALSE);
    DeleteFileA(backup_.c_str());
    DeleteFileA(log_.c_str());
  }

  bool installed() const { return installed_; }
  Text Log() const { return ReadWholeFile(log_); }

 private:
  Text system_;
  Text backup_;
  Text log_;
  bool backedUp_ = false;
  bool installed_ = false;
};

// The whole road of the static commands: the composed lines through cmd.exe (twice for DNS) to
// netsh, byte for byte, and the verdict from what netsh printed and its exit code.
TEST(SystemCommandRunnerTest, StaticCommandsReachNetshByteForByte) {
  InstalledFakeNetsh netsh;
  ASSERT_TRUE(netsh.installed());
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const Text reply = Text(temp) + "netconfig-netsh-reply.txt";
  WriteWholeFile(reply, "找不到元素。\r\n\r\n");
  // Call 1 succeeds silently, call 2 fails with a message, call 3 fails without one.
  SetEnvironmentVariableA("FAKE_NETSH_EXIT", "1");
  SetEnvironmentVariableA("FAKE_NETSH_EXIT_1", "0");
  SetEnvironmentVariableA("FAKE_NETSH_REPLY_2", reply.c_str());

  SystemCommandRunner runner;
  ConsoleText failure = "before";
  EXPECT_TRUE(SetStaticAddress(runner, "192.0.2.10", "192.0.2.1", "255.255.255.0", Text("以太网 2"),
                               &failure));
  EXPECT_EQ(failure.Bytes(), "before");
  EXPECT_FALSE(SetStaticDns(runner, "192.0.2.53", Text("以太网 2"), &failure));
  EXPECT_EQ(failure.Bytes(), "找不到元素。\r\n");
  EXPECT_FALSE(SetStaticDns(runner, "192.0.2.53", std::nullopt, &failure));
  EXPECT_EQ(failure.Bytes(), "命令已结束，退出代码为 1，没有输出任何信息。");
  DeleteFileA(reply.c_str());

  EXPECT_EQ(netsh.Log(),
            "netsh interface ip set address \"以太网 2\" static 192.0.2.10 255.255.255.0 "
            "192.0.2.1 1\r\n"
            "netsh interface ip set dns \"以太网 2\" static 192.0.2.53\r\n"
            "netsh interface ip set dns \"本地连接\" static 192.0.2.53\r\n")
      << "an empty log means the system's own netsh ran (WINEDLLOVERRIDES=netsh.exe=n unset?)";
}

// Waits as told with a message posted to this thread, new to its queue, when the wait begins.
// The message must be taken from the queue during the wait, and the wait must go on to its end.
void ExpectWaitWithMessage(const char* what, void (*wait)(), long long shortest) {
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // gives this thread its queue
  while (PeekMessageA(&message, nullptr, WM_APP, WM_APP, PM_REMOVE)) {
  }
  ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0)) << what;
  const auto start = Clock::now();
  {
    Watchdog watchdog(what);
    wait();
  }
  EXPECT_GE(MillisecondsSince(start), shortest) << what << " ended early on a message";
  EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_APP, WM_APP, PM_REMOVE))
      << what << " left the message in the queue";
}

TEST(WaitIntervalTest, WaitsTheIntervalAndDispatchesMessagesMeanwhile) {
  ExpectWaitWithMessage(
      "WaitInterval(60)", [] { EXPECT_TRUE(WaitInterval(60)); }, 55);
  ExpectWaitWithMessage(
      "WaitWithoutTimer(60 ms)", [] { WaitWithoutTimer(DueTime(60, 0)); }, 55);
}

// The longest any of the waits below may take, on a loaded machine: none waits a second.
constexpr long long kCeilingMs = 10000;

TEST(WaitIntervalTest, TakesAboutTheInterval) {
  const struct {
    const char* what;
    void (*wait)();
    long long shortest;
  } cases[] = {
      {"WaitInterval(50)", [] { WaitInterval(50); }, 45},
      {"WaitInterval(1)", [] { WaitInterval(1); }, 0},
      {"WaitInterval(0)", [] { WaitInterval(0); }, 0},
      {"WaitInterval(-1)", [] { WaitInterval(-1); }, 0},  // an absolute time long past
      {"WaitWithoutTimer(50 ms)", [] { WaitWithoutTimer(DueTime(50, std::nullopt)); }, 45},
      {"WaitWithoutTimer(0)", [] { WaitWithoutTimer(0); }, 0},
      {"WaitWithoutTimer(past)", [] { WaitWithoutTimer(10000); }, 0},
      {"WaitWithoutTimer(now + 50 ms)",
       [] {
         FILETIME now;
         GetSystemTimeAsFileTime(&now);
         const int64_t current = static_cast<int64_t>(
             (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
         WaitWithoutTimer(current + 500000);
       },
       45},
  };
  for (const auto& c : cases) {
    const auto start = Clock::now();
    {
      Watchdog watchdog(c.what);
      c.wait();
    }
    const long long elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, c.shortest) << c.what;
    EXPECT_LT(elapsed, kCeilingMs) << c.what;
  }
}

}  // namespace
}  // namespace ipmod

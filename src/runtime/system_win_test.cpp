// The real processes, registry, messages and system libraries, under Wine or Windows.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "runtime/runtime_error.h"
#include "runtime/system.h"
#include "runtime/win32_handle.h"

namespace ipmod {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

bool FileExists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Polls for a file a started program writes, for at most `limit`.
bool AppearsWithin(const std::string& path, milliseconds limit) {
  const auto end = steady_clock::now() + limit;
  while (!FileExists(path)) {
    if (steady_clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return true;
}

std::string ThisProgram() {
  char path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
  return std::string(path, length);
}

std::string ProgramDirectory() { return SplitAtLastBackslash(ThisProgram()).head; }

std::string CurrentDirectory() {
  char path[MAX_PATH];
  const DWORD length = ::GetCurrentDirectoryA(sizeof path, path);
  return std::string(path, length);
}

// Deletes a file or a whole directory tree; what is gone already is fine.
void Remove(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    ::DeleteFileA(path.c_str());
    return;
  }
  WIN32_FIND_DATAA entry;
  const HANDLE search = ::FindFirstFileA((path + "\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = entry.cFileName;
      if (name != "." && name != "..") Remove(path + "\\" + name);
    } while (::FindNextFileA(search, &entry));
    ::FindClose(search);
  }
  ::RemoveDirectoryA(path.c_str());
}

// A fresh directory that is the current directory while the test runs.
class ScratchDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    ::GetTempPathA(sizeof temp, temp);
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ =
        std::string(temp) + "ipmod-" + std::to_string(::GetCurrentProcessId()) + "-" + test->name();
    Remove(dir_);
    ASSERT_TRUE(::CreateDirectoryA(dir_.c_str(), nullptr)) << dir_;
    previous_ = CurrentDirectory();
    ASSERT_TRUE(::SetCurrentDirectoryA(dir_.c_str()));
  }
  void TearDown() override {
    ::SetCurrentDirectoryA(previous_.c_str());
    for (const std::string& file : planted_) Remove(file);
    Remove(dir_);
  }

  std::string Path(const std::string& name) const { return dir_ + "\\" + name; }

  // A copy of this test program at `path`: started with "--gtest_filter=-*
  // --gtest_output=xml:FILE" it runs no test and writes FILE, so FILE shows that it ran.
  void PlantProgram(const std::string& path) {
    ASSERT_TRUE(::CopyFileA(ThisProgram().c_str(), path.c_str(), FALSE)) << path;
    planted_.push_back(path);
  }
  static std::string MarkArguments(const std::string& markFile) {
    return " --gtest_filter=-* --gtest_output=xml:" + markFile;
  }

  std::string dir_;
  std::string previous_;
  std::vector<std::string> planted_;
};

using RunProgramTest = ScratchDirectoryTest;

TEST_F(RunProgramTest, WithWaitReturnsOnlyAfterTheProgramHasEnded) {
  // About a second of ping before the file is written; cmd itself comes from the system.
  const std::string marker = Path("ended.txt");
  ASSERT_TRUE(RunProgram("cmd.exe /c ping -n 2 127.0.0.1 >nul & echo done> ended.txt", true));
  EXPECT_TRUE(FileExists(marker)) << "RunProgram returned before the program had ended";
}

TEST_F(RunProgramTest, WithWaitReportsTheExitCode) {
  for (const uint32_t code : {0u, 1u, 7u, 259u}) {
    std::optional<uint32_t> exitCode = 12345;
    ASSERT_TRUE(
        RunProgram("cmd.exe /c exit /b " + std::to_string(code), true, std::nullopt, &exitCode));
    EXPECT_EQ(exitCode, code);
  }
}

TEST_F(RunProgramTest, WithoutWaitReturnsWhileTheProgramStillRuns) {
  // The program reads from a pipe of this test first, so it cannot end before the pipe closes.
  const std::string pipe = "\\\\.\\pipe\\ipmod-" + std::to_string(::GetCurrentProcessId());
  ScopedHandle server(
      ::CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr));
  ASSERT_TRUE(server) << ::GetLastError();
  const std::string marker = Path("later.txt");
  ASSERT_TRUE(RunProgram("cmd /c type " + pipe + " >nul & echo done> later.txt", false));
  EXPECT_FALSE(FileExists(marker)) << "RunProgram waited for the end";
  server.reset();
  EXPECT_TRUE(AppearsWithin(marker, milliseconds(60000))) << "the program never ran";
}

// The search path with one more directory in front while it lives.
class PathInFront {
 public:
  explicit PathInFront(const std::string& directory) {
    char value[32768];
    const DWORD length = ::GetEnvironmentVariableA("PATH", value, sizeof value);
    previous_.assign(value, length < sizeof value ? length : 0);
    ::SetEnvironmentVariableA("PATH", (directory + ";" + previous_).c_str());
  }
  ~PathInFront() { ::SetEnvironmentVariableA("PATH", previous_.c_str()); }
  PathInFront(const PathInFront&) = delete;
  PathInFront& operator=(const PathInFront&) = delete;

 private:
  std::string previous_;
};

TEST_F(RunProgramTest, CommandsThatCannotBeStartedGiveFalse) {
  // A program on the search path, but not in the system directory. (No system program serves:
  // Wine's regedit.exe, say, is in the Windows directory and in syswow64, the system directory
  // of 32-bit programs.)
  const std::string onPath = Path("on-path");
  ASSERT_TRUE(::CreateDirectoryA(onPath.c_str(), nullptr));
  PlantProgram(onPath + "\\ipmod-on-search-path.exe");
  const PathInFront path(onPath);
  const std::string marker = Path("on-path-ran.xml");
  const std::string onPathCommand = "ipmod-on-search-path" + MarkArguments(marker);

  const std::string kCommands[] = {
      "",
      "   ",
      "\"\" /c echo",
      "ipmod-no-such-program-4711",
      "ipmod-no-such-program-4711.exe /x",
      "C:\\ipmod\\no\\such\\program.exe /x",
      "\"C:\\ipmod no such\\program.exe\" /x",
      onPathCommand,
  };
  for (const std::string& command : kCommands) {
    EXPECT_FALSE(RunProgram(command, false)) << "[" << command << "]";
  }
  EXPECT_FALSE(AppearsWithin(marker, milliseconds(500))) << "the program on the path ran";
}

TEST_F(RunProgramTest, StartsTheSystemDirectorysProgramForABareName) {
  const struct {
    const char* command;
    const char* marker;
  } kCases[] = {
      {"cmd /c echo x> bare.txt", "bare.txt"},
      {"cmd.exe /c echo x> extension.txt", "extension.txt"},
      {"CMD.EXE /c echo x> upper.txt", "upper.txt"},
      {"\"cmd\" /c echo x> quoted.txt", "quoted.txt"},
      {"  cmd /c echo x> blanks.txt", "blanks.txt"},
      {"cmd\t/c echo x> tab.txt", "tab.txt"},
  };
  for (const auto& c : kCases) {
    EXPECT_TRUE(RunProgram(c.command, true)) << c.command;
    EXPECT_TRUE(FileExists(Path(c.marker))) << c.command;
  }
}

TEST_F(RunProgramTest, KeepsTheCommandLineOfABareNameAsGiven) {
  // cmd sees its own command line; the quotes and the rest must reach it unchanged.
  ASSERT_TRUE(RunProgram("cmd /c \"echo a  b> \"spaced name.txt\"\"", true));
  std::string content;
  const HANDLE file = ::CreateFileA(Path("spaced name.txt").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char buffer[64];
  DWORD read = 0;
  ::ReadFile(file, buffer, sizeof buffer, &read, nullptr);
  ::CloseHandle(file);
  EXPECT_EQ(std::string(buffer, read), "a  b\r\n");
}

TEST_F(RunProgramTest, TakesAPathAsGivenQuotedOrNot) {
  ASSERT_TRUE(::CreateDirectoryA(Path("with space").c_str(), nullptr));
  PlantProgram(Path("with space\\probe.exe"));
  PlantProgram(Path("probe.exe"));
  const struct {
    std::string command;
    std::string marker;
  } kCases[] = {
      {"\"" + Path("with space\\probe.exe") + "\"" + MarkArguments(Path("quoted.xml")),
       Path("quoted.xml")},
      {Path("probe.exe") + MarkArguments(Path("plain.xml")), Path("plain.xml")},
      {".\\probe.exe" + MarkArguments(Path("relative.xml")), Path("relative.xml")},
      {"./probe.exe" + MarkArguments(Path("slash.xml")), Path("slash.xml")},
  };
  for (const auto& c : kCases) {
    EXPECT_TRUE(RunProgram(c.command, true)) << c.command;
    EXPECT_TRUE(FileExists(c.marker)) << c.command;
  }
}

TEST_F(RunProgramTest, NeverTakesABareNameFromTheCurrentOrTheProgramDirectory) {
  const std::string name = "ipmod-planted-" + std::to_string(::GetCurrentProcessId());
  PlantProgram(Path(name + ".exe"));
  PlantProgram(ProgramDirectory() + "\\" + name + ".exe");
  // The planted program does run when named by its path...
  ASSERT_TRUE(RunProgram(".\\" + name + MarkArguments(Path("control.xml")), true));
  ASSERT_TRUE(FileExists(Path("control.xml")));
  // ...but not by its bare name.
  for (const std::string& word : {name, name + ".exe", "\"" + name + "\""}) {
    const std::string marker = Path("bare.xml");
    EXPECT_FALSE(RunProgram(word + MarkArguments(marker), true)) << word;
    EXPECT_FALSE(FileExists(marker)) << word;
  }
}

TEST(ShowCommandForModeTest, ClampsTheModeAndMapsItToTheSystemsShowCommand) {
  const struct {
    std::optional<int32_t> mode;
    int expected;
  } kCases[] = {
      {std::nullopt, SW_SHOWNORMAL},
      {INT_MIN, SW_HIDE},
      {0, SW_HIDE},
      {1, SW_HIDE},
      {2, SW_SHOWNORMAL},
      {3, SW_SHOWMINIMIZED},
      {4, SW_SHOWMAXIMIZED},
      {5, SW_SHOWNOACTIVATE},
      {6, SW_MINIMIZE},
      {7, SW_MINIMIZE},
      {INT_MAX, SW_MINIMIZE},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ShowCommandForMode(c.mode), c.expected)
        << (c.mode ? std::to_string(*c.mode) : "left out");
  }
}

// Test keys of this process under the writable roots, removed again afterwards.
class ReadRegistryTextTest : public ::testing::Test {
 protected:
  static constexpr const char* kVariable = "IPMOD_REGISTRY_TEST";

  void SetUp() override {
    key_ = "Software\\ipmod-test-" + std::to_string(::GetCurrentProcessId());
    ASSERT_TRUE(::SetEnvironmentVariableA(kVariable, "C:\\ipmod place"));
  }
  void TearDown() override {
    for (const auto& [root, path] : created_) ::RegDeleteKeyA(root, path.c_str());
    ::SetEnvironmentVariableA(kVariable, nullptr);
  }

  // Creates `path` under `root` and sets one value in it. Keys this creates are removed
  // again, deepest first; keys that were there already stay.
  void Set(HKEY root, const std::string& path, const char* name, DWORD type, const void* data,
           DWORD size) {
    for (std::size_t at = 0; at != std::string::npos;) {
      const std::size_t next = path.find('\\', at);
      const std::string partial = path.substr(0, next);
      HKEY key;
      DWORD disposition = 0;
      ASSERT_EQ(::RegCreateKeyExA(root, partial.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, &disposition),
                ERROR_SUCCESS)
          << partial;
      ::RegCloseKey(key);
      if (disposition == REG_CREATED_NEW_KEY) created_.insert(created_.begin(), {root, partial});
      at = next == std::string::npos ? next : next + 1;
    }
    HKEY key;
    ASSERT_EQ(::RegOpenKeyExA(root, path.c_str(), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(::RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS)
        << path << " " << (name ? name : "(default)");
    ::RegCloseKey(key);
  }
  void SetText(HKEY root, const std::string& path, const char* name, DWORD type,
               const std::string& text) {
    Set(root, path, name, type, text.c_str(), static_cast<DWORD>(text.size() + 1));
  }

  std::string key_;
  std::vector<std::pair<HKEY, std::string>> created_;
};

TEST_F(ReadRegistryTextTest, GivesTextValuesAndTheDefaultForEverythingElse) {
  const std::string longValue(3000, 'x');
  const DWORD number = 0x31323334;
  const unsigned char binary[] = {'a', 'b', 'c', 0};
  SetText(HKEY_CURRENT_USER, key_, "plain", REG_SZ, "hello 中文");
  SetText(HKEY_CURRENT_USER, key_, "empty", REG_SZ, "");
  Set(HKEY_CURRENT_USER, key_, "inner zero", REG_SZ, "ab\0cd", 6);
  SetText(HKEY_CURRENT_USER, key_, "expand", REG_EXPAND_SZ, "%IPMOD_REGISTRY_TEST%\\sub");
  SetText(HKEY_CURRENT_USER, key_, "system root", REG_EXPAND_SZ, "%SystemRoot%");
  SetText(HKEY_CURRENT_USER, key_, "unknown variable", REG_EXPAND_SZ, "%IPMOD_UNDEFINED_VAR%");
  SetText(HKEY_CURRENT_USER, key_, "long", REG_SZ, longValue);
  SetText(HKEY_CURRENT_USER, key_, "long expand", REG_EXPAND_SZ, longValue + "%SystemRoot%");
  Set(HKEY_CURRENT_USER, key_, "number", REG_DWORD, &number, sizeof number);
  Set(HKEY_CURRENT_USER, key_, "binary", REG_BINARY, binary, sizeof binary);
  Set(HKEY_CURRENT_USER, key_, "multi", REG_MULTI_SZ, "a\0b\0", 5);
  SetText(HKEY_CURRENT_USER, key_, nullptr, REG_SZ, "key default");
  SetText(HKEY_CURRENT_USER, key_ + "\\inner\\deeper", "name", REG_SZ, "deep");
  // "乗" is 81 5C in GBK: its second byte is a backslash that must not split the path.
  SetText(HKEY_CURRENT_USER, key_ + "\\inner", "值乗", REG_SZ, "double-byte name");

  char systemRoot[MAX_PATH];
  ASSERT_GT(::GetEnvironmentVariableA("SystemRoot", systemRoot, sizeof systemRoot), 0u);

  const struct {
    std::string path;
    std::optional<std::string> fallback;
    std::string expected;
  } kCases[] = {
      {key_ + "\\plain", std::nullopt, "hello 中文"},
      {key_ + "\\plain", "fallback", "hello 中文"},
      {key_ + "\\empty", "fallback", ""},
      {key_ + "\\inner zero", std::nullopt, "ab"},
      {key_ + "\\expand", std::nullopt, "C:\\ipmod place\\sub"},
      {key_ + "\\system root", std::nullopt, systemRoot},
      {key_ + "\\unknown variable", std::nullopt, "%IPMOD_UNDEFINED_VAR%"},
      {key_ + "\\long", std::nullopt, longValue},
      {key_ + "\\long expand", std::nullopt, longValue + systemRoot},
      {key_ + "\\number", std::nullopt, ""},
      {key_ + "\\number", "fallback", "fallback"},
      {key_ + "\\binary", "fallback", "fallback"},
      {key_ + "\\multi", "fallback", "fallback"},
      {key_ + "\\missing value", std::nullopt, ""},
      {key_ + "\\missing value", "fallback", "fallback"},
      {key_ + "\\no such key\\plain", "fallback", "fallback"},
      {key_ + "\\no such key\\plain", std::nullopt, ""},
      {key_ + "\\", std::nullopt, "key default"},
      {key_ + "\\inner\\deeper\\name", std::nullopt, "deep"},
      {key_ + "\\inner\\值乗", std::nullopt, "double-byte name"},
      {key_ + "\\inner\\deeper", "fallback", "fallback"},
  };
  SystemRegistry registry;
  for (const auto& c : kCases) {
    EXPECT_EQ(registry.ReadRegistryText(3, c.path, c.fallback), c.expected) << c.path;
  }
}

TEST_F(ReadRegistryTextTest, RootCodesNameTheSystemsRoots) {
  // The same key under each root, each holding the name of its root.
  const std::string name = "ipmod-test-" + std::to_string(::GetCurrentProcessId());
  SetText(HKEY_CLASSES_ROOT, name, "root", REG_SZ, "classes");
  SetText(HKEY_CURRENT_CONFIG, key_, "root", REG_SZ, "config");
  SetText(HKEY_CURRENT_USER, key_, "root", REG_SZ, "user");
  SetText(HKEY_LOCAL_MACHINE, key_, "root", REG_SZ, "machine");
  SetText(HKEY_USERS, ".DEFAULT\\" + key_, "root", REG_SZ, "users");

  const struct {
    int32_t root;
    std::string path;
    std::string expected;
  } kCases[] = {
      {1, name + "\\root", "classes"},
      {2, key_ + "\\root", "config"},
      {3, key_ + "\\root", "user"},
      {4, key_ + "\\root", "machine"},
      {5, ".DEFAULT\\" + key_ + "\\root", "users"},
      {0, key_ + "\\root", "user"},
      {6, key_ + "\\root", "user"},
      {-1, key_ + "\\root", "user"},
  };
  SystemRegistry registry;
  for (const auto& c : kCases) {
    EXPECT_EQ(registry.ReadRegistryText(c.root, c.path, std::nullopt), c.expected)
        << "root " << c.root;
  }
}

TEST_F(ReadRegistryTextTest, ReadsValuesOfAKeyAsStoredWithoutChangingThem) {
  const DWORD number = 1;
  Set(HKEY_LOCAL_MACHINE, key_, "multi", REG_MULTI_SZ,
      "192.0.2.50\0"
      "192.0.2.51\0",
      23);
  Set(HKEY_LOCAL_MACHINE, key_, "number", REG_DWORD, &number, sizeof number);
  SetText(HKEY_LOCAL_MACHINE, key_, "expand", REG_EXPAND_SZ, "%IPMOD_REGISTRY_TEST%");
  SystemRegistry registry;
  const std::optional<std::vector<RegistryValue>> values =
      registry.ReadRegistryValues(kLocalMachine, key_, {"multi", "missing", "number", "expand"});
  ASSERT_TRUE(values);
  ASSERT_EQ(values->size(), 4u);
  EXPECT_EQ((*values)[0].type, kRegMultiSz);
  EXPECT_EQ((*values)[0].data, std::string("192.0.2.50\0"
                                           "192.0.2.51\0",
                                           23));
  EXPECT_EQ((*values)[1].type, 0u);
  EXPECT_EQ((*values)[1].data, "");
  EXPECT_EQ(RegistryNumber((*values)[2]), 1u);
  // As stored: nothing is expanded.
  EXPECT_EQ((*values)[3].data, std::string("%IPMOD_REGISTRY_TEST%", 22));
  EXPECT_FALSE(registry.ReadRegistryValues(kLocalMachine, key_ + "\\no such key", {"multi"}));
}

TEST_F(ReadRegistryTextTest, APathWithoutBackslashIsAValueOfTheRootItself) {
  // HKEY_USERS holds keys only; a value name alone is looked up in the root and not found,
  // while a key path of the same name would be.
  SystemRegistry registry;
  EXPECT_EQ(registry.ReadRegistryText(5, ".DEFAULT", "fallback"), "fallback");
}

TEST(OsFamilyTest, ThisSystemIsOfTheNtFamily) { EXPECT_EQ(GetOsFamily(), 3); }

TEST(OsFamilyTest, PlatformIdsGiveTheirFamily) {
  const struct {
    uint32_t platformId;
    int32_t family;
  } kCases[] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {0xFFFFFFFFu, 0}};
  for (const auto& c : kCases) {
    EXPECT_EQ(OsFamilyForPlatformId(c.platformId), c.family) << c.platformId;
  }
}

// A message-only window that records what is dispatched to it.
class ProcessEventsTest : public ::testing::Test {
 protected:
  static std::vector<UINT>& Seen() {
    static std::vector<UINT> seen;
    return seen;
  }
  static LRESULT CALLBACK Record(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message >= WM_APP) Seen().push_back(message);
    return ::DefWindowProcA(window, message, w, l);
  }
  void SetUp() override {
    Seen().clear();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = &Record;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "ipmod-process-events";
    ::RegisterClassA(&windowClass);
    window_ = ::CreateWindowExA(0, "ipmod-process-events", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, nullptr);
    ASSERT_NE(window_, nullptr);
    Drain();
  }
  void TearDown() override {
    ::DestroyWindow(window_);
    Drain();
  }
  static void Drain() {
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  HWND window_ = nullptr;
};

TEST_F(ProcessEventsTest, DispatchesEveryPendingMessageAndReturns) {
  for (UINT offset = 1; offset <= 3; ++offset) {
    ASSERT_TRUE(::PostMessageA(window_, WM_APP + offset, 0, 0));
  }
  ProcessEvents();
  EXPECT_THAT(Seen(), ::testing::ElementsAre(WM_APP + 1, WM_APP + 2, WM_APP + 3));
  MSG message;
  EXPECT_FALSE(::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
  // With nothing queued it returns at once.
  ProcessEvents();
  EXPECT_EQ(Seen().size(), 3u);
}

TEST_F(ProcessEventsTest, LeavesAQuitMessageQueuedAndStopsThere) {
  ASSERT_TRUE(::PostThreadMessageA(::GetCurrentThreadId(), WM_QUIT, 7, 0));
  ASSERT_TRUE(::PostMessageA(window_, WM_APP + 1, 0, 0));
  ProcessEvents();
  EXPECT_TRUE(Seen().empty());
  MSG message;
  ASSERT_TRUE(::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(message.wParam, 7u);
}

TEST_F(ProcessEventsTest, DispatchesWhatComesBeforeAPostedQuit) {
  ASSERT_TRUE(::PostMessageA(window_, WM_APP + 1, 0, 0));
  ::PostQuitMessage(9);
  ProcessEvents();
  EXPECT_THAT(Seen(), ::testing::ElementsAre(WM_APP + 1));
  MSG message;
  ASSERT_TRUE(::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(message.wParam, 9u);
}

TEST(ToProgramCodePageTest, ReadsCommandOutputInItsCodePageAsGbk) {
  const struct {
    uint32_t codePage;
    Text bytes;
    Text expected;
  } cases[] = {
      {936, "\xC8\xB7\xB6\xA8\x81", "\xC8\xB7\xB6\xA8\x81"},  // as it stands, a lone byte too
      {65001, "\xE7\xA1\xAE\xE5\xAE\x9A\r\n", "确定\r\n"},
      {1252, "caf\xE9 Ok.", "caf\xA8\xA6 Ok."},  // pinyin e-acute is in GBK
      {65001, "\xE0\xB8\x81", "?"},              // a Thai letter is not
      {437, "Ok.\r\n", "Ok.\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToProgramCodePage(c.bytes, c.codePage), c.expected) << c.codePage << " " << c.bytes;
  }
}

TEST(SystemDirectoryTest, IsTheSystemsDirectoryWithoutTrailingBackslash) {
  char expected[MAX_PATH];
  const UINT length = ::GetSystemDirectoryA(expected, sizeof expected);
  EXPECT_EQ(SystemDirectory(), std::string(expected, length));
  EXPECT_NE(SystemDirectory().back(), '\\');
}

// The report of a failed binding, caught instead of ending the process.
struct Reported {
  std::string message;
};
[[noreturn]] void ThrowReport(const RuntimeErrorMessage& message) {
  throw Reported{message.c_str()};
}

class BindSystemRoutineTest : public ScratchDirectoryTest {
 protected:
  void SetUp() override {
    ScratchDirectoryTest::SetUp();
    previousHandler_ = SetRuntimeErrorHandler(&ThrowReport);
  }
  void TearDown() override {
    SetRuntimeErrorHandler(previousHandler_);
    ScratchDirectoryTest::TearDown();
  }
  // The report's message line for a library and a routine that cannot be found.
  static std::string ReportFor(const char* library, const char* routine) {
    try {
      BindSystemRoutine(library, routine);
    } catch (const Reported& report) {
      return report.message;
    }
    return "(no report)";
  }
  RuntimeErrorHandler previousHandler_ = nullptr;
};

TEST_F(BindSystemRoutineTest, FindsRoutinesOfSystemLibrariesAndKeepsThem) {
  const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  void* const tick = BindSystemRoutine("kernel32.dll", "GetTickCount");
  EXPECT_EQ(tick, reinterpret_cast<void*>(::GetProcAddress(kernel, "GetTickCount")));
  EXPECT_EQ(BindSystemRoutine("kernel32.dll", "GetTickCount"), tick);

  void* const adapters = BindSystemRoutine("iphlpapi.dll", "GetAdaptersInfo");
  const HMODULE iphlpapi = ::GetModuleHandleA("iphlpapi.dll");
  ASSERT_NE(iphlpapi, nullptr) << "the library should stay loaded";
  EXPECT_EQ(adapters, reinterpret_cast<void*>(::GetProcAddress(iphlpapi, "GetAdaptersInfo")));
  EXPECT_NE(BindSystemRoutine("iphlpapi.dll", "GetPerAdapterInfo"), nullptr);
}

TEST_F(BindSystemRoutineTest, ReportsALibraryOrRoutineThatCannotBeFound) {
  const auto kLine = [](const char* library, const char* routine) {
    return "\r\n错误信息：无法找到指定DLL库文件“" + std::string(library) + "”中的输出命令“" +
           routine + "”\r\n";
  };
  EXPECT_THAT(ReportFor("iphlpapi.dll", "NoSuchRoutine"),
              ::testing::HasSubstr(kLine("iphlpapi.dll", "NoSuchRoutine")));
  EXPECT_THAT(ReportFor("ipmod-no-such-library.dll", "GetTickCount"),
              ::testing::HasSubstr(kLine("ipmod-no-such-library.dll", "GetTickCount")));
  // Names are text, never a format.
  EXPECT_THAT(ReportFor("%s%n%d.dll", "%s"), ::testing::HasSubstr(kLine("%s%n%d.dll", "%s")));
}

TEST_F(BindSystemRoutineTest, NeverLoadsALibraryFromTheCurrentOrTheProgramDirectory) {
  // A loadable library that is not in the system directory, planted where a plain
  // LoadLibrary would look first.
  const std::string name = "ipmod-planted-" + std::to_string(::GetCurrentProcessId()) + ".dll";
  const std::string system = SystemDirectory() + "\\version.dll";
  ASSERT_TRUE(::CopyFileA(system.c_str(), Path(name).c_str(), FALSE));
  planted_.push_back(Path(name));
  ASSERT_TRUE(::CopyFileA(system.c_str(), (ProgramDirectory() + "\\" + name).c_str(), FALSE));
  planted_.push_back(ProgramDirectory() + "\\" + name);

  EXPECT_THAT(ReportFor(name.c_str(), "GetFileVersionInfoA"),
              ::testing::HasSubstr("“" + name + "”"));
  EXPECT_EQ(::GetModuleHandleA(name.c_str()), nullptr);
  // The planted copy itself is a library the system would load.
  const HMODULE direct = ::LoadLibraryA(name.c_str());
  EXPECT_NE(direct, nullptr);
  if (direct != nullptr) ::FreeLibrary(direct);
}

class AllocatorTest : public ::testing::Test {
 protected:
  void SetUp() override { previousHandler_ = SetRuntimeErrorHandler(&ThrowReport); }
  void TearDown() override { SetRuntimeErrorHandler(previousHandler_); }
  static bool OnProcessHeap(const void* block) {
    return ::HeapValidate(::GetProcessHeap(), 0, block) != FALSE;
  }
  RuntimeErrorHandler previousHandler_ = nullptr;
};

TEST_F(AllocatorTest, BlocksComeFromTheProcessHeap) {
  auto* text = new std::string(100, 'x');
  EXPECT_TRUE(OnProcessHeap(text));
  EXPECT_TRUE(OnProcessHeap(text->data()));
  delete text;
  auto* numbers = new int[1000];
  EXPECT_TRUE(OnProcessHeap(numbers));
  delete[] numbers;
  auto* nothing = new char[0];
  EXPECT_NE(nothing, nullptr);
  delete[] nothing;
}

TEST_F(AllocatorTest, OverAlignedBlocksAreAligned) {
  struct alignas(256) Wide {
    char bytes[300];
  };
  for (int round = 0; round < 16; ++round) {
    auto* one = new Wide;
    auto* many = new Wide[3];
    EXPECT_EQ(reinterpret_cast<uintptr_t>(one) % 256, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(many) % 256, 0u);
    std::memset(many, 0xAB, sizeof(Wide) * 3);
    delete one;
    delete[] many;
  }
}

TEST_F(AllocatorTest, AFailedAllocationIsReportedWithItsSize) {
  volatile std::size_t size = SIZE_MAX - 4096;
  std::string report;
  try {
    static_cast<void>(::operator new(size));
  } catch (const Reported& reported) {
    report = reported.message;
  }
  EXPECT_THAT(report,
              ::testing::HasSubstr("错误信息：分配 " + std::to_string(size) + " 字节内存失败!"));
  // Asked not to throw, it answers null instead of reporting.
  EXPECT_EQ(::operator new(size, std::nothrow), nullptr);
  EXPECT_EQ(::operator new[](size, std::nothrow), nullptr);
  EXPECT_EQ(::operator new(size, std::align_val_t(256), std::nothrow), nullptr);
}

}  // namespace
}  // namespace ipmod

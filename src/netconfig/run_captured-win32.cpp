// The captured command runner: the system's command interpreter with its standard output and
// standard error in one anonymous pipe, read until the interpreter has ended.
#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "netconfig/collect_output.h"
#include "netconfig/netconfig.h"
#include "runtime/system.h"
#include "runtime/text.h"
#include "runtime/win32_handle.h"

namespace ipmod {

namespace {

// The interpreter's pipe and process, polled by CollectOutput.
class InterpreterOutput final : public OutputSource {
 public:
  InterpreterOutput(HANDLE pipe, HANDLE process) : pipe_(pipe), process_(process) {}

  uint32_t BytesWaiting() override {
    DWORD count = 0;
    if (!PeekNamedPipe(pipe_, nullptr, 0, nullptr, &count, nullptr)) return 0;
    return count;
  }

  uint32_t Read(ByteBlock& block) override {
    DWORD read = 0;
    if (!ReadFile(pipe_, block.data(), static_cast<DWORD>(block.size()), &read, nullptr)) return 0;
    return read;
  }

  // A signalled process handle alone tells the end, also of a process that ended with
  // STILL_ACTIVE (259), which its exit code cannot; one call per poll is enough.
  bool HasEnded() override { return WaitForSingleObject(process_, 0) != WAIT_TIMEOUT; }

  void Pause() override {
    PumpPendingInput();
    WaitInterval(1);
  }

 private:
  HANDLE pipe_;
  HANDLE process_;
};

struct EnvironmentStringsFree {
  void operator()(wchar_t* strings) const { FreeEnvironmentStringsW(strings); }
};

// This program's environment entries, as the system lists them, in UTF-16: the ANSI list would
// turn every character outside the system's code page into another. Nothing when it cannot be
// read.
std::optional<std::vector<std::u16string>> OwnEnvironment() {
  const std::unique_ptr<wchar_t, EnvironmentStringsFree> strings(GetEnvironmentStringsW());
  if (!strings) return std::nullopt;
  std::vector<std::u16string> entries;
  for (const wchar_t* entry = strings.get(); *entry != L'\0'; entry += std::wcslen(entry) + 1) {
    entries.emplace_back(entry, entry + std::wcslen(entry));
  }
  return entries;
}

// The system directory in UTF-16, as SystemDirectory() gives it in ANSI; empty when unknown.
std::u16string WideSystemDirectory() {
  std::vector<wchar_t> directory(MAX_PATH, L'\0');
  UINT length = GetSystemDirectoryW(directory.data(), static_cast<UINT>(directory.size()));
  if (length >= directory.size()) {
    directory.assign(length + 1, L'\0');
    length = GetSystemDirectoryW(directory.data(), static_cast<UINT>(directory.size()));
  }
  if (length == 0 || length >= directory.size()) return std::u16string();
  return std::u16string(directory.data(), directory.data() + length);
}

// The interpreter's environment block (UTF-16), or nothing when this program's own environment
// or the system directory cannot be read: the interpreter then inherits the environment as it
// is, which is better than one that lacks SystemRoot and the rest.
std::optional<std::u16string> InterpreterEnvironmentBlock() {
  const std::optional<std::vector<std::u16string>> own = OwnEnvironment();
  const std::u16string systemDirectory = WideSystemDirectory();
  if (!own || systemDirectory.empty()) return std::nullopt;
  return InterpreterEnvironment(*own, systemDirectory);
}

}  // namespace

CapturedRun SystemCommandRunner::RunCaptured(const Text& command) {
  CapturedRun run;
  const Text systemDirectory = SystemDirectory();
  if (systemDirectory.empty()) return run;  // never fall back to searching for the interpreter

  SECURITY_ATTRIBUTES inheritable{};
  inheritable.nLength = sizeof(inheritable);
  inheritable.lpSecurityDescriptor = nullptr;
  inheritable.bInheritHandle = TRUE;
  ScopedHandle readEnd;
  ScopedHandle writeEnd;
  CreatePipe(readEnd.receive(), writeEnd.receive(), &inheritable, 0);
  // Only the write end goes to the interpreter; a child holding the read end too could keep
  // the pipe alive.
  SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

  // No input, also where the interpreter gets a console of its own (see the flags below), whose
  // input it would otherwise read (Wine gives it that).
  ScopedHandle nothing(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inheritable, OPEN_EXISTING, 0, nullptr));

  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = static_cast<DWORD>(BitOr(STARTF_USESHOWWINDOW, STARTF_USESTDHANDLES));
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = nothing ? nothing.get() : nullptr;
  startup.hStdOutput = writeEnd.get();
  startup.hStdError = writeEnd.get();

  // The interpreter is named by its full path and runs in the system directory, so neither a
  // cmd.exe beside this program nor a netsh.exe in our current directory is ever run.
  const int32_t osFamily = GetOsFamily();
  // Named for the family as in InterpreterPrefix.
  const Text application = SystemFilePath(osFamily > 2 ? "cmd.exe" : "command.com");
  Text line = InterpreterPrefix(osFamily) + command;
  // The interpreter looks for the line's netsh (and the inner cmd) itself; with this
  // environment it finds the system directory's before anything else on PATH.
  std::optional<std::u16string> environment = InterpreterEnvironmentBlock();
  // The command line stays in ANSI; only the environment goes as UTF-16. A program without a
  // console (the guard) would give each interpreter a console window of its own, which Windows
  // Terminal shows however it is started, and closing it would end the command: none, then.
  // One with a console shares it, and its code page, with the interpreter.
  const DWORD flags = (environment ? CREATE_UNICODE_ENVIRONMENT : 0) |
                      (GetConsoleOutputCP() == 0 ? CREATE_NO_WINDOW : 0);
  void* const block = environment ? environment->data() : nullptr;
  PROCESS_INFORMATION created{};
  const auto start = [&] {
    if (CreateProcessA(application.c_str(), line.data(), nullptr, nullptr, TRUE, flags, block,
                       systemDirectory.c_str(), &startup, &created)) {
      return true;
    }
    run.startError = GetLastError();
    return false;
  };
  // A start can fail for want of a passing resource. Nothing has run then, so one more try
  // cannot change anything twice.
  run.started = start() || (WaitInterval(50), start());
  if (run.started) run.startError = 0;
  // From now on only the interpreter and what it starts hold the write end.
  writeEnd.reset();
  nothing.reset();
  if (!run.started) return run;
  ScopedHandle process(created.hProcess);
  ScopedHandle thread(created.hThread);
  thread.reset();  // never used

  InterpreterOutput output(readEnd.get(), process.get());
  // netsh prints in the console's code page. The verdict looks for the program's words in GBK;
  // what netsh said is shown as it printed it, so the bytes are kept too.
  run.output = CollectOutput(output);
  run.outputCodePage = CommandOutputCodePage();
  if (run.outputCodePage != kProgramCodePage) {
    run.programOutput = ToProgramCodePage(run.output, run.outputCodePage);
  }

  DWORD exitCode = 0;
  if (GetExitCodeProcess(process.get(), &exitCode)) run.exitCode = exitCode;
  return run;
}

bool SystemCommandRunner::RunProgram(const Text& commandLine, bool wait,
                                     std::optional<int32_t> showMode,
                                     std::optional<uint32_t>* exitCode) {
  return ipmod::RunProgram(commandLine, wait, showMode, exitCode);
}

}  // namespace ipmod

// The captured command runner: the system's command interpreter with its standard output and
// standard error in one anonymous pipe, read until the interpreter has ended.
#include <windows.h>

#include <cstdint>
#include <cstring>
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
  void operator()(char* strings) const { FreeEnvironmentStringsA(strings); }
};

// This program's environment entries, as the system lists them.
std::vector<Text> OwnEnvironment() {
  std::vector<Text> entries;
  const std::unique_ptr<char, EnvironmentStringsFree> strings(GetEnvironmentStringsA());
  if (!strings) return entries;
  for (const char* entry = strings.get(); *entry != '\0'; entry += std::strlen(entry) + 1) {
    entries.emplace_back(entry);
  }
  return entries;
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

  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = static_cast<DWORD>(BitOr(STARTF_USESHOWWINDOW, STARTF_USESTDHANDLES));
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = nullptr;
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
  std::string environment = InterpreterEnvironment(OwnEnvironment(), systemDirectory);
  PROCESS_INFORMATION created{};
  const auto start = [&] {
    if (CreateProcessA(application.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                       environment.data(), systemDirectory.c_str(), &startup, &created)) {
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

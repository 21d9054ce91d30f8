// The running session's facts, and the guard as a process of its own: the program started
// again, detached from the console and from the session's job, so that it outlives the program
// however that ends. The program tells it through named events, which it waits on:
//   <base>-postpone  (auto-reset) the deadline moves to the window's length from now
//   <base>-end       (manual)     end without restoring anything
//   <base>-fired     (manual)     set by the guard once its deadline has passed, before it
//                                 restores: the program reads it to learn whether it did
#include "wayback/remote-win32.h"

#include <windows.h>

#include "wayback/history-win32.h"
#include "wayback/restore.h"
#include "netconfig/netconfig.h"
#include "runtime/system.h"
#include "runtime/win32_handle.h"

namespace ipmod {

namespace {

const char kGuardSwitch[] = "--guard";
const char kAccountFile[] = "ipmod-restore.log";

// Whether the variable is set, be it empty.
bool IsSet(const char* name) {
  ::SetLastError(ERROR_SUCCESS);
  return ::GetEnvironmentVariableA(name, nullptr, 0) > 0 ||
         ::GetLastError() != ERROR_ENVVAR_NOT_FOUND;
}

// The program file's path; nothing when it does not fit.
std::optional<Text> ProgramPath() {
  char path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return std::nullopt;
  return Text(path, length);
}

constexpr std::size_t kMostBase = 40;

// The name of one of a guard's events: <base>-<what>.
struct EventName {
  EventName(const char* base, const char* what) { ::wsprintfA(text, "%s-%s", base, what); }
  char text[96];
};

// Appends the account, after the local time, to the file beside the program.
void WriteAccount(const Text& account) {
  const std::optional<Text> path = ProgramPath();
  if (!path) return;
  const Text file = SplitAtLastBackslash(*path).head + "\\" + kAccountFile;
  ScopedHandle log(::CreateFileA(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (log.get() == INVALID_HANDLE_VALUE) {
    log.release();
    return;
  }
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  char stamp[32];
  const int length = ::wsprintfA(stamp, "%04u-%02u-%02u %02u:%02u:%02u ", now.wYear, now.wMonth,
                                 now.wDay, now.wHour, now.wMinute, now.wSecond);
  const Text entry = Text(stamp, length) + account + "\r\n";
  DWORD written = 0;
  ::WriteFile(log.get(), entry.data(), static_cast<DWORD>(entry.size()), &written, nullptr);
}

}  // namespace

SessionFacts SystemSession::ReadSessionFacts() {
  SessionFacts facts;
  using Metrics = int(WINAPI*)(int);
  const auto metrics =
      reinterpret_cast<Metrics>(BindSystemRoutine("user32.dll", "GetSystemMetrics"));
  facts.remoteMetric = metrics(SM_REMOTESESSION) != 0;
  DWORD session = 0;
  if (::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) facts.sessionId = session;
  SystemRegistry registry;
  const std::optional<std::vector<RegistryValue>> glass = registry.ReadRegistryValues(
      kLocalMachine, "SYSTEM\\CurrentControlSet\\Control\\Terminal Server", {"GlassSessionId"});
  if (glass && !glass->empty()) facts.consoleSessionId = RegistryNumber(glass->front());
  facts.sshVariables = IsSet("SSH_CONNECTION") || IsSet("SSH_CLIENT");
  char seconds[8];
  const DWORD length = ::GetEnvironmentVariableA("IPMOD_CONFIRM_SECONDS", seconds, sizeof seconds);
  // A value too long for the buffer is no window either.
  if (length > 0 && length < sizeof seconds)
    facts.confirmSeconds = Text(seconds, length);
  else if (IsSet("IPMOD_CONFIRM_SECONDS"))
    facts.confirmSeconds = Text();
  return facts;
}

struct ProcessGuard::Events {
  ScopedHandle postpone, end, fired, process;
};

ProcessGuard::ProcessGuard() = default;
ProcessGuard::~ProcessGuard() = default;

bool ProcessGuard::Start(const GuardOrder& order) {
  const std::optional<Text> path = ProgramPath();
  if (!path) return false;
  char base[64];
  ::wsprintfA(base, "ipmod-guard-%lu-%lu", ::GetCurrentProcessId(), ::GetTickCount());
  auto events = std::make_unique<Events>();
  events->postpone.reset(::CreateEventA(nullptr, FALSE, FALSE, EventName(base, "postpone").text));
  events->end.reset(::CreateEventA(nullptr, TRUE, FALSE, EventName(base, "end").text));
  events->fired.reset(::CreateEventA(nullptr, TRUE, FALSE, EventName(base, "fired").text));
  if (!events->postpone || !events->end || !events->fired) return false;

  Text line = "\"" + *path + "\" " + kGuardSwitch + " " + base + " " + EncodeGuardOrder(order);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;  // none: nothing of the session's console or pipes
  PROCESS_INFORMATION created{};
  // Its own process group and no console, out of the session's job: where the job forbids
  // that, there is no guard.
  if (!::CreateProcessA(path->c_str(), &line[0], nullptr, nullptr, FALSE,
                        DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | CREATE_BREAKAWAY_FROM_JOB,
                        nullptr, nullptr, &startup, &created)) {
    return false;
  }
  ::CloseHandle(created.hThread);
  events->process.reset(created.hProcess);
  events_ = std::move(events);
  return true;
}

void ProcessGuard::Postpone() {
  if (events_) ::SetEvent(events_->postpone.get());
}

bool ProcessGuard::End() {
  if (!events_) return true;
  ::SetEvent(events_->end.get());
  // It ends at once, or once it has put back what it had begun to.
  ::WaitForSingleObject(events_->process.get(), 60000);
  const bool fired = ::WaitForSingleObject(events_->fired.get(), 0) == WAIT_OBJECT_0;
  events_.reset();
  return !fired;
}

std::optional<GuardCall> GuardCallOf(const Text& commandLine) {
  const Text marker = Text(" ") + kGuardSwitch + " ";
  const std::size_t at = commandLine.find(marker);
  if (at == Text::npos) return std::nullopt;
  const std::size_t base = at + marker.size();
  const std::size_t blank = commandLine.find(' ', base);
  // The base is the program's own "ipmod-guard-PID-TICKS": its events' names must fit.
  if (blank == Text::npos || blank - base > kMostBase) return std::nullopt;
  std::optional<GuardOrder> order = DecodeGuardOrder(commandLine.substr(blank + 1));
  if (!order) return std::nullopt;
  return GuardCall{commandLine.substr(base, blank - base), std::move(*order)};
}

void RunGuard(const GuardCall& call) {
  const char* base = call.base.c_str();
  const ScopedHandle postpone(::OpenEventA(SYNCHRONIZE, FALSE, EventName(base, "postpone").text));
  const ScopedHandle end(::OpenEventA(SYNCHRONIZE, FALSE, EventName(base, "end").text));
  const ScopedHandle fired(::OpenEventA(EVENT_MODIFY_STATE, FALSE, EventName(base, "fired").text));
  const DWORD window = call.order.seconds * 1000;
  DWORD deadline = ::GetTickCount() + window;
  // Without the program's events (it ended before they were opened) the window runs out alone.
  const HANDLE told[] = {end.get(), postpone.get()};
  const DWORD count = end && postpone ? 2 : 0;
  for (;;) {
    const DWORD now = ::GetTickCount();
    const DWORD left = static_cast<int32_t>(deadline - now) > 0 ? deadline - now : 0;
    const DWORD woken = count > 0 ? ::WaitForMultipleObjects(count, told, FALSE, left)
                                  : (::Sleep(left), WAIT_TIMEOUT);
    if (woken == WAIT_OBJECT_0) return;
    if (woken == WAIT_OBJECT_0 + 1) {
      deadline = ::GetTickCount() + window;
      continue;
    }
    if (woken != WAIT_TIMEOUT) ::Sleep(left);  // a wait that failed: the window all the same
    break;
  }
  // Told to end just as the deadline passed: the program keeps what it has.
  if (end && ::WaitForSingleObject(end.get(), 0) == WAIT_OBJECT_0) return;
  if (fired) ::SetEvent(fired.get());

  const auto adapters = MakeIpHelperSource();
  SystemRegistry registry;
  SystemCommandRunner commands;
  SystemClock clock;
  // Its restore is a change like any other: what it replaces goes to the history.
  const ConnectionSettings now =
      ReadConnectionSettings(*adapters, registry, call.order.adapterName);
  std::optional<HistoryRecord> replaced;
  if (now.stored && ChangesSince(call.order.snapshot, *now.stored).Any()) {
    replaced = MakeHistoryRecord(call.order.adapterName, call.order.connectionName, *now.stored);
  }
  ConsoleText unsaved;
  if (replaced) FileHistory().Add(std::move(*replaced), &unsaved);
  if (const std::optional<Text> account =
          GuardRestore({*adapters, registry, commands, clock}, call.order)) {
    WriteAccount(*account);
  }
}

}  // namespace ipmod

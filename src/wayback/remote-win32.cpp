// The running session's facts, and the guard as a process of its own: the program started
// again, detached from the console and from the session's job, so that it outlives the program
// however that ends. The program tells it through named events, which it waits on:
//   <base>-ready     (manual)     set by the guard once it holds the others: it is in charge
//   <base>-postpone  (auto-reset) the deadline moves to the window's length from now
//   <base>-end       (manual)     end without restoring anything
//   <base>-fired     (manual)     set by the guard once its deadline has passed, before it
//                                 restores: the program reads it to learn whether it did
//   <base>-restore   (mutex)      held by whichever of the two puts the snapshot back, so that
//                                 they never do at once; the guard takes it once its deadline
//                                 has passed, and finds it abandoned where the program died
//                                 during its own restore
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

// How long the program waits for a guard to take charge (one that cannot ends sooner), and for
// one told to end.
constexpr DWORD kReadyMs = 30000;
constexpr DWORD kEndMs = 10000;

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

// The name of one of a guard's events: <base>-<what>.
struct EventName {
  EventName(const char* base, const char* what) { ::wsprintfA(text, "%s-%s", base, what); }
  char text[96];
};

// The account file in `folder` when it can be appended to: it is there and opens, or a file of
// that name can be made (and is gone again at once).
std::optional<Text> AccountIn(const Text& folder) {
  const Text file = folder + "\\" + kAccountFile;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  if (ScopedHandle(::CreateFileA(file.c_str(), FILE_APPEND_DATA, share, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr))) {
    return file;
  }
  if (::GetLastError() != ERROR_FILE_NOT_FOUND) return std::nullopt;
  if (ScopedHandle(::CreateFileA(file.c_str(), GENERIC_WRITE, share, nullptr, CREATE_NEW,
                                 FILE_FLAG_DELETE_ON_CLOSE, nullptr))) {
    return file;
  }
  return std::nullopt;
}

// Beside the program, else in %ProgramData%\ipmod (which XP does not have).
std::optional<Text> AccountPath() {
  if (const std::optional<Text> path = ProgramPath()) {
    if (std::optional<Text> file = AccountIn(SplitAtLastBackslash(*path).head)) return file;
  }
  char data[MAX_PATH];
  const DWORD length = ::GetEnvironmentVariableA("ProgramData", data, sizeof data);
  if (length == 0 || length >= sizeof data) return std::nullopt;
  const Text folder = Text(data, length) + "\\ipmod";
  ::CreateDirectoryA(folder.c_str(), nullptr);
  return AccountIn(folder);
}

// Appends the account, after the local time, to the account file.
void WriteAccount(const Text& account) {
  const std::optional<Text> file = AccountPath();
  if (!file) return;
  ScopedHandle log(::CreateFileA(file->c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!log) return;
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
  ScopedHandle postpone, end, fired, ready, restore, process;
  bool holding = false;  // the program holds `restore`
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
  events->ready.reset(::CreateEventA(nullptr, TRUE, FALSE, EventName(base, "ready").text));
  events->restore.reset(::CreateMutexA(nullptr, FALSE, EventName(base, "restore").text));
  if (!events->postpone || !events->end || !events->fired || !events->ready || !events->restore) {
    return false;
  }

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
  // A guard that never takes charge (it could not open the events) is no guard; one that does
  // so late is told to end.
  const HANDLE started[] = {events->ready.get(), events->process.get()};
  if (::WaitForMultipleObjects(2, started, FALSE, kReadyMs) != WAIT_OBJECT_0) {
    ::SetEvent(events->end.get());
    return false;
  }
  events_ = std::move(events);
  return true;
}

std::optional<Text> ProcessGuard::AccountFile() { return AccountPath(); }

void ProcessGuard::Postpone() {
  if (events_) ::SetEvent(events_->postpone.get());
}

void ProcessGuard::TakeOver() {
  if (!events_ || events_->holding) return;
  // Abandoned: the guard ended while holding it, after its own restore all the same.
  const DWORD taken = ::WaitForSingleObject(events_->restore.get(), INFINITE);
  events_->holding = taken == WAIT_OBJECT_0 || taken == WAIT_ABANDONED;
}

bool ProcessGuard::End() {
  if (!events_) return true;
  ::SetEvent(events_->end.get());
  if (events_->holding) ::ReleaseMutex(events_->restore.get());
  // It ends at once, unless it has begun to restore: it then ends once it has put back what it
  // could, however long that takes. (It sets `fired` before it looks for the word to end.)
  const HANDLE process = events_->process.get();
  if (::WaitForSingleObject(process, kEndMs) == WAIT_TIMEOUT &&
      ::WaitForSingleObject(events_->fired.get(), 0) == WAIT_OBJECT_0) {
    ::WaitForSingleObject(process, INFINITE);
  }
  const bool fired = ::WaitForSingleObject(events_->fired.get(), 0) == WAIT_OBJECT_0;
  events_.reset();
  return !fired;
}

void RunGuard(const GuardCall& call) {
  const char* base = call.base.c_str();
  const ScopedHandle postpone(::OpenEventA(SYNCHRONIZE, FALSE, EventName(base, "postpone").text));
  const ScopedHandle end(::OpenEventA(SYNCHRONIZE, FALSE, EventName(base, "end").text));
  const ScopedHandle fired(::OpenEventA(EVENT_MODIFY_STATE, FALSE, EventName(base, "fired").text));
  const ScopedHandle ready(::OpenEventA(EVENT_MODIFY_STATE, FALSE, EventName(base, "ready").text));
  const ScopedHandle restore(::OpenMutexA(SYNCHRONIZE, FALSE, EventName(base, "restore").text));
  // Without them the program hears nothing from it, and goes on unguarded.
  if (!postpone || !end || !fired || !ready || !restore) return;
  ::SetEvent(ready.get());
  const DWORD window = call.order.seconds * 1000;
  DWORD deadline = ::GetTickCount() + window;
  const HANDLE told[] = {end.get(), postpone.get()};
  for (;;) {
    const DWORD now = ::GetTickCount();
    const DWORD left = static_cast<int32_t>(deadline - now) > 0 ? deadline - now : 0;
    const DWORD woken = ::WaitForMultipleObjects(2, told, FALSE, left);
    if (woken == WAIT_OBJECT_0) return;
    if (woken == WAIT_OBJECT_0 + 1) {
      deadline = ::GetTickCount() + window;
      continue;
    }
    if (woken != WAIT_TIMEOUT) ::Sleep(left);  // a wait that failed: the window all the same
    break;
  }
  // While the program puts the snapshot back itself it holds the mutex: it then ends the guard,
  // or dies and leaves the mutex abandoned, and the rest is put back here.
  const HANDLE turn[] = {end.get(), restore.get()};
  const DWORD taken = ::WaitForMultipleObjects(2, turn, FALSE, INFINITE);
  if (taken != WAIT_OBJECT_0 + 1 && taken != WAIT_ABANDONED_0 + 1) return;
  // Fired before the word to end is looked for: a program that finds it unset once it has told
  // the guard to end knows that nothing will be put back.
  ::SetEvent(fired.get());
  if (::WaitForSingleObject(end.get(), 0) == WAIT_OBJECT_0) {
    ::ResetEvent(fired.get());
    ::ReleaseMutex(restore.get());
    return;
  }

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
  ::ReleaseMutex(restore.get());
}

}  // namespace ipmod

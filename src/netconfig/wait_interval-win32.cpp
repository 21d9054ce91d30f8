// The wait between two polls of a running command: a one-shot waitable timer, with the thread's
// messages dispatched while it runs.
#include <windows.h>

#include <cstdint>
#include <optional>

#include "netconfig/netconfig.h"
#include "netconfig/wait_interval_fallback.h"
#include "runtime/system.h"
#include "runtime/win32_handle.h"

namespace ipmod {

namespace {

// QS_KEY | QS_MOUSEMOVE | QS_MOUSEBUTTON | QS_POSTMESSAGE | QS_TIMER | QS_PAINT |
// QS_SENDMESSAGE | QS_HOTKEY.
constexpr DWORD kWakeMask = 0xFF;

// Whole milliseconds until `dueTime`, rounded up; 0 when it has passed.
uint64_t MillisecondsUntil(int64_t dueTime) {
  uint64_t hundredNanoseconds = 0;
  if (dueTime < 0) {
    hundredNanoseconds = static_cast<uint64_t>(-(dueTime + 1)) + 1;
  } else {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const uint64_t current = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const auto due = static_cast<uint64_t>(dueTime);
    if (due <= current) return 0;
    hundredNanoseconds = due - current;
  }
  return hundredNanoseconds / 10000 + (hundredNanoseconds % 10000 != 0 ? 1 : 0);
}

}  // namespace

void WaitWithoutTimer(int64_t dueTime) {
  // INFINITE itself would never time out.
  constexpr DWORD kLongestTimeout = INFINITE - 1;
  const uint64_t total = MillisecondsUntil(dueTime);
  uint64_t elapsed = 0;
  DWORD last = GetTickCount();
  while (elapsed < total) {
    const uint64_t left = total - elapsed;
    const DWORD timeout = left < kLongestTimeout ? static_cast<DWORD>(left) : kLongestTimeout;
    if (MsgWaitForMultipleObjects(0, nullptr, FALSE, timeout, kWakeMask) != WAIT_TIMEOUT) {
      ProcessEvents();
    }
    const DWORD now = GetTickCount();
    elapsed += static_cast<DWORD>(now - last);  // unsigned difference survives the wrap-around
    last = now;
  }
}

bool WaitInterval(int32_t interval, std::optional<int32_t> unit) {
  const int64_t dueTime = DueTime(interval, unit);
  ScopedHandle timer(CreateWaitableTimerA(nullptr, FALSE, nullptr));
  LARGE_INTEGER due{};
  due.QuadPart = dueTime;
  if (timer && SetWaitableTimer(timer.get(), &due, 0, nullptr, nullptr, FALSE)) {
    HANDLE handles[] = {timer.get()};
    for (;;) {
      const DWORD woken = MsgWaitForMultipleObjects(1, handles, FALSE, INFINITE, kWakeMask);
      if (woken == WAIT_OBJECT_0) return true;
      if (woken == WAIT_FAILED) break;
      ProcessEvents();
    }
  }
  // Without a timer that can fire, the wait above would never end.
  WaitWithoutTimer(dueTime);
  return true;
}

void PumpPendingInput() {
  if (GetInputState()) ProcessEvents();
}

uint32_t SystemClock::Milliseconds() { return GetTickCount(); }

void SystemClock::Wait(int32_t milliseconds) { WaitInterval(milliseconds); }

}  // namespace ipmod

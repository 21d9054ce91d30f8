// The program: the dialogue on the real console, adapters, registry and commands; or, started
// by it with a guard's order, the guard of a remote change.
#include <windows.h>

#include "dialogue/dialogue.h"
#include "wayback/history-win32.h"
#include "wayback/remote-win32.h"
#include "runtime/system.h"

namespace {

int32_t Start() {
  if (const std::optional<ipmod::GuardCall> call = ipmod::GuardCallOf(::GetCommandLineA())) {
    ipmod::RunGuard(*call);
    return 0;
  }
  ipmod::SystemConsole console;
  const auto adapters = ipmod::MakeIpHelperSource();
  ipmod::SystemRegistry registry;
  ipmod::SystemCommandRunner commands;
  ipmod::SystemClock clock;
  ipmod::SystemSession session;
  ipmod::ProcessGuard guard;
  ipmod::FileHistory history;
  return ipmod::Dialogue({console, *adapters, registry, commands, clock, session, guard, history});
}

}  // namespace

int main() { return ipmod::RunStartRoutine(Start); }

// The program: the dialogue on the real console, adapters, registry and commands.
#include "dialogue/dialogue.h"
#include "runtime/system.h"

namespace {

int32_t Start() {
  ipmod::SystemConsole console;
  const auto adapters = ipmod::MakeIpHelperSource();
  ipmod::SystemRegistry registry;
  ipmod::SystemCommandRunner commands;
  ipmod::SystemClock clock;
  return ipmod::Dialogue({console, *adapters, registry, commands, clock});
}

}  // namespace

int main() { return ipmod::RunStartRoutine(Start); }

#include <cstdio>
#include <cstdlib>

#include "runtime/runtime_error_system.h"

namespace ipmod {

void ShowRuntimeErrorAndExit(const RuntimeErrorMessage& message) {
  std::fwrite(message.c_str(), 1, message.size(), stderr);
  std::fflush(stderr);
  // Like the Windows path: no exit handlers, status 255 (the -1 of ExitProcess).
  std::_Exit(255);
}

}  // namespace ipmod

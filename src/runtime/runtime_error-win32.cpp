// The runtime error report on Windows: the message box, then exit code -1.
#include <windows.h>

#include "runtime/runtime_error_system.h"
#include "runtime/startup-win32.h"

namespace ipmod {

void ShowRuntimeErrorAndExit(const RuntimeErrorMessage& message) {
  ::MessageBoxA(nullptr, message.c_str(), "错误", MB_ICONERROR | MB_OK);
  // The shutdown of this path: no exit routines and no C runtime exit handlers run; loaded
  // libraries go with the process.
  EndRuntimeSession();
  ::ExitProcess(static_cast<UINT>(-1));
}

}  // namespace ipmod

// The platform's ending of a runtime error report; one definition per platform.
#pragma once

#include "runtime/runtime_error.h"

namespace ipmod {

// Windows: the message box titled "错误" (MB_ICONERROR, MB_OK), then exit code -1 without the
// C runtime's exit handlers. Elsewhere: the message on standard error and exit status 255.
[[noreturn]] void ShowRuntimeErrorAndExit(const RuntimeErrorMessage& message);

}  // namespace ipmod

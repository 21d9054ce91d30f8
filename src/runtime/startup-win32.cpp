// The process around the program's start routine.
#include "runtime/startup-win32.h"

#include <ole2.h>
#include <windows.h>

#include "runtime/system.h"

namespace ipmod {
namespace {

// The thread whose OLE session start-up opened; 0 while none is open.
DWORD oleThread = 0;

// OLE for the length of the run, on the thread that runs it.
class OleSession {
 public:
  OleSession() {
    if (SUCCEEDED(::OleInitialize(nullptr))) oleThread = ::GetCurrentThreadId();
  }
  ~OleSession() { EndRuntimeSession(); }
  OleSession(const OleSession&) = delete;
  OleSession& operator=(const OleSession&) = delete;
};

// Makes the directory of the program file the current directory, so that the commands the
// program starts run there too.
void EnterProgramDirectory() {
  char path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
  // A cut-off path would name some other directory; better to stay where we are.
  if (length == 0 || length >= sizeof path) return;
  Text directory = SplitAtLastBackslash(Text(path, length)).head;
  // "C:" alone means drive C's current directory, not its root.
  if (directory.size() == 2 && directory[1] == ':') directory += '\\';
  if (!directory.empty()) ::SetCurrentDirectoryA(directory.c_str());
}

// The program's two global initialisers. Its globals need no set-up, so both are empty; they
// mark where such set-up would go, before the start routine runs.
void InitialiseGlobals() {}
void InitialiseLateGlobals() {}

}  // namespace

void EndRuntimeSession() {
  if (oleThread != 0 && oleThread == ::GetCurrentThreadId()) {
    oleThread = 0;
    ::OleUninitialize();
  }
}

int RunStartRoutine(int32_t (*start)()) {
  OleSession ole;
  EnterProgramDirectory();
  InitialiseGlobals();
  InitialiseLateGlobals();
  static_cast<void>(start());
  return 0;
}

}  // namespace ipmod

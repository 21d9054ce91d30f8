// A marker for the end-to-end tests: copies of it are planted beside ipmod.exe under the names
// of the system's own programs (netsh.exe, netsh.com, cmd.exe). Whenever a copy is started it
// appends its own path and its command line, then CR LF, to the file named by
// IPMOD_E2E_PLANTED_LOG, prints nothing and exits 0, so a test can tell that one of them ran.
#include <windows.h>

namespace {

void WriteAll(HANDLE file, const char* bytes, DWORD size) {
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(file, bytes, size, &written, nullptr) || written == 0) return;
    bytes += written;
    size -= written;
  }
}

}  // namespace

int main() {
  char logPath[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("IPMOD_E2E_PLANTED_LOG", logPath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 0;
  HANDLE log = CreateFileA(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 0;
  char self[MAX_PATH] = {};
  const DWORD selfLength = GetModuleFileNameA(nullptr, self, MAX_PATH);
  WriteAll(log, self, selfLength < MAX_PATH ? selfLength : 0);
  WriteAll(log, " | ", 3);
  const char* commandLine = GetCommandLineA();
  WriteAll(log, commandLine, lstrlenA(commandLine));
  WriteAll(log, "\r\n", 2);
  CloseHandle(log);
  return 0;
}

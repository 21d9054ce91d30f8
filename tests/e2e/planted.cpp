// A marker for the end-to-end tests: copies of it are planted beside ipmod.exe under the names
// of the system's own programs (netsh.exe, netsh.com, cmd.exe). Whenever a copy is started it
// appends its own path and its command line, then CR LF, to the file named by
// IPMOD_E2E_PLANTED_LOG, prints nothing and exits 0, so a test can tell that one of them ran.
// Started with the one argument --state, it logs the console's settings instead:
// "state IN OUT ATTRIBUTE" (input and output code page, text attribute in hex).
#include <windows.h>

#include <cstdio>
#include <cstring>

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
  const char* commandLine = GetCommandLineA();
  // cmd hands on "a --state & b" with the blank before "&".
  const char* tail = std::strstr(commandLine, " --state");
  if (tail != nullptr && tail[8 + std::strspn(tail + 8, " ")] == '\0') {
    CONSOLE_SCREEN_BUFFER_INFO screen = {};
    GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &screen);
    char state[64];
    const int length = std::snprintf(state, sizeof state, "state %u %u %04x\r\n", GetConsoleCP(),
                                     GetConsoleOutputCP(), screen.wAttributes);
    WriteAll(log, state, static_cast<DWORD>(length));
    CloseHandle(log);
    return 0;
  }
  char self[MAX_PATH] = {};
  const DWORD selfLength = GetModuleFileNameA(nullptr, self, MAX_PATH);
  WriteAll(log, self, selfLength < MAX_PATH ? selfLength : 0);
  WriteAll(log, " | ", 3);
  WriteAll(log, commandLine, lstrlenA(commandLine));
  WriteAll(log, "\r\n", 2);
  CloseHandle(log);
  return 0;
}

// Bench-only reference programs, started the way ipmod.exe is started, to measure against.
// IPMOD_BENCH_PROBE picks what it does:
//   (unset)      writes "bench-ready" and waits for a line (a trivial console program);
//   pipe         the same, then runs "cmd.exe /c netsh bench" from the system directory
//                    with its output in a pipe, reads it with blocking reads until the pipe
//                    breaks, keeping every byte, and writes "bench-done <bytes>";
//   file:PATH    the same, but the interpreter sends the output to PATH ("> PATH") and the
//                probe waits for it to end.
// Each then waits for one more line, so that its memory can be read while it lives.
#include <windows.h>

namespace {

void Write(const char* text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, lstrlenA(text), &written, nullptr);
}

void WaitForLine() {
  char buffer[256];
  DWORD read = 0;
  ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof(buffer), &read, nullptr);
}

void Append(char* text, const char* more) { lstrcatA(text, more); }

// Starts the interpreter line with `output` as its standard output and error (none: inherit).
HANDLE StartInterpreter(char* line, HANDLE output) {
  char directory[MAX_PATH];
  GetSystemDirectoryA(directory, MAX_PATH);
  char application[MAX_PATH + 16];
  lstrcpyA(application, directory);
  Append(application, "\\cmd.exe");
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW | (output != nullptr ? STARTF_USESTDHANDLES : 0);
  startup.wShowWindow = SW_HIDE;
  startup.hStdOutput = output;
  startup.hStdError = output;
  PROCESS_INFORMATION created{};
  if (!CreateProcessA(application, line, nullptr, nullptr, TRUE, 0, nullptr, directory, &startup,
                      &created)) {
    return nullptr;
  }
  CloseHandle(created.hThread);
  return created.hProcess;
}

// Reads the pipe with blocking reads until it breaks; returns the number of bytes kept.
unsigned long long ReadUntilBroken(HANDLE pipe) {
  HANDLE heap = GetProcessHeap();
  SIZE_T capacity = 1 << 16;
  SIZE_T size = 0;
  auto* kept = static_cast<char*>(HeapAlloc(heap, 0, capacity));
  for (;;) {
    if (capacity - size < (1 << 16)) {
      capacity *= 2;
      kept = static_cast<char*>(HeapReAlloc(heap, 0, kept, capacity));
    }
    DWORD read = 0;
    if (!ReadFile(pipe, kept + size, 1 << 16, &read, nullptr) || read == 0) break;
    size += read;
  }
  HeapFree(heap, 0, kept);
  return size;
}

void WriteDone(unsigned long long bytes) {
  char digits[32];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + bytes % 10);
    bytes /= 10;
  } while (bytes != 0);
  char text[64] = "bench-done ";
  int length = lstrlenA(text);
  while (count > 0) text[length++] = digits[--count];
  text[length++] = '\r';
  text[length++] = '\n';
  text[length] = '\0';
  Write(text);
}

}  // namespace

int main() {
  Write("bench-ready\r\n");
  WaitForLine();
  static char mode[MAX_PATH + 8];
  const DWORD size = GetEnvironmentVariableA("IPMOD_BENCH_PROBE", mode, sizeof(mode));
  if (size == 0 || size >= sizeof(mode)) mode[0] = '\0';
  if (lstrcmpA(mode, "pipe") == 0) {
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    CreatePipe(&readEnd, &writeEnd, &inheritable, 0);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    char line[] = "cmd.exe /c netsh bench";
    HANDLE process = StartInterpreter(line, writeEnd);
    CloseHandle(writeEnd);
    const unsigned long long bytes = ReadUntilBroken(readEnd);
    CloseHandle(readEnd);
    if (process != nullptr) CloseHandle(process);
    WriteDone(bytes);
    WaitForLine();
  } else if (mode[0] == 'f' && mode[1] == 'i' && mode[2] == 'l' && mode[3] == 'e' &&
             mode[4] == ':') {
    static char line[MAX_PATH + 64] = "cmd.exe /c netsh bench > ";
    Append(line, mode + 5);
    HANDLE process = StartInterpreter(line, nullptr);
    if (process != nullptr) {
      WaitForSingleObject(process, INFINITE);
      CloseHandle(process);
    }
    WriteDone(0);
    WaitForLine();
  }
  return 0;
}

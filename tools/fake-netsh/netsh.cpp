// A stand-in for the system's netsh.exe, for tests. It
// - appends its whole command line (bytes as given, GBK kept) and CR LF to the file named by
//   FAKE_NETSH_LOG, when that is set;
// - counts its calls: call N is the one that finds N - 1 lines in that log;
// - sleeps FAKE_NETSH_SLEEP_MS_<N>, or else FAKE_NETSH_SLEEP_MS, milliseconds (decimal; values
//   beyond 32 bits, or 4294967295 itself, wait for ever) before it answers;
// - writes the bytes of the file named by FAKE_NETSH_REPLY_<N>, or else FAKE_NETSH_REPLY, to
//   its standard output, FAKE_NETSH_REPEAT_<N>, or else FAKE_NETSH_REPEAT, times (default 1);
// - exits with FAKE_NETSH_EXIT_<N>, or else FAKE_NETSH_EXIT (decimal), or else 0.
// Works on fixed buffers and the system's own calls only.
#include <windows.h>

namespace {

constexpr DWORD kValueSize = 4096;

// The variable's value in `value`; false when it is not set or does not fit.
bool ReadVariable(const char* name, char (&value)[kValueSize]) {
  const DWORD size = GetEnvironmentVariableA(name, value, kValueSize);
  return size > 0 && size < kValueSize;
}

// `base` followed by "_" and `number` in decimal.
void NumberedName(const char* base, unsigned number, char (&name)[64]) {
  int length = 0;
  while (base[length] != '\0' && length < 40) {
    name[length] = base[length];
    ++length;
  }
  name[length++] = '_';
  char digits[16];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0);
  while (count > 0) name[length++] = digits[--count];
  name[length] = '\0';
}

// The numbered variable when it is set, else the plain one.
bool ReadSetting(const char* base, unsigned call, char (&value)[kValueSize]) {
  char numbered[64];
  NumberedName(base, call, numbered);
  return ReadVariable(numbered, value) || ReadVariable(base, value);
}

bool WriteAll(HANDLE file, const char* bytes, DWORD size) {
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(file, bytes, size, &written, nullptr) || written == 0) return false;
    bytes += written;
    size -= written;
  }
  return true;
}

// Counts the lines already in the log and appends this call's line. Returns the call number.
unsigned LogCall(const char* logPath) {
  HANDLE log = CreateFileA(logPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 1;
  unsigned lines = 0;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(log, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    for (DWORD i = 0; i < read; ++i) {
      if (buffer[i] == '\n') ++lines;
    }
  }
  SetFilePointer(log, 0, nullptr, FILE_END);
  const char* commandLine = GetCommandLineA();
  WriteAll(log, commandLine, lstrlenA(commandLine));
  WriteAll(log, "\r\n", 2);
  CloseHandle(log);
  return lines + 1;
}

// Writes the file's bytes `times` times over.
void CopyFileToOutput(const char* path, DWORD times) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
  HANDLE reply = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (reply == INVALID_HANDLE_VALUE) return;
  static char buffer[65536];
  bool writing = true;
  for (DWORD round = 0; writing && round < times; ++round) {
    SetFilePointer(reply, 0, nullptr, FILE_BEGIN);
    DWORD read = 0;
    while (writing && ReadFile(reply, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
      writing = WriteAll(output, buffer, read);
    }
  }
  CloseHandle(reply);
}

// Unsigned decimal; stops at the first non-digit and stays at 4294967295 beyond it.
DWORD ParseCount(const char* text) {
  unsigned long long value = 0;
  while (*text >= '0' && *text <= '9' && value <= 0xFFFFFFFFull) {
    value = value * 10 + static_cast<unsigned>(*text++ - '0');
  }
  return value > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(value);
}

// Decimal with an optional sign; whatever follows the digits is ignored.
int ParseExitCode(const char* text) {
  bool negative = false;
  if (*text == '-' || *text == '+') negative = *text++ == '-';
  unsigned value = 0;
  while (*text >= '0' && *text <= '9') value = value * 10 + static_cast<unsigned>(*text++ - '0');
  return static_cast<int>(negative ? 0u - value : value);
}

}  // namespace

int main() {
  char value[kValueSize];
  const unsigned call = ReadVariable("FAKE_NETSH_LOG", value) ? LogCall(value) : 1;
  if (ReadSetting("FAKE_NETSH_SLEEP_MS", call, value)) Sleep(ParseCount(value));  // ~0u: INFINITE
  char path[kValueSize];
  if (ReadSetting("FAKE_NETSH_REPLY", call, path)) {
    const DWORD times = ReadSetting("FAKE_NETSH_REPEAT", call, value) ? ParseCount(value) : 1;
    CopyFileToOutput(path, times);
  }
  const int exitCode = ReadSetting("FAKE_NETSH_EXIT", call, value) ? ParseExitCode(value) : 0;
  ExitProcess(static_cast<UINT>(exitCode));
}

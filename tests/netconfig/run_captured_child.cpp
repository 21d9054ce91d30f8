// A child for the captured-runner tests, started through cmd.exe:
//   pieces PAUSE_MS ITEM...   writes each item, pausing between them; "o:TEXT" goes to standard
//                             output, "e:TEXT" to standard error
//   exit CODE [TEXT]          writes TEXT (if given) and ends at once with CODE
//   lines COUNT               writes COUNT numbered lines, one write each, then ends
//   zero                      writes "ab", a zero byte and "cd" in one write, then, once the
//                             reader has taken that, "ef"
//   stdin                     tells whether it can read anything from standard input
//   env                       writes its PATH and whether NoDefaultCurrentDirectoryInExePath is
//                             set, as "PATH=...\r\nNoDefault...: set|unset"
//   wide NAME                 writes the UTF-16 units of variable NAME's value as four hex
//                             digits each, blank-separated, or "unset"
// Started in any other way (as a planted cmd.exe or netsh.exe) it appends its command line to
// the file named by NETCONFIG_PLANTED_LOG and ends with 0.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Write(DWORD which, const std::string& bytes) {
  DWORD written = 0;
  WriteFile(GetStdHandle(which), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

int Pieces(int argc, char** argv) {
  const DWORD pause = static_cast<DWORD>(std::atoi(argv[2]));
  for (int i = 3; i < argc; ++i) {
    if (i > 3) Sleep(pause);
    const std::string item = argv[i];
    Write(item.compare(0, 2, "e:") == 0 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE, item.substr(2));
  }
  return 0;
}

int Lines(int count) {
  for (int i = 1; i <= count; ++i) Write(STD_OUTPUT_HANDLE, "line " + std::to_string(i) + "\r\n");
  return 0;
}

int Zero() {
  Write(STD_OUTPUT_HANDLE, std::string("ab\0cd", 5));
  // Returns once the reader has taken it all: "ef" comes in a read of its own.
  FlushFileBuffers(GetStdHandle(STD_OUTPUT_HANDLE));
  Write(STD_OUTPUT_HANDLE, "ef");
  return 0;
}

int Stdin() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  char byte = 0;
  DWORD read = 0;
  const bool got = input != nullptr && input != INVALID_HANDLE_VALUE &&
                   ReadFile(input, &byte, 1, &read, nullptr) && read == 1;
  Write(STD_OUTPUT_HANDLE, got ? "stdin: read" : "stdin: nothing");
  return 0;
}

int Environment() {
  char path[32768];
  const DWORD length = GetEnvironmentVariableA("PATH", path, sizeof path);
  Write(STD_OUTPUT_HANDLE, "PATH=" + std::string(path, length < sizeof path ? length : 0) + "\r\n");
  const bool set = GetEnvironmentVariableA("NoDefaultCurrentDirectoryInExePath", nullptr, 0) > 0 ||
                   GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  Write(STD_OUTPUT_HANDLE,
        std::string("NoDefaultCurrentDirectoryInExePath: ") + (set ? "set" : "unset"));
  return 0;
}

int WideVariable(const char* name) {
  const std::wstring wideName(name, name + std::strlen(name));
  wchar_t value[32768];
  const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value, 32768);
  if (length == 0 || length >= 32768) {
    Write(STD_OUTPUT_HANDLE, "unset");
    return 0;
  }
  std::string hex;
  char unit[8];
  for (DWORD i = 0; i < length; ++i) {
    std::snprintf(unit, sizeof unit, i == 0 ? "%04x" : " %04x", static_cast<unsigned>(value[i]));
    hex += unit;
  }
  Write(STD_OUTPUT_HANDLE, hex);
  return 0;
}

int Planted() {
  char path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("NETCONFIG_PLANTED_LOG", path, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    const HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
      const std::string line = std::string(GetCommandLineA()) + "\r\n";
      DWORD written = 0;
      WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
      CloseHandle(log);
    }
  }
  Write(STD_OUTPUT_HANDLE, "planted");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "pieces" && argc > 2) return Pieces(argc, argv);
  if (mode == "exit" && argc > 2) {
    if (argc > 3) Write(STD_OUTPUT_HANDLE, argv[3]);
    ExitProcess(static_cast<UINT>(std::strtoul(argv[2], nullptr, 10)));
  }
  if (mode == "lines" && argc > 2) return Lines(std::atoi(argv[2]));
  if (mode == "zero") return Zero();
  if (mode == "stdin") return Stdin();
  if (mode == "env") return Environment();
  if (mode == "wide" && argc > 2) return WideVariable(argv[2]);
  return Planted();
}

// A small program around the real console and start-up, driven by test_console.py:
//   console_probe write LOG   a fixed set of WriteText calls; their results and the console's
//                             attribute before and after go to LOG
//   console_probe read LOG    every ReadLine result as hex, one line each, until the end of input
//   console_probe keys LOG    one ReadLine without echo, as hex
//   console_probe interrupted-read LOG  a ReadLine that a Ctrl+C ends the way Windows does; a
//                             line or the end of input as hex, should ReadLine ever return
//   console_probe interrupted-write LOG  at a key, one long coloured write that a Ctrl+C
//                             interrupts; whether it succeeded, should it ever return, and
//                             "interrupted" when the Ctrl+C reaches the handlers
//   console_probe cwd LOG     the current directory the start routine sees and whether OLE is
//                             initialised
//   console_probe result LOG  a start routine that returns 42
//   console_probe index0 LOG  an element access with index 0: the runtime error report
//   console_probe oom LOG     an allocation that cannot succeed: the report
//   console_probe length LOG  a text longer than the library allows: the report
//   console_probe uncaught LOG  an exception nobody catches (std::terminate): the report
// LOG gets one line per event and is flushed as it goes.
#include <ole2.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "runtime/console.h"
#include "runtime/runtime_error.h"
#include "runtime/system.h"

namespace {

using ipmod::Text;

std::string mode;
std::FILE* logFile = nullptr;

void Log(const std::string& line) {
  std::fputs((line + "\n").c_str(), logFile);
  std::fflush(logFile);
}

// "-" for the empty text, else two lower-case digits per byte.
std::string Hex(const Text& text) {
  if (text.empty()) return "-";
  std::string hex;
  char digits[3];
  for (const unsigned char byte : text) {
    std::snprintf(digits, sizeof digits, "%02x", byte);
    hex += digits;
  }
  return hex;
}

WORD CurrentAttribute() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0xFFFF;
  return info.wAttributes;
}

void Write() {
  using namespace ipmod;
  char attribute[32];
  std::snprintf(attribute, sizeof attribute, "before %04x", CurrentAttribute());
  Log(attribute);

  SystemConsole console;
  std::string results;
  const auto note = [&](bool ok) { results += ok ? '1' : '0'; };
  note(console.WriteText(50, 0, false, kYellow, kBlack, "BANNER"));
  // Only a row: at the cursor, just after the banner.
  note(console.WriteText(std::nullopt, 0, false, kRed, kBlack, "WARN"));
  note(console.WriteText(2, 2, false, kGreen, kBlack, "%s%d%%n 100%"));
  note(console.WriteText(2, 4, false, kCyan, kBlack, "BEFORE"));
  // Written elsewhere, then the cursor goes back behind BEFORE.
  note(console.WriteText(30, 6, true, kBrightWhite, kBlue, "RESTORED"));
  note(console.WriteText(std::nullopt, std::nullopt, false, kMagenta, kBlack, "NEXT"));
  note(console.WriteText(2, 8, false, 0, 17, "DEFAULTS"));
  note(console.WriteText(-1, 9, false, kYellow, kBlack, "NEVER"));
  note(console.WriteText(2, 10, false, kBrightGreen, kBlack, "中文"));
  // Only the low 16 bits of a coordinate count: row 12.
  note(console.WriteText(2, 0x10000 + 12, false, kYellow, kBlack, "LOW16"));
  note(console.WriteText(2, 14, false, kBrightRed, kBlack, "TWO\r\nLINES"));
  note(console.WriteText(2, 17, false, kYellow, kBlack, ""));
  // Something else writing afterwards: in the colours the console had before.
  const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD consoleMode = 0;
  if (::GetConsoleMode(output, &consoleMode)) {
    ::SetConsoleCursorPosition(output, COORD{2, 18});
    DWORD written = 0;
    ::WriteFile(output, "PLAIN", 5, &written, nullptr);
  }
  console.Destroy();
  console.Destroy();
  note(console.WriteText(2, 20, false, kYellow, kBlack, "GONE"));

  Log("results " + results);
  std::snprintf(attribute, sizeof attribute, "after %04x", CurrentAttribute());
  Log(attribute);
}

// A line as hex ("-" for the empty text), or "eof" when there is none.
std::string HexLine(const std::optional<Text>& line) { return line ? Hex(*line) : "eof"; }

void Read() {
  ipmod::SystemConsole console;
  for (;;) {
    const std::optional<Text> line = console.ReadLine();
    Log(HexLine(line));
    if (!line) break;
  }
  Log("again " + HexLine(console.ReadLine()));
}

void Keys() {
  ipmod::SystemConsole console;
  Log(HexLine(console.ReadLine(false)));
}

// Windows ends a console read that Ctrl+C interrupts at once (no characters, the error
// ERROR_OPERATION_ABORTED) and runs the control handlers on a thread of their own, which may start
// before or after the read has returned; Wine's console leaves the read waiting. Here the Ctrl+C
// comes at once, and a handler that runs before the console's own does what Windows does, in the
// order that is hardest for the reader: it ends the read (cancelled as synchronous I/O), and
// leaves the event to the console's handler only a while later. (So the time the system takes to
// start the handlers is not taken from the reader's wait for them.)
using CancelSynchronousIoRoutine = BOOL(WINAPI*)(HANDLE);
CancelSynchronousIoRoutine cancelRead = nullptr;
HANDLE reader = nullptr;

BOOL WINAPI InterruptTheRead(DWORD) {
  // Fails until the reader has begun to read.
  while (!cancelRead(reader)) ::Sleep(10);
  ::Sleep(300);
  return FALSE;
}

void InterruptedRead() {
  // Not in the headers of the Windows version the build is pinned to.
  cancelRead = reinterpret_cast<CancelSynchronousIoRoutine>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "CancelSynchronousIo")));
  if (cancelRead == nullptr) {
    Log("no CancelSynchronousIo");
    return;
  }
  ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &reader, 0,
                    FALSE, DUPLICATE_SAME_ACCESS);
  ipmod::SystemConsole console;
  ::SetConsoleCtrlHandler(InterruptTheRead, TRUE);
  ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
  Log(HexLine(console.ReadLine()));
  Log("again " + HexLine(console.ReadLine()));
}

// Logs that a Ctrl+C has reached the handlers. Registered after the console's own, it runs
// first, on the same thread, and leaves the event to that one.
BOOL WINAPI NoteTheInterrupt(DWORD) {
  Log("interrupted");
  return FALSE;
}

// One long write in colours (more than the writer hands the console at once), begun once a key
// is typed. The test has the terminal take no output by then, so the write stays in its middle
// until the test lets it go, once the Ctrl+C has reached the handlers.
void InterruptedWrite() {
  using namespace ipmod;
  SystemConsole console;
  ::SetConsoleCtrlHandler(NoteTheInterrupt, TRUE);
  const ConsoleText text(Text(3 * 0x10000, 'x') + "END");
  console.WaitForInput(INFINITE);
  Log(console.WriteText(std::nullopt, std::nullopt, false, kYellow, kBlue, text) ? "written"
                                                                                 : "not written");
}

// The current directory, and whether OLE is already initialised on this thread.
void StartedState() {
  char directory[MAX_PATH];
  const DWORD length = ::GetCurrentDirectoryA(sizeof directory, directory);
  Log(Hex(Text(directory, length)));
  const HRESULT ole = ::OleInitialize(nullptr);
  if (SUCCEEDED(ole)) ::OleUninitialize();
  Log(ole == S_FALSE ? "ole initialised" : "ole not initialised");
}

int32_t Start() {
  Log("start");
  if (mode == "write") {
    Write();
  } else if (mode == "read") {
    Read();
  } else if (mode == "keys") {
    Keys();
  } else if (mode == "interrupted-read") {
    InterruptedRead();
  } else if (mode == "interrupted-write") {
    InterruptedWrite();
  } else if (mode == "cwd") {
    StartedState();
  } else if (mode == "result") {
    return 42;
  } else if (mode == "index0") {
    std::vector<int> items = {1, 2, 3};
    Log("element " + std::to_string(ipmod::ElementAt(items, 0, ipmod::CheckSite{11, 22})));
  } else if (mode == "oom") {
    volatile std::size_t size = std::numeric_limits<std::size_t>::max() - 4096;
    void* volatile block = ::operator new(size);
    Log(block != nullptr ? "allocated" : "null");
  } else if (mode == "length") {
    std::string text;
    volatile std::size_t size = text.max_size();
    text.reserve(size + 1);
    Log("reserved");
  } else if (mode == "uncaught") {
    throw 42;
  } else {
    Log("unknown mode " + mode);
  }
  Log("end");
  return 42;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  mode = argv[1];
  logFile = std::fopen(argv[2], "wb");
  if (logFile == nullptr) return 3;
  return ipmod::RunStartRoutine(Start);
}

// The real console: the process's standard handles.
#include <conio.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "runtime/system.h"

namespace ipmod {

// The standard handles as the system gave them at construction. They belong to the process,
// so they are never closed here.
struct SystemConsole::Handles {
  HANDLE input;
  HANDLE output;
};

namespace {

// Hands all `count` units from `next` to `write` (a WriteFile or a WriteConsoleW), at most
// `largest` at a time, until everything is written or a call writes nothing.
template <typename Unit, typename Write>
bool WriteInChunks(const Unit* next, std::size_t count, DWORD largest, Write write) {
  while (count > 0) {
    DWORD written = 0;
    const DWORD chunk = count > largest ? largest : static_cast<DWORD>(count);
    if (!write(next, chunk, &written) || written == 0) return false;
    next += written;
    count -= written;
  }
  return true;
}

// Writes all of `text` to `output`, the way the console shows GBK bytes correctly (the C
// runtime's own stream garbles them on some consoles).
bool WriteAll(HANDLE output, const Text& text) {
  return WriteInChunks(text.data(), text.size(), 0x10000, [&](const char* at, DWORD n, DWORD* w) {
    return ::WriteFile(output, at, n, w, nullptr) != FALSE;
  });
}

// The characters of `text` for a console that does not show GBK: each piece read in its own
// code page. Nothing when a code page cannot be read; the bytes then go as they stand.
std::optional<std::vector<wchar_t>> WideCharacters(const ConsoleText& text) {
  std::vector<wchar_t> wide;
  for (const ConsoleText::Piece& piece : text.pieces()) {
    if (piece.bytes.empty()) continue;
    static_assert(kSystemCodePage == CP_ACP, "the system's code page is CP_ACP");
    const UINT codePage = piece.codePage;
    const int size = static_cast<int>(piece.bytes.size());
    const int count = ::MultiByteToWideChar(codePage, 0, piece.bytes.data(), size, nullptr, 0);
    if (count <= 0) return std::nullopt;
    const std::size_t at = wide.size();
    wide.resize(at + static_cast<std::size_t>(count));
    if (::MultiByteToWideChar(codePage, 0, piece.bytes.data(), size, &wide[at], count) != count) {
      return std::nullopt;
    }
  }
  return wide;
}

bool WriteAllWide(HANDLE output, const std::vector<wchar_t>& text) {
  return WriteInChunks(text.data(), text.size(), 0x4000, [&](const wchar_t* at, DWORD n, DWORD* w) {
    return ::WriteConsoleW(output, at, n, w, nullptr) != FALSE;
  });
}

// A lock for the life of the process: made before main runs, and so before any control handler
// is registered, and never deleted, since a control handler keeps it until the process is gone.
class ProcessLock {
 public:
  ProcessLock() { ::InitializeCriticalSection(&section_); }
  ProcessLock(const ProcessLock&) = delete;
  ProcessLock& operator=(const ProcessLock&) = delete;

  void Enter() { ::EnterCriticalSection(&section_); }
  void Leave() { ::LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

// Holds a lock for as long as it exists.
class Holding {
 public:
  explicit Holding(ProcessLock& lock) : lock_(lock) { lock_.Enter(); }
  ~Holding() { lock_.Leave(); }
  Holding(const Holding&) = delete;
  Holding& operator=(const Holding&) = delete;

 private:
  ProcessLock& lock_;
};

// Held by every write from its first console call until its colours are back, and taken for
// good by a console event (Ctrl+C, Ctrl+Break, a closed window) that ends the program.
ProcessLock consoleWrites;

// Set, and never reset, by a console event that ends the program, before the handler takes the
// lock: a read that comes back empty-handed and the end of the run look for it. Should it not
// be made, nothing ever waits for it.
const HANDLE endingEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);

// Ending and writing exclude each other: the handler waits for a write in progress to finish,
// which puts the colours back itself, and no write starts after it. So nothing is left to
// restore here, and no attribute or handle is kept for it. An interrupt ends the program as the
// system's own handling does on Windows, with its exit code (Wine's would end it with 0); for
// any other event (a closed window, a logoff, a shutdown) the system's handling goes on.
BOOL WINAPI EndBetweenWrites(DWORD event) {
  ::SetEvent(endingEvent);
  consoleWrites.Enter();  // never left
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) ::ExitProcess(CONTROL_C_EXIT);
  return FALSE;
}

// True once a console event is ending the program, waiting for that up to `milliseconds`.
bool Ending(DWORD milliseconds) {
  return ::WaitForSingleObject(endingEvent, milliseconds) == WAIT_OBJECT_0;
}

// For a thread that must neither go on nor return while the handler ends the program.
[[noreturn]] void AwaitTheEnd() {
  for (;;) ::Sleep(INFINITE);
}

// How long a console read that came back without a line waits for a handler to start, by the
// read's error code. An interrupted read says so, and its handler may start a while after it; any
// other gets a moment in case the error code was lost, so that Ctrl+Z stays a quick end of input.
constexpr DWORD kInterruptedReadWait = 5000;
constexpr DWORD kEndOfInputWait = 100;

// True when `stream` reads from a console, whose reads a console event interrupts.
bool ReadsConsole(std::FILE* stream) {
  DWORD mode = 0;
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != FALSE;
}

// Only the low 16 bits of a coordinate count.
SHORT Coordinate(int32_t value) { return static_cast<SHORT>(static_cast<uint16_t>(value)); }

// The line as typed, keystroke by keystroke and without echo, until a carriage return; the
// carriage return is not kept. Stops at the first zero byte, as the buffer is a C string.
Text ReadKeystrokes() {
  constexpr int kMaxKeys = kLineLimit + 1;
  char line[kMaxKeys + 3] = {};
  for (int stored = 0; stored < kMaxKeys; ++stored) {
    const int key = ::_getch();
    if (key == '\r') break;
    line[stored] = static_cast<char>(key);
  }
  return Text(line);
}

// One line of standard input with its line feed when it fits, up to its first zero byte, or
// nothing at the end of input. A line that starts with a zero byte is still a line.
// A console read that a console event interrupts comes back empty like the end of input: then
// this never returns, and the handler ends the program.
std::optional<Text> ReadStreamLine() {
  char line[kLineLimit + 1];
  ::SetLastError(ERROR_SUCCESS);
  if (std::fgets(line, sizeof line, stdin) == nullptr) {
    const DWORD error = ::GetLastError();
    if (ReadsConsole(stdin) &&
        Ending(error == ERROR_OPERATION_ABORTED ? kInterruptedReadWait : kEndOfInputWait)) {
      AwaitTheEnd();
    }
    return std::nullopt;
  }
  return Text(line);
}

}  // namespace

SystemConsole::SystemConsole()
    : handles_(new Handles{::GetStdHandle(STD_INPUT_HANDLE), ::GetStdHandle(STD_OUTPUT_HANDLE)}) {
  ::SetConsoleCtrlHandler(EndBetweenWrites, TRUE);
}

SystemConsole::~SystemConsole() { Destroy(); }

void SystemConsole::Destroy() {
  if (handles_ == nullptr) return;
  // Never while holding the write lock: the system may run the handlers under a lock of its own
  // that this call takes too (Wine does).
  ::SetConsoleCtrlHandler(EndBetweenWrites, FALSE);
  // A handler that has begun to end the program does so; the run must not end normally first.
  if (Ending(0)) AwaitTheEnd();
  handles_.reset();
}

bool SystemConsole::WriteText(std::optional<int32_t> column, std::optional<int32_t> row,
                              bool restoreCursor, int32_t foreground, int32_t background,
                              const ConsoleText& text) {
  if (handles_ == nullptr) return false;
  const HANDLE output = handles_->output;
  // Every console call of the write, its queries too: once a console event holds the lock this
  // thread makes none. (Wine can hang in ending a process whose thread it stops inside one.)
  const Holding writing(consoleWrites);

  CONSOLE_SCREEN_BUFFER_INFO before;
  if (!::GetConsoleScreenBufferInfo(output, &before)) return false;
  // The console is shown characters, not bytes, when its code page is not the program's: no
  // console setting is changed for that. Converted before the console changes at all.
  std::optional<std::vector<wchar_t>> wide;
  if (::GetConsoleOutputCP() != kProgramCodePage) wide = WideCharacters(text);
  if (column && row) {
    if (!::SetConsoleCursorPosition(output, COORD{Coordinate(*column), Coordinate(*row)})) {
      return false;
    }
  }
  if (!::SetConsoleTextAttribute(output, ConsoleAttribute(foreground, background))) return false;
  // A failed write still gets the colours put back; it only makes the result false.
  const bool written = wide ? WriteAllWide(output, *wide) : WriteAll(output, text.Bytes());
  if (restoreCursor && !::SetConsoleCursorPosition(output, before.dwCursorPosition)) return false;
  return ::SetConsoleTextAttribute(output, before.wAttributes) != FALSE && written;
}

std::optional<Text> SystemConsole::ReadLine(std::optional<bool> echo) {
  const std::optional<Text> line =
      (echo.has_value() && !*echo) ? ReadKeystrokes() : ReadStreamLine();
  if (!line) return std::nullopt;
  return TrimLineEnd(*line);
}

bool SystemConsole::WaitForInput(uint32_t milliseconds) {
  if (handles_ == nullptr) return true;
  const HANDLE input = handles_->input;
  DWORD mode = 0;
  if (!::GetConsoleMode(input, &mode)) return true;
  const DWORD start = ::GetTickCount();
  for (;;) {
    const DWORD waited = ::GetTickCount() - start;
    if (waited >= milliseconds) return false;
    const DWORD result = ::WaitForSingleObject(input, milliseconds - waited);
    if (result == WAIT_TIMEOUT) return false;
    INPUT_RECORD record;
    DWORD count = 0;
    // Anything this cannot tell leaves the line to the read.
    if (result != WAIT_OBJECT_0 || !::PeekConsoleInputW(input, &record, 1, &count) || count == 0) {
      return true;
    }
    const bool key = record.EventType == KEY_EVENT;
    if (BeginsALine(
            {key, key && record.Event.KeyEvent.bKeyDown != FALSE,
             key ? static_cast<char16_t>(record.Event.KeyEvent.uChar.UnicodeChar) : u'\0'})) {
      return true;
    }
    // A key let go (the Enter of the line before), Shift, an arrow, the Alt of Alt+Tab, the
    // mouse, a focus change: nobody typing.
    if (!::ReadConsoleInputW(input, &record, 1, &count)) return true;
  }
}

ConsoleFacts SystemConsole::ReadConsoleFacts() {
  ConsoleFacts facts;
  if (handles_ == nullptr) return facts;
  CONSOLE_SCREEN_BUFFER_INFO info;
  facts.console = ::GetConsoleScreenBufferInfo(handles_->output, &info) != FALSE;
  facts.codePage = ::GetConsoleOutputCP();
  // CONSOLE_FONT_INFOEX, which the system has from Vista on; older ones tell no face.
  struct FontInfo {
    ULONG cbSize;
    DWORD nFont;
    COORD dwFontSize;
    UINT FontFamily;
    UINT FontWeight;
    WCHAR FaceName[32];
  };
  using CurrentFont = BOOL(WINAPI*)(HANDLE, BOOL, FontInfo*);
  const auto currentFont = reinterpret_cast<CurrentFont>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "GetCurrentConsoleFontEx")));
  FontInfo font{};
  font.cbSize = sizeof font;
  if (currentFont != nullptr && currentFont(handles_->output, FALSE, &font)) {
    font.FaceName[31] = L'\0';
    facts.fontFace = reinterpret_cast<const char16_t*>(font.FaceName);
  }
  ::SetLastError(ERROR_SUCCESS);
  facts.windowsTerminal = ::GetEnvironmentVariableA("WT_SESSION", nullptr, 0) > 0 ||
                          ::GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  return facts;
}

}  // namespace ipmod

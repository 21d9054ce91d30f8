// The real console: the process's standard handles.
#include <conio.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "runtime/system.h"

namespace ipmod {

// The standard handles as the system gave them at construction. They belong to the process,
// so they are never closed here.
struct SystemConsole::Handles {
  HANDLE input;
  HANDLE output;
};

namespace {

// Writes all of `text` to `output`, the way the console shows GBK bytes correctly (the C
// runtime's own stream garbles them on some consoles).
bool WriteAll(HANDLE output, const Text& text) {
  const char* next = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    DWORD written = 0;
    const DWORD chunk = left > 0x10000 ? 0x10000 : static_cast<DWORD>(left);
    if (!::WriteFile(output, next, chunk, &written, nullptr) || written == 0) return false;
    next += written;
    left -= written;
  }
  return true;
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
std::optional<Text> ReadStreamLine() {
  char line[kLineLimit + 1];
  if (std::fgets(line, sizeof line, stdin) == nullptr) return std::nullopt;
  return Text(line);
}

}  // namespace

SystemConsole::SystemConsole()
    : handles_(new Handles{::GetStdHandle(STD_INPUT_HANDLE), ::GetStdHandle(STD_OUTPUT_HANDLE)}) {}

SystemConsole::~SystemConsole() { Destroy(); }

void SystemConsole::Destroy() { handles_.reset(); }

bool SystemConsole::WriteText(std::optional<int32_t> column, std::optional<int32_t> row,
                              bool restoreCursor, int32_t foreground, int32_t background,
                              const Text& text) {
  if (handles_ == nullptr) return false;
  const HANDLE output = handles_->output;

  CONSOLE_SCREEN_BUFFER_INFO before;
  if (!::GetConsoleScreenBufferInfo(output, &before)) return false;
  if (column && row) {
    if (!::SetConsoleCursorPosition(output, COORD{Coordinate(*column), Coordinate(*row)})) {
      return false;
    }
  }
  if (!::SetConsoleTextAttribute(output, ConsoleAttribute(foreground, background))) return false;
  // A failed write still gets the colours put back; it only makes the result false.
  const bool written = WriteAll(output, text);
  if (restoreCursor && !::SetConsoleCursorPosition(output, before.dwCursorPosition)) return false;
  const bool restored = ::SetConsoleTextAttribute(output, before.wAttributes) != FALSE;
  return written && restored;
}

std::optional<Text> SystemConsole::ReadLine(std::optional<bool> echo) {
  const std::optional<Text> line =
      (echo.has_value() && !*echo) ? ReadKeystrokes() : ReadStreamLine();
  if (!line) return std::nullopt;
  return TrimLineEnd(*line);
}

}  // namespace ipmod

// The operating-system services of the runtime: the real console, registry, processes,
// messages, system version and routines bound from system libraries. Windows only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "runtime/console.h"
#include "runtime/registry.h"
#include "runtime/text.h"

namespace ipmod {

// The process's standard handles as a Console. Output goes straight to the console handle.
// A console event that ends the program (Ctrl+C, Ctrl+Break, a closed window) lets a write in
// progress finish, colours put back, and no other start; the system then ends the program.
class SystemConsole final : public Console {
 public:
  SystemConsole();
  ~SystemConsole() override;
  SystemConsole(const SystemConsole&) = delete;
  SystemConsole& operator=(const SystemConsole&) = delete;

  bool WriteText(std::optional<int32_t> column, std::optional<int32_t> row, bool restoreCursor,
                 int32_t foreground, int32_t background, const ConsoleText& text) override;
  // A read that such an event interrupts never returns: it is no end of input.
  std::optional<Text> ReadLine(std::optional<bool> echo = std::nullopt) override;
  bool WaitForInput(uint32_t milliseconds) override;
  ConsoleFacts ReadConsoleFacts() override;

  // Lets go of the handles; later writes return false. Harmless when repeated. Once such an
  // event has begun to end the program, it never returns.
  void Destroy();

 private:
  struct Handles;
  std::unique_ptr<Handles> handles_;
};

class SystemRegistry final : public RegistryReader {
 public:
  Text ReadRegistryText(int32_t root, const Text& path, std::optional<Text> defaultText) override;
  std::optional<std::vector<RegistryValue>> ReadRegistryValues(
      int32_t root, const Text& keyPath, std::initializer_list<const char*> names) override;
};

// Show modes 1..6 (left out: 2, below 1: 1, above 6: 6) as the system's SW_ values.
int ShowCommandForMode(std::optional<int32_t> showMode);

// Starts `commandLine` in this console. A bare program name at its start (such as netsh) is
// taken from the system directory only, never from the program's or the current directory.
// With wait, returns once the program has ended and stores its exit code in `exitCode` (when
// given; none when it cannot be read); otherwise waits at most a second for it to be idle. False
// when it could not be started.
bool RunProgram(const Text& commandLine, bool wait, std::optional<int32_t> showMode = std::nullopt,
                std::optional<uint32_t>* exitCode = nullptr);

// 1 Win32s, 2 Windows 9x, 3 NT family, 0 anything else.
int32_t GetOsFamily();
int32_t OsFamilyForPlatformId(uint32_t platformId);

// Dispatches the thread's pending messages without waiting; a WM_QUIT stays queued.
void ProcessEvents();

// The code page console programs print in when their output is not a console: the console's
// own, or the system's OEM code page when the program has no console.
uint32_t CommandOutputCodePage();

// `bytes` in code page `codePage` as the program's own code page (GBK). Unchanged (and not
// copied) when the two are the same or the bytes cannot be read; a character GBK lacks becomes
// "?".
Text ToProgramCodePage(Text bytes, uint32_t codePage);

// The system directory without a trailing backslash, e.g. C:\Windows\system32.
Text SystemDirectory();

// `name` in the system directory, or the empty text when the system directory is unknown.
Text SystemFilePath(const Text& name);

// The process around the program's start routine: initialises OLE, makes the program file's
// directory the current directory, runs `start` once and returns 0, whatever it returned.
int RunStartRoutine(int32_t (*start)());

// A routine of a system library, loaded from the system directory only. A library or routine
// that cannot be found ends the program with the report naming both.
void* BindSystemRoutine(const char* library, const char* routine);

}  // namespace ipmod

// Running commands and the netsh commands that set a static address or DNS server.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/console.h"
#include "runtime/text.h"

namespace ipmod {

// How a captured command went.
struct CapturedRun {
  Text output;           // standard output and error, in the order the pipe received them
  bool started = false;  // the interpreter could be started
  std::optional<uint32_t> exitCode;  // its exit code once it has ended; none when unreadable
  uint32_t startError = 0;           // the system's error code when it could not be started
  uint32_t outputCodePage = kProgramCodePage;  // the code page the output is printed in
  // The output in the program's code page, for finding the program's words in it; only when
  // the output is in another code page.
  std::optional<Text> programOutput;

  const Text& OutputInProgramCodePage() const { return programOutput ? *programOutput : output; }
};

class CommandRunner {
 public:
  virtual ~CommandRunner() = default;
  // Runs `command` behind the interpreter prefix with a hidden window and no standard input,
  // and returns once it has ended, with everything it printed.
  virtual CapturedRun RunCaptured(const Text& command) = 0;
  // Starts `commandLine` in this console (see RunProgram in runtime/system.h); with wait, the
  // program's exit code goes to `exitCode` (when given), which holds none when it cannot be read.
  virtual bool RunProgram(const Text& commandLine, bool wait, std::optional<int32_t> showMode,
                          std::optional<uint32_t>* exitCode) = 0;
};

// "cmd.exe /c " for the NT family (family > 2), "command.com /c " otherwise.
Text InterpreterPrefix(int32_t osFamily);

// The wait before a one-shot timer fires, in 100 ns units, negative for "from now":
// interval x milliseconds per unit x -10000. Units: 0 or left out ms, 1 s, 2 min, 3 h, any
// other value counts as that many milliseconds. Clamped to the 64-bit range.
int64_t DueTime(int32_t interval, std::optional<int32_t> unit);

// Waits for the interval while dispatching the thread's messages; returns true. Ends after the
// interval even when no timer can be had.
bool WaitInterval(int32_t interval, std::optional<int32_t> unit = std::nullopt);

// One GetInputState check; dispatches pending messages when there are any.
void PumpPendingInput();

// Time, for the waits of the dialogue's own.
class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since some fixed moment; they wrap around after 2^32.
  virtual uint32_t Milliseconds() = 0;
  // Waits that long, dispatching the thread's messages meanwhile.
  virtual void Wait(int32_t milliseconds) = 0;
};

// The system's clock, waiting with WaitInterval.
class SystemClock final : public Clock {
 public:
  uint32_t Milliseconds() override;
  void Wait(int32_t milliseconds) override;
};

// The real runner: the system's own cmd.exe and netsh.exe, never a file of that name in the
// program's or the current directory.
class SystemCommandRunner final : public CommandRunner {
 public:
  CapturedRun RunCaptured(const Text& command) override;
  bool RunProgram(const Text& commandLine, bool wait, std::optional<int32_t> showMode,
                  std::optional<uint32_t>* exitCode) override;
};

// The environment block for the interpreter, from this program's environment `entries`
// ("NAME=value", as the system lists them): every entry kept in its place, except that no
// NoDefaultCurrentDirectoryInExePath remains (it would let the interpreter look for netsh and
// cmd along PATH before the system directory) and PATH begins with `systemDirectory`. A missing
// PATH is added as Path=<systemDirectory>, among the named entries in name order. Names compare
// without case (ASCII letters only). Each entry ends with a zero unit, and one more ends the
// block. For either form of the environment: bytes (std::string) or UTF-16 units
// (std::u16string, the form that holds every character).
template <typename String>
String InterpreterEnvironment(const std::vector<String>& entries, const String& systemDirectory);

// The connection name used when a caller leaves the name out.
extern const char kDefaultConnectionName[];  // "本地连接"

// Whether a typed gateway asks for none: it holds nothing but blanks (or is the empty line,
// which reads as its line feed).
bool MeansNoGateway(std::string_view gateway);

// netsh interface ip set address "<name>" static <ip> <mask> <gateway> 1, or, for a gateway
// that means none, ... static <ip> <mask> none
Text StaticAddressCommand(const Text& ip, const Text& gateway, const Text& mask,
                          std::optional<Text> name);
// cmd /c netsh interface ip set dns "<name>" static <dns>
Text StaticDnsCommand(const Text& dns, std::optional<Text> name);

// True when a typed value may go on a command line: no double quote, no control byte and none
// of & | < > ^ %.
bool IsSafeCommandValue(const Text& value);

// True when a connection name may stand between double quotes on an interpreter's command
// line: no double quote, no control byte and no % (which the interpreter expands even there).
bool IsSafeConnectionName(const Text& name);

// Why a connection name that is not safe is refused: the sentence shown instead of running.
const char* UnsafeNameRefusal(Language language = Language::kChinese);

// The output of a failed command less one line break: the first CR LF at or after two bytes
// before the last CR LF is removed. In a double-byte code page (GBK and its kind) a lead byte
// and the byte after it are one character; in any other, every byte is one.
Text FailureTextFromOutput(const Text& output, uint32_t codePage = kProgramCodePage);

// netsh's warning that the DNS server it has just set did not answer, in the system's language
// (Chinese or English), when `output` holds one: the line it stands on, without line breaks.
std::optional<Text> UnreachableDnsWarning(const Text& output);

// The verdict on a captured run: true when the output holds "确定" (in any code page) or the
// command ran to its end with exit code 0. A run whose exit code could not be read is no
// success. On false, `failureText` (when given) gets FailureTextFromOutput in the output's own
// code page, or a sentence saying what happened when that is empty (in `language`); on true it
// is left untouched.
bool JudgeRun(const CapturedRun& run, ConsoleText* failureText,
              Language language = Language::kChinese);

// What the command printed, less one line break, in the code page it printed in; the empty
// text when it printed nothing.
ConsoleText PrintedText(const CapturedRun& run);

// Gives the connection a static address, mask and gateway through netsh. Values or a name that
// may not go on a command line are refused without running anything. `run` (when given) gets
// the command's run, or nothing when it was refused.
bool SetStaticAddress(CommandRunner& runner, const Text& ip, const Text& gateway, const Text& mask,
                      std::optional<Text> name, ConsoleText* failureText,
                      std::optional<CapturedRun>* run = nullptr,
                      Language language = Language::kChinese);

// Gives the connection one static DNS server through netsh. A server that netsh set but that
// did not answer its check counts as set: netsh warns and its exit code then tells nothing.
// `notice` (when given) gets that warning's line, and is emptied otherwise; `run` as for
// SetStaticAddress.
bool SetStaticDns(CommandRunner& runner, const Text& dns, std::optional<Text> name,
                  ConsoleText* failureText, Text* notice = nullptr,
                  std::optional<CapturedRun>* run = nullptr,
                  Language language = Language::kChinese);

}  // namespace ipmod

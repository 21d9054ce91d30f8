// The netsh commands that give a connection a static address or DNS server, and the verdict on
// what they printed.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "netconfig/netconfig.h"

namespace ipmod {

const char kDefaultConnectionName[] = "本地连接";

namespace {

const char kSuccessWord[] = "确定";
const char kLineBreak[] = "\r\n";
// What netsh prints when the DNS server it has just set does not answer; it sets it all the same.
const char* const kUnreachableDnsWarnings[] = {
    "配置的 DNS 服务器不正确或不存在。",
    "The configured DNS server is incorrect or does not exist.",
};
// The sentences of this module, in the program's languages.
struct Sentences {
  const char* refusedValue;
  const char* refusedName;
  const char* silentEnd[2];  // around the exit code
  const char* unreadExitCode;
  const char* notStarted[2];  // around the system error
};

const Sentences kSentences[] = {
    {"输入的地址含有不允许的字符（引号、控制字符或 & | < > ^ %），未执行任何命令。",
     "连接名称含有命令行上无法安全传递的字符（引号、控制字符或 %），未执行任何命令。",
     {"命令已结束，退出代码为 ", "，没有输出任何信息。"},
     "命令已结束，但无法读取它的退出代码。",
     {"无法启动命令解释器（系统错误 ", "）。"}},
    {"The address typed holds a character that is not allowed (a quote, a control character or "
     "& | < > ^ %); no command was run.",
     "The connection name holds a character that cannot safely go on a command line (a quote, a "
     "control character or %); no command was run.",
     {"The command ended with exit code ", " and printed nothing."},
     "The command ended, but its exit code cannot be read.",
     {"The command interpreter cannot be started (system error ", ")."}},
};

const Sentences& In(Language language) { return kSentences[static_cast<int>(language)]; }

Text QuotedName(const std::optional<Text>& name) {
  return "\"" + name.value_or(kDefaultConnectionName) + "\"";
}

Text SilentEndSentence(uint32_t exitCode, Language language) {
  const Sentences& s = In(language);
  return s.silentEnd[0] + std::to_string(exitCode) + s.silentEnd[1];
}

Text NotStartedSentence(uint32_t error, Language language) {
  const Sentences& s = In(language);
  return s.notStarted[0] + std::to_string(error) + s.notStarted[1];
}

bool Refuse(ConsoleText* failureText, const char* why) {
  if (failureText != nullptr) *failureText = why;
  return false;
}

bool IsControlByte(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

// The code pages whose bytes of 0x80 and above start two-byte characters: Japanese, Chinese
// (GBK, Big5) and Korean.
bool IsDoubleByteCodePage(uint32_t codePage) {
  return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

}  // namespace

Text InterpreterPrefix(int32_t osFamily) {
  return osFamily > 2 ? "cmd.exe /c " : "command.com /c ";
}

// An empty line reads as its line feed alone.
bool MeansNoGateway(std::string_view gateway) {
  return gateway.find_first_not_of(" \t\n") == std::string_view::npos;
}

// The name is quoted so that a connection name with blanks stays one argument. netsh takes
// "none" for no gateway, with no metric after it.
Text StaticAddressCommand(const Text& ip, const Text& gateway, const Text& mask,
                          std::optional<Text> name) {
  const Text head =
      "netsh interface ip set address " + QuotedName(name) + " static " + ip + " " + mask + " ";
  return MeansNoGateway(gateway) ? head + "none" : head + gateway + " 1";
}

Text StaticDnsCommand(const Text& dns, std::optional<Text> name) {
  return "cmd /c netsh interface ip set dns " + QuotedName(name) + " static " + dns;
}

// Every byte is checked, second bytes of double-byte characters included: the interpreter sees
// the line through a code-page conversion, and nothing may slip through a mismatch there.
bool IsSafeCommandValue(const Text& value) {
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsControlByte(byte)) return false;
    switch (byte) {
      case '"':
      case '&':
      case '|':
      case '<':
      case '>':
      case '^':
      case '%':
        return false;
      default:
        break;
    }
  }
  return true;
}

bool IsSafeConnectionName(const Text& name) {
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsControlByte(byte) || byte == '"' || byte == '%') return false;
  }
  return true;
}

Text FailureTextFromOutput(const Text& output, uint32_t codePage) {
  if (IsDoubleByteCodePage(codePage)) {
    const int32_t last = FindLastText(output, kLineBreak, std::nullopt, false);
    return ReplaceText(output, kLineBreak, Text(), last - 2, 1, true);
  }
  // Byte by byte: a letter such as "ü" (0xFC in code page 1252) is no lead byte there, and
  // taking it for one would swallow the CR after it.
  Text text = output;
  const std::size_t last = text.rfind(kLineBreak);
  if (last != Text::npos) text.erase(text.find(kLineBreak, last < 2 ? 0 : last - 2), 2);
  return text;
}

std::optional<Text> UnreachableDnsWarning(const Text& output) {
  for (const char* warning : kUnreachableDnsWarnings) {
    const int32_t at = FindText(output, warning, std::nullopt, false);
    if (at <= 0) continue;
    // Line breaks are single bytes below 0x80, never the second byte of a character.
    const std::size_t begin = output.find_last_of("\r\n", static_cast<std::size_t>(at - 1));
    const std::size_t first = begin == Text::npos ? 0 : begin + 1;
    const std::size_t end = output.find_first_of("\r\n", first);
    return output.substr(first, end == Text::npos ? Text::npos : end - first);
  }
  return std::nullopt;
}

ConsoleText PrintedText(const CapturedRun& run) {
  Text printed = FailureTextFromOutput(run.output, run.outputCodePage);
  if (printed.empty()) return ConsoleText();
  return ConsoleText().Add(std::move(printed), run.outputCodePage);
}

const char* UnsafeNameRefusal(Language language) { return In(language).refusedName; }

bool JudgeRun(const CapturedRun& run, ConsoleText* failureText, Language language) {
  // Older systems confirm with the word; today's netsh prints nothing on success and exits
  // non-zero on any error.
  if (FindText(run.OutputInProgramCodePage(), kSuccessWord, std::nullopt, false) > 0) return true;
  if (run.started && run.exitCode == 0u) return true;
  if (failureText != nullptr) {
    // netsh's own words are shown as it printed them, in its code page.
    ConsoleText printed = PrintedText(run);
    if (!printed.empty()) {
      *failureText = std::move(printed);
    } else if (!run.started) {
      *failureText = NotStartedSentence(run.startError, language);
    } else if (run.exitCode) {
      *failureText = SilentEndSentence(*run.exitCode, language);
    } else {
      *failureText = In(language).unreadExitCode;
    }
  }
  return false;
}

bool SetStaticAddress(CommandRunner& runner, const Text& ip, const Text& gateway, const Text& mask,
                      std::optional<Text> name, ConsoleText* failureText,
                      std::optional<CapturedRun>* run, Language language) {
  if (run != nullptr) run->reset();
  // A gateway that means none never goes on the command line.
  const bool gatewaySafe = MeansNoGateway(gateway) || IsSafeCommandValue(gateway);
  if (!IsSafeCommandValue(ip) || !gatewaySafe || !IsSafeCommandValue(mask)) {
    return Refuse(failureText, In(language).refusedValue);
  }
  if (name && !IsSafeConnectionName(*name)) return Refuse(failureText, In(language).refusedName);
  CapturedRun done = runner.RunCaptured(StaticAddressCommand(ip, gateway, mask, std::move(name)));
  const bool made = JudgeRun(done, failureText, language);
  if (run != nullptr) *run = std::move(done);
  return made;
}

bool SetStaticDns(CommandRunner& runner, const Text& dns, std::optional<Text> name,
                  ConsoleText* failureText, Text* notice, std::optional<CapturedRun>* run,
                  Language language) {
  if (run != nullptr) run->reset();
  if (notice != nullptr) notice->clear();
  if (!IsSafeCommandValue(dns)) return Refuse(failureText, In(language).refusedValue);
  if (name && !IsSafeConnectionName(*name)) return Refuse(failureText, In(language).refusedName);
  CapturedRun done = runner.RunCaptured(StaticDnsCommand(dns, std::move(name)));
  // Only this command's check can warn so; the address command never counts it.
  std::optional<Text> warning = UnreachableDnsWarning(done.OutputInProgramCodePage());
  const bool made = warning || JudgeRun(done, failureText, language);
  if (warning && notice != nullptr) *notice = std::move(*warning);
  if (run != nullptr) *run = std::move(done);
  return made;
}

}  // namespace ipmod

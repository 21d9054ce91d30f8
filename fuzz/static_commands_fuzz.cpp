// The static address and DNS commands against arbitrary replies and typed values. The expected
// command lines, verdicts and failure texts are written here from the rules as an operator
// would state them, not taken from the program's own builders:
// - a typed value holding a double quote, a control byte or one of & | < > ^ % is refused, and
//   so is a connection name holding a double quote, a control byte or %; nothing runs then;
// - otherwise exactly one command runs: for the address
//   netsh interface ip set address "NAME" static IP MASK GATEWAY 1 (IP MASK none for a gateway
//   of blanks alone, the empty one and the empty line's lone line feed included, which is then
//   never refused), for DNS
//   cmd /c netsh interface ip set dns "NAME" static SERVER, NAME being 本地连接 when none is given;
// - a change is made when netsh's words (read in GBK) hold 确定 as a character, or the command
//   ended with exit code 0; for DNS also when they hold netsh's warning that the server does
//   not answer, whose line is then the notice;
// - a change that is not made is explained by what netsh printed, less one line break (the
//   last one, or the one just before it when a blank line ends the text), or, when that leaves
//   nothing, by a sentence naming the system error or the exit code.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "fuzz_check.h"
#include "netconfig/netconfig.h"

using namespace ipmod;

namespace {

const Text kWord = "确定";
const Text kWarnings[] = {
    "配置的 DNS 服务器不正确或不存在。",
    "The configured DNS server is incorrect or does not exist.",
};
const Text kRefusedValue =
    "输入的地址含有不允许的字符（引号、控制字符或 & | < > ^ %），未执行任何命令。";
const Text kRefusedName =
    "连接名称含有命令行上无法安全传递的字符（引号、控制字符或 %），未执行任何命令。";
const uint32_t kCodePages[] = {936, 1252, 65001};

bool IsDoubleByte(uint32_t codePage) { return codePage == 936; }

// Where each character of `text` starts: in GBK a byte of 0x80 or above and the byte after it
// are one character; elsewhere every byte is one.
std::vector<std::size_t> CharacterStarts(const Text& text, uint32_t codePage) {
  std::vector<std::size_t> starts;
  for (std::size_t at = 0; at < text.size();) {
    starts.push_back(at);
    const bool pair = IsDoubleByte(codePage) && static_cast<unsigned char>(text[at]) >= 0x80 &&
                      at + 1 < text.size();
    at += pair ? 2 : 1;
  }
  return starts;
}

bool HoldsAsCharacters(const Text& text, const Text& word) {
  for (const std::size_t at : CharacterStarts(text, 936)) {
    if (text.compare(at, word.size(), word) == 0) return true;
  }
  return false;
}

// netsh's text less one line break.
Text LessOneLineBreak(const Text& text, uint32_t codePage) {
  const std::vector<std::size_t> starts = CharacterStarts(text, codePage);
  std::vector<std::size_t> breaks;  // byte offsets of CR LF pairs of single-byte characters
  for (std::size_t i = 0; i + 1 < starts.size(); ++i) {
    if (text[starts[i]] == '\r' && starts[i + 1] == starts[i] + 1 && text[starts[i + 1]] == '\n') {
      breaks.push_back(starts[i]);
    }
  }
  if (breaks.empty()) {
    // A lead byte that ends the text completes no character and is not kept.
    const bool cut = IsDoubleByte(codePage) && !text.empty() &&
                     static_cast<unsigned char>(text.back()) >= 0x80 &&
                     starts.back() + 1 == text.size();
    return cut ? text.substr(0, text.size() - 1) : text;
  }
  std::size_t gone = breaks.back();
  if (breaks.size() > 1 && breaks[breaks.size() - 2] + 2 == gone) gone -= 2;
  return text.substr(0, gone) + text.substr(gone + 2);
}

bool IsUnsafe(char c, bool name) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte < 0x20 || byte == 0x7F || c == '"' || c == '%') return true;
  return !name && Text("&|<>^").find(c) != Text::npos;
}

bool Safe(const Text& text, bool name) {
  for (const char c : text) {
    if (IsUnsafe(c, name)) return false;
  }
  return true;
}

class RecordingRunner : public CommandRunner {
 public:
  CapturedRun RunCaptured(const Text& command) override {
    captured.push_back(command);
    return reply;
  }
  bool RunProgram(const Text&, bool, std::optional<int32_t>, std::optional<uint32_t>*) override {
    return false;
  }
  CapturedRun reply;
  std::vector<Text> captured;
};

Text NoZeros(Text text) {
  for (char& c : text) c = c == '\0' ? ' ' : c;
  return text;
}

Text ExpectedFailureText(const CapturedRun& run, const Text& printed) {
  if (!printed.empty()) return printed;
  if (!run.started)
    return "无法启动命令解释器（系统错误 " + std::to_string(run.startError) + "）。";
  if (!run.exitCode) return "命令已结束，但无法读取它的退出代码。";
  return "命令已结束，退出代码为 " + std::to_string(*run.exitCode) + "，没有输出任何信息。";
}

// What a failed run is explained by: netsh's words in their own code page, else a sentence of
// the program's own.
bool IsExpectedFailure(const CapturedRun& run, const ConsoleText& failure) {
  const Text printed = LessOneLineBreak(run.output, run.outputCodePage);
  const uint32_t codePage = printed.empty() ? kProgramCodePage : run.outputCodePage;
  return failure.Bytes() == ExpectedFailureText(run, printed) &&
         failure.pieces().back().codePage == codePage;
}

// The line of `text` that holds the first warning found, without its line breaks.
std::optional<Text> WarningLine(const Text& text) {
  std::size_t first = Text::npos;
  for (const Text& warning : kWarnings) {
    if (first != Text::npos) break;
    for (const std::size_t at : CharacterStarts(text, 936)) {
      if (text.compare(at, warning.size(), warning) == 0) {
        first = at;
        break;
      }
    }
  }
  if (first == Text::npos) return std::nullopt;
  std::size_t begin = first;
  while (begin > 0 && text[begin - 1] != '\r' && text[begin - 1] != '\n') --begin;
  std::size_t end = first;
  while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
  return text.substr(begin, end - begin);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  CapturedRun run;
  run.started = in.ConsumeBool();
  if (in.ConsumeBool()) run.exitCode = in.ConsumeBool() ? 0 : in.ConsumeIntegral<uint32_t>();
  run.startError = in.ConsumeIntegral<uint32_t>();
  const bool withName = in.ConsumeBool();
  run.outputCodePage = kCodePages[in.ConsumeIntegralInRange<std::size_t>(0, 2)];
  const Text name = NoZeros(in.ConsumeRandomLengthString(24));
  const Text ip = NoZeros(in.ConsumeRandomLengthString(20));
  const Text gateway = NoZeros(in.ConsumeRandomLengthString(20));
  const Text mask = NoZeros(in.ConsumeRandomLengthString(20));
  if (run.outputCodePage != 936) run.programOutput = NoZeros(in.ConsumeRandomLengthString(64));
  run.output = NoZeros(in.ConsumeRemainingBytesAsString());
  const Text& words = run.programOutput ? *run.programOutput : run.output;

  const std::optional<Text> nameArg = withName ? std::optional<Text>(name) : std::nullopt;
  const Text quoted = "\"" + (withName ? name : Text("本地连接")) + "\"";
  const bool nameSafe = Safe(quoted.substr(1, quoted.size() - 2), true);
  const bool madeByNetsh = HoldsAsCharacters(words, kWord) || (run.started && run.exitCode == 0u);
  const std::optional<Text> warning = WarningLine(words);

  RecordingRunner runner;
  runner.reply = run;
  ConsoleText addressFailure = "untouched";
  const bool addressSet = SetStaticAddress(runner, ip, gateway, mask, nameArg, &addressFailure);
  ConsoleText dnsFailure = "untouched";
  Text notice = "stale";
  const bool dnsSet = SetStaticDns(runner, ip, nameArg, &dnsFailure, &notice);

  const bool none = gateway.find_first_not_of(" \t\n") == Text::npos;
  const bool addressValuesSafe =
      Safe(ip, false) && (none || Safe(gateway, false)) && Safe(mask, false);
  const bool dnsValueSafe = Safe(ip, false);
  std::vector<Text> expected;
  if (addressValuesSafe && nameSafe) {
    expected.push_back("netsh interface ip set address " + quoted + " static " + ip + " " + mask +
                       (none ? Text(" none") : " " + gateway + " 1"));
  }
  if (dnsValueSafe && nameSafe) {
    expected.push_back("cmd /c netsh interface ip set dns " + quoted + " static " + ip);
  }
  FUZZ_CHECK(runner.captured == expected);

  // The address command.
  if (!addressValuesSafe || !nameSafe) {
    FUZZ_CHECK(!addressSet);
    FUZZ_CHECK(addressFailure.Bytes() == (addressValuesSafe ? kRefusedName : kRefusedValue));
  } else if (madeByNetsh) {
    FUZZ_CHECK(addressSet && addressFailure.Bytes() == "untouched");
  } else {
    FUZZ_CHECK(!addressSet && IsExpectedFailure(run, addressFailure));
  }

  // The DNS command.
  if (!dnsValueSafe || !nameSafe) {
    FUZZ_CHECK(!dnsSet && notice.empty());
    FUZZ_CHECK(dnsFailure.Bytes() == (dnsValueSafe ? kRefusedName : kRefusedValue));
  } else if (warning) {
    FUZZ_CHECK(dnsSet && notice == *warning && dnsFailure.Bytes() == "untouched");
  } else if (madeByNetsh) {
    FUZZ_CHECK(dnsSet && notice.empty() && dnsFailure.Bytes() == "untouched");
  } else {
    FUZZ_CHECK(!dnsSet && notice.empty() && IsExpectedFailure(run, dnsFailure));
  }
  return 0;
}

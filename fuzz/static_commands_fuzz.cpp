// The verdict on a static command and its failure text, and which values reach a command line.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "fuzz_check.h"
#include "netconfig/netconfig.h"

using namespace ipmod;

namespace {

// netsh's warning that a DNS server it set does not answer: the server is set all the same.
const char* const kDnsWarnings[] = {
    // "配置的 DNS 服务器不正确或不存在。"
    "\xC5\xE4\xD6\xC3\xB5\xC4 DNS \xB7\xFE\xCE\xF1\xC6\xF7\xB2\xBB\xD5\xFD\xC8\xB7\xBB\xF2"
    "\xB2\xBB\xB4\xE6\xD4\xDA\xA1\xA3",
    "The configured DNS server is incorrect or does not exist.",
};

// Output that tells a change was made, whatever the exit code (GBK bytes).
const char* const kMadeMarks[] = {
    "\xC8\xB7\xB6\xA8",  // "确定"
    kDnsWarnings[0],
    kDnsWarnings[1],
};

// The sentences the program writes itself when the output says nothing (GBK beginnings).
const char* const kOwnSentences[] = {
    "\xC3\xFC\xC1\xEE\xD2\xD1\xBD\xE1\xCA\xF8",  // "命令已结束"
    "\xCE\xDE\xB7\xA8\xC6\xF4\xB6\xAF",          // "无法启动"
};

bool Holds(const Text& text, const char* mark) {
  return FindText(text, mark, std::nullopt, false) > 0;
}

bool Made(const CapturedRun& run) {
  for (const char* mark : kMadeMarks) {
    if (Holds(run.output, mark)) return true;
  }
  // An exit code that could not be read tells nothing.
  return run.started && run.exitCode == 0u;
}

bool StartsWith(const Text& text, const char* head) { return text.rfind(head, 0) == 0; }

// The failure text is the output with at most one line break (two bytes of CR and LF) taken
// out, and a lead byte with nothing after it at the end dropped.
bool IsOutputLessOneBreak(const Text& output, const Text& failure) {
  std::size_t k = 0;
  while (k < failure.size() && k < output.size() && failure[k] == output[k]) ++k;
  auto restIs = [&](std::size_t skip) {
    const Text rest = output.substr(std::min(k + skip, output.size()));
    const Text want = failure.substr(k);
    return rest == want || (!rest.empty() && static_cast<unsigned char>(rest.back()) >= 0x80 &&
                            rest.substr(0, rest.size() - 1) == want);
  };
  if (restIs(0)) return true;
  const auto isBreakByte = [](char c) { return c == '\r' || c == '\n'; };
  return k + 1 < output.size() && isBreakByte(output[k]) && isBreakByte(output[k + 1]) && restIs(2);
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

void CheckFailureText(const CapturedRun& run, bool verdict, const Text& failure) {
  if (verdict) {
    FUZZ_CHECK(failure == "untouched");
    return;
  }
  FUZZ_CHECK(!failure.empty());
  bool own = false;
  for (const char* head : kOwnSentences) own = own || StartsWith(failure, head);
  FUZZ_CHECK(IsOutputLessOneBreak(run.output, failure) || own);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  CapturedRun run;
  run.started = in.ConsumeBool();
  if (in.ConsumeBool()) run.exitCode = in.ConsumeBool() ? 0 : in.ConsumeIntegral<uint32_t>();
  run.startError = in.ConsumeIntegral<uint32_t>();
  const bool withName = in.ConsumeBool();
  const Text name = NoZeros(in.ConsumeRandomLengthString(24));
  const Text ip = NoZeros(in.ConsumeRandomLengthString(20));
  const Text gateway = NoZeros(in.ConsumeRandomLengthString(20));
  const Text mask = NoZeros(in.ConsumeRandomLengthString(20));
  run.output = NoZeros(in.ConsumeRemainingBytesAsString());

  Text failure = "untouched";
  Text notice = "stale";
  const bool verdict = JudgeRun(run, &failure, &notice);
  FUZZ_CHECK(verdict == Made(run));
  CheckFailureText(run, verdict, failure);
  // The notice is the warning's line of the output, or emptied when there is no warning.
  const bool warned = Holds(run.output, kDnsWarnings[0]) || Holds(run.output, kDnsWarnings[1]);
  FUZZ_CHECK(warned != notice.empty());
  if (warned) {
    FUZZ_CHECK(run.output.find(notice) != Text::npos);
    FUZZ_CHECK(notice.find_first_of("\r\n") == Text::npos);
    FUZZ_CHECK(Holds(notice, kDnsWarnings[0]) || Holds(notice, kDnsWarnings[1]));
  }

  // Only values that pass the refusal rules reach a command line; then it is the one built.
  const std::optional<Text> nameArg = withName ? std::optional<Text>(name) : std::nullopt;
  const bool nameSafe = !withName || IsSafeConnectionName(name);
  RecordingRunner runner;
  runner.reply = run;
  Text addressFailure = "untouched";
  const bool addressSet = SetStaticAddress(runner, ip, gateway, mask, nameArg, &addressFailure);
  Text dnsFailure = "untouched";
  const bool dnsSet = SetStaticDns(runner, ip, nameArg, &dnsFailure);
  const bool addressSafe =
      IsSafeCommandValue(ip) && IsSafeCommandValue(gateway) && IsSafeCommandValue(mask) && nameSafe;
  const bool dnsSafe = IsSafeCommandValue(ip) && nameSafe;
  std::vector<Text> expected;
  if (addressSafe) expected.push_back(StaticAddressCommand(ip, gateway, mask, nameArg));
  if (dnsSafe) expected.push_back(StaticDnsCommand(ip, nameArg));
  FUZZ_CHECK(runner.captured == expected);
  FUZZ_CHECK(addressSet == (addressSafe && verdict));
  FUZZ_CHECK(dnsSet == (dnsSafe && verdict));
  if (!addressSafe) FUZZ_CHECK(!addressFailure.empty() && addressFailure != "untouched");
  if (!dnsSafe) FUZZ_CHECK(!dnsFailure.empty() && dnsFailure != "untouched");
  if (addressSafe) CheckFailureText(run, addressSet, addressFailure);
  if (dnsSafe) CheckFailureText(run, dnsSet, dnsFailure);

  // A value is safe exactly when it holds none of the bytes a quote or the interpreter acts on.
  bool anyUnsafe = false;
  for (const char c : ip) {
    const auto byte = static_cast<unsigned char>(c);
    anyUnsafe = anyUnsafe || byte < 0x20 || byte == 0x7F || Text("\"&|<>^%").find(c) != Text::npos;
  }
  FUZZ_CHECK(IsSafeCommandValue(ip) == !anyUnsafe);
  return 0;
}

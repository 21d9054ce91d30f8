// The whole dialogue driven by arbitrary lines: it runs at most one address and one DNS
// command, each of the four shapes for a listed connection and values the operator typed, and
// it ends at the end of input without reading on.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <vector>

#include "dialogue/dialogue.h"
#include "dialogue/dialogue_fakes.h"
#include "fuzz_check.h"

using namespace ipmod;

namespace {

const std::vector<FakeAdapter> kAdapters = {
    {"{11111111-0000-0000-0000-4E6574446576}", "以太网 2", "192.0.2.10"},
    {"{22222222-0000-0000-0000-4E6574446576}", nullptr, "198.51.100.7"},
    {"{33333333-0000-0000-0000-4E6574446576}", "无线 %s 网络", "203.0.113.5"},
};

const CapturedRun kReplies[] = {
    {"", true, 0},
    {"\xC8\xB7\xB6\xA8\xA1\xA3\r\n\r\n", true, 1},  // "确定。"
    {"The parameter is incorrect.\r\n\r\n", true, 1},
    {"", false, 0, 2},
    {"", true, std::nullopt},
    {"The configured DNS server is incorrect or does not exist.\r\n", true, 1},
};

bool IsOneOf(const Text& command, const std::vector<Text>& names, const std::vector<Text>& typed,
             bool started) {
  for (const Text& n : names) {
    if (started) {
      if (command == "netsh int ip set address name=\"" + n + "\" source=dhcp" ||
          command == "netsh int ip set dns name=\"" + n + "\" source=dhcp") {
        return true;
      }
      continue;
    }
    if (!IsSafeConnectionName(n)) continue;
    // The address, gateway and mask are three lines in a row; a DNS server is a preset or typed.
    for (std::size_t i = 0; i < typed.size(); ++i) {
      const bool safe = IsSafeCommandValue(typed[i]);
      if (safe && command == StaticDnsCommand(typed[i], n)) return true;
      // A gateway that means none never reaches the line.
      if (i + 2 < typed.size() && safe &&
          (IsSafeCommandValue(typed[i + 1]) || MeansNoGateway(typed[i + 1])) &&
          IsSafeCommandValue(typed[i + 2]) &&
          command == StaticAddressCommand(typed[i], typed[i + 1], typed[i + 2], n)) {
        return true;
      }
    }
    if (command == StaticDnsCommand("114.114.114.114", n) ||
        command == StaticDnsCommand("119.29.29.29", n)) {
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::size_t adapterCount = data[0] % (kAdapters.size() + 1);
  const CapturedRun& reply = kReplies[(data[0] >> 2) % std::size(kReplies)];
  // The rest is standard input, as ReadLine gives it: each line up to its first zero byte.
  std::vector<Text> lines;
  Text piece;
  bool cut = false;
  for (std::size_t i = 1; i < size && lines.size() < 64; ++i) {
    if (data[i] == '\n') {
      lines.push_back(TrimLineEnd(cut ? piece : piece + "\n"));
      piece.clear();
      cut = false;
    } else if (data[i] == 0) {
      cut = true;
    } else if (!cut) {
      piece += static_cast<char>(data[i]);
    }
  }
  if (!piece.empty() || cut) lines.push_back(TrimLineEnd(piece));

  RecordingConsole console(lines);
  FakeAdapters adapters({kAdapters.begin(), kAdapters.begin() + adapterCount});
  FakeCommands commands;
  commands.reply = reply;
  if (data[0] & 0x80) commands.programExitCode = std::nullopt;
  FakeClock clock;
  FakeSession session;
  FakeGuard guard;
  FakeHistory history;
  FUZZ_CHECK(Dialogue({console, adapters, adapters, commands, clock, session, guard, history}) == 0);

  std::vector<Text> names;
  for (std::size_t i = 0; i < adapterCount; ++i)
    names.push_back(kAdapters[i].name ? kAdapters[i].name : "");
  FUZZ_CHECK(commands.started.size() + commands.captured.size() <= 2);
  for (const Text& c : commands.started) FUZZ_CHECK(IsOneOf(c, names, lines, true));
  for (const Text& c : commands.captured) FUZZ_CHECK(IsOneOf(c, names, lines, false));
  FUZZ_CHECK(console.misuse.empty() && commands.misuse.empty());
  // At the end of input the dialogue stops asking at once.
  FUZZ_CHECK(console.readsAtEnd <= 1);
  FUZZ_CHECK(console.reads <= static_cast<int>(lines.size()) + 1);
  return 0;
}

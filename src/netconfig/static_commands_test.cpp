#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "netconfig/netconfig.h"

namespace ipmod {
namespace {

// GBK bytes: "本地连接" and "确定".
const Text kLocalConnection = "\xB1\xBE\xB5\xD8\xC1\xAC\xBD\xD3";
const Text kQueDing = "\xC8\xB7\xB6\xA8";
// netsh's warnings that the DNS server it set did not answer, as it prints them.
const Text kUnreachableZh = "配置的 DNS 服务器不正确或不存在。";
const Text kUnreachableEn = "The configured DNS server is incorrect or does not exist.";

std::string ExitText(const std::optional<uint32_t>& code) {
  return code ? std::to_string(*code) : "unread";
}

// Hands out scripted runs and records every command it is given.
class RecordingRunner : public CommandRunner {
 public:
  explicit RecordingRunner(CapturedRun reply = {}) : reply_(std::move(reply)) {}

  CapturedRun RunCaptured(const Text& command) override {
    captured.push_back(command);
    return reply_;
  }

  bool RunProgram(const Text& commandLine, bool, std::optional<int32_t>,
                  std::optional<uint32_t>*) override {
    started.push_back(commandLine);
    return true;
  }

  std::vector<Text> captured;
  std::vector<Text> started;

 private:
  CapturedRun reply_;
};

TEST(InterpreterPrefixTest, CmdOnTheNtFamilyCommandComElsewhere) {
  const struct {
    int32_t family;
    const char* expected;
  } cases[] = {
      {3, "cmd.exe /c "},     {4, "cmd.exe /c "},     {2, "command.com /c "},
      {1, "command.com /c "}, {0, "command.com /c "}, {-1, "command.com /c "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(InterpreterPrefix(c.family), c.expected) << "family " << c.family;
  }
}

TEST(StaticCommandsTest, DefaultNameIsLocalConnectionInGbk) {
  EXPECT_EQ(Text(kDefaultConnectionName), kLocalConnection);
}

TEST(StaticCommandsTest, AddressLinePutsTheMaskBeforeTheGatewayAndQuotesTheName) {
  const struct {
    std::optional<Text> name;
    const char* expected;
  } cases[] = {
      {std::nullopt,
       "netsh interface ip set address \"\xB1\xBE\xB5\xD8\xC1\xAC\xBD\xD3\" static "
       "192.168.1.10 255.255.255.0 192.168.1.1 1"},
      {Text(""),
       "netsh interface ip set address \"\" static 192.168.1.10 255.255.255.0 "
       "192.168.1.1 1"},
      {Text("Local Area Connection"),
       "netsh interface ip set address \"Local Area Connection\" static 192.168.1.10 "
       "255.255.255.0 192.168.1.1 1"},
      {Text("以太网 2"),
       "netsh interface ip set address \"\xD2\xD4\xCC\xAB\xCD\xF8 2\" static "
       "192.168.1.10 255.255.255.0 192.168.1.1 1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StaticAddressCommand("192.168.1.10", "192.168.1.1", "255.255.255.0", c.name),
              c.expected)
        << "name " << c.name.value_or("(omitted)");
  }
  // A gateway of blanks alone is none, which netsh takes without a metric.
  for (const char* none : {"", " ", "  \t", "\n"}) {
    EXPECT_EQ(StaticAddressCommand("192.0.2.50", none, "255.255.255.0", Text("n")),
              "netsh interface ip set address \"n\" static 192.0.2.50 255.255.255.0 none");
  }
}

TEST(StaticCommandsTest, DnsLineRunsNetshThroughCmdWithTheNameQuoted) {
  const struct {
    std::optional<Text> name;
    const char* expected;
  } cases[] = {
      {std::nullopt,
       "cmd /c netsh interface ip set dns \"\xB1\xBE\xB5\xD8\xC1\xAC\xBD\xD3\" static "
       "114.114.114.114"},
      {Text(""), "cmd /c netsh interface ip set dns \"\" static 114.114.114.114"},
      {Text("Wi-Fi 2"), "cmd /c netsh interface ip set dns \"Wi-Fi 2\" static 114.114.114.114"},
      {Text("以太网 2"),
       "cmd /c netsh interface ip set dns \"\xD2\xD4\xCC\xAB\xCD\xF8 2\" static 114.114.114.114"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StaticDnsCommand("114.114.114.114", c.name), c.expected)
        << "name " << c.name.value_or("(omitted)");
  }
}

TEST(StaticCommandsTest, FailureTextLosesOneLineBreak) {
  const struct {
    Text output;
    Text expected;
    uint32_t codePage = kProgramCodePage;
  } cases[] = {
      {"", ""},
      {"abc", "abc"},
      {"abc\r\n", "abc"},
      {"abc\r\ndef\r\n", "abc\r\ndef"},
      {"abc\r\ndef\r\n\r\n", "abc\r\ndef\r\n"},
      {"message\r\n\r\n", "message\r\n"},
      {"\r\n", ""},
      {"\r\n\r\n", "\r\n"},
      {"a\r\nb", "ab"},
      {"a\nb\r", "a\nb\r"},
      // A failure in Chinese keeps its characters whole.
      {"\xD5\xD2\xB2\xBB\xB5\xBD\r\n\r\n", "\xD5\xD2\xB2\xBB\xB5\xBD\r\n"},
      // In GBK a lead byte takes the CR after it with it; in a Western code page it is a letter
      // ("f\xFC" is "fü" in 1252, "f\x81" is "fü" in 850) and the line break is one.
      {"f\xFC\r\n", "f\xFC\r\n"},
      {"f\xFC\r\n", "f\xFC", 1252},
      {"Ung\x81ltig\r\n\r\n", "Ung\x81ltig\r\n", 850},
      {"a\r\nb\xFC", "ab\xFC", 1252},
      {"\r\n", "", 437},
      {"no break \xE9", "no break \xE9", 1252},
      {"\xE2\x82\xAC\r\n", "\xE2\x82\xAC", 65001},  // "€" in UTF-8
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FailureTextFromOutput(c.output, c.codePage), c.expected)
        << "output " << testing::PrintToString(c.output) << " in " << c.codePage;
  }
}

TEST(StaticCommandsTest, VerdictAndFailureText) {
  const Text before = "what the variable held";
  const Text kQueDingUtf8 = u8"确定";  // a u8 literal stays UTF-8
  const struct {
    CapturedRun run;
    bool made;
    Text failure;  // what the failure text holds afterwards
    uint32_t failureCodePage = kProgramCodePage;
  } cases[] = {
      // The word counts anywhere, whatever the exit code.
      {{kQueDing + "\r\n", true, 1}, true, before},
      {{"IP " + kQueDing + "\xA1\xA3\r\n\r\n", true, 1}, true, before},
      {{kQueDing, false, 0}, true, before},
      // Today's netsh prints nothing on success.
      {{"", true, 0}, true, before},
      {{"some note\r\n", true, 0}, true, before},
      // Failures hand the output back less one line break.
      {{"The syntax is wrong.\r\n\r\n", true, 1}, false, "The syntax is wrong.\r\n"},
      {{"abc\r\ndef\r\n\r\n", true, 1}, false, "abc\r\ndef\r\n"},
      {{"one line\r\n", true, 1}, false, "one line"},
      {{"no line break", true, 1}, false, "no line break"},
      {{"cmd.exe not found", false, 0}, false, "cmd.exe not found"},
      // Bytes of the word starting on a second byte are not the word.
      {{"\xB0" + kQueDing + "x", true, 5}, false, "\xB0" + kQueDing + "x"},
      // No output: a sentence says what happened.
      {{"", true, 1}, false, "命令已结束，退出代码为 1，没有输出任何信息。"},
      {{"\r\n", true, 9009}, false, "命令已结束，退出代码为 9009，没有输出任何信息。"},
      {{"", true, 259}, false, "命令已结束，退出代码为 259，没有输出任何信息。"},
      {{"", true, 0xFFFFFFFFu}, false, "命令已结束，退出代码为 4294967295，没有输出任何信息。"},
      {{"", false, 0, 2}, false, "无法启动命令解释器（系统错误 2）。"},
      // An exit code that could not be read is no success.
      {{"", true, std::nullopt}, false, "命令已结束，但无法读取它的退出代码。"},
      {{"\r\n", true, std::nullopt}, false, "命令已结束，但无法读取它的退出代码。"},
      {{"some note\r\n", true, std::nullopt}, false, "some note"},
      {{kQueDing + "\r\n", true, std::nullopt}, true, before},
      // netsh's warning that a DNS server does not answer is no success of any other command.
      {{"\r\n" + kUnreachableZh + "\r\n", true, 1}, false, "\r\n" + kUnreachableZh},
      {{kUnreachableEn, true, std::nullopt}, false, kUnreachableEn},
      // Output in another code page: the word is looked for in GBK, the failure text is shown
      // from the bytes netsh printed, in their own code page.
      {{kQueDingUtf8 + "\r\n", true, 1, 0, 65001, kQueDing + "\r\n"}, true, before},
      {{"Ung\x81ltig.\r\n", true, 1, 0, 850, Text("Ung?ltig.\r\n")}, false, "Ung\x81ltig.", 850},
      // The bytes of the GBK word are four letters in code page 1252, which GBK lacks.
      {{kQueDing + "\r\n", true, 1, 0, 1252, Text("????\r\n")}, false, kQueDing, 1252},
      {{"", true, 1, 0, 437, Text()}, false, "命令已结束，退出代码为 1，没有输出任何信息。"},
  };
  for (const auto& c : cases) {
    ConsoleText failure = before;
    EXPECT_EQ(JudgeRun(c.run, &failure), c.made)
        << "output " << c.run.output << ", started " << c.run.started << ", exit "
        << ExitText(c.run.exitCode);
    EXPECT_EQ(failure.Bytes(), c.failure)
        << "output " << c.run.output << ", exit " << ExitText(c.run.exitCode);
    ASSERT_EQ(failure.pieces().size(), 1u) << "output " << c.run.output;
    EXPECT_EQ(failure.pieces()[0].codePage, c.failureCodePage) << "output " << c.run.output;
    // The failure text may be left out.
    EXPECT_EQ(JudgeRun(c.run, nullptr), c.made) << "output " << c.run.output;
  }
}

TEST(StaticCommandsTest, SetStaticAddressRunsTheLineAndJudgesItsOutput) {
  RecordingRunner runner({"\xD5\xD2\xB2\xBB\xB5\xBD\r\n", true, 1});
  ConsoleText failure = "before";
  EXPECT_FALSE(
      SetStaticAddress(runner, "10.0.0.5", "10.0.0.1", "255.0.0.0", Text("以太网 2"), &failure));
  ASSERT_EQ(runner.captured.size(), 1u);
  EXPECT_EQ(runner.captured[0],
            "netsh interface ip set address \"\xD2\xD4\xCC\xAB\xCD\xF8 2\" static 10.0.0.5 "
            "255.0.0.0 10.0.0.1 1");
  EXPECT_EQ(failure.Bytes(), "\xD5\xD2\xB2\xBB\xB5\xBD");
  EXPECT_TRUE(runner.started.empty());

  RecordingRunner accepting({"", true, 0});
  failure = "before";
  EXPECT_TRUE(
      SetStaticAddress(accepting, "10.0.0.5", "10.0.0.1", "255.0.0.0", std::nullopt, &failure));
  ASSERT_EQ(accepting.captured.size(), 1u);
  EXPECT_EQ(accepting.captured[0], "netsh interface ip set address \"" + kLocalConnection +
                                       "\" static 10.0.0.5 255.0.0.0 10.0.0.1 1");
  EXPECT_EQ(failure.Bytes(), "before");

  // netsh's DNS warning is no word of the address command's.
  RecordingRunner warning({"\r\n" + kUnreachableZh + "\r\n", true, 1});
  EXPECT_FALSE(SetStaticAddress(warning, "10.0.0.5", "10.0.0.1", "255.0.0.0", Text("n"), &failure));
  EXPECT_EQ(failure.Bytes(), "\r\n" + kUnreachableZh);
}

TEST(StaticCommandsTest, SetStaticDnsRunsTheLineAndJudgesItsOutput) {
  RecordingRunner confirming({kQueDing + "\r\n", true, 1});
  ConsoleText failure = "before";
  EXPECT_TRUE(SetStaticDns(confirming, "119.29.29.29", Text("Wi-Fi"), &failure));
  ASSERT_EQ(confirming.captured.size(), 1u);
  EXPECT_EQ(confirming.captured[0],
            "cmd /c netsh interface ip set dns \"Wi-Fi\" static 119.29.29.29");
  EXPECT_EQ(failure.Bytes(), "before");

  RecordingRunner silentFailure({"", true, 1});
  EXPECT_FALSE(SetStaticDns(silentFailure, "119.29.29.29", std::nullopt, &failure));
  ASSERT_EQ(silentFailure.captured.size(), 1u);
  EXPECT_EQ(silentFailure.captured[0],
            "cmd /c netsh interface ip set dns \"" + kLocalConnection + "\" static 119.29.29.29");
  EXPECT_EQ(failure.Bytes(), "命令已结束，退出代码为 1，没有输出任何信息。");
  EXPECT_FALSE(SetStaticDns(silentFailure, "119.29.29.29", std::nullopt, nullptr));
}

TEST(StaticCommandsTest, ADnsServerSetButNotAnsweringIsSetWithNetshsWarning) {
  // netsh sets such a server all the same and warns; the exit code then tells nothing. Only the
  // warning's own line is the notice.
  const struct {
    CapturedRun run;
    Text notice;
  } cases[] = {
      {{"\r\n" + kUnreachableZh + "\r\n", true, 1}, kUnreachableZh},
      {{"\r\n" + kUnreachableZh + "\r\n\r\n", true, std::nullopt}, kUnreachableZh},
      {{"\r\n" + kUnreachableEn + "\r\n", true, 1}, kUnreachableEn},
      {{kUnreachableEn, true, 0}, kUnreachableEn},
      {{"Ok.\r\n\r\n" + kUnreachableZh + "\r\nmore\r\n", true, 1}, kUnreachableZh},
      // Found in the program's code page whatever netsh printed in.
      {{u8"\r\n配置的 DNS 服务器不正确或不存在。\r\n", true, 1, 0, 65001,
        "\r\n" + kUnreachableZh + "\r\n"},
       kUnreachableZh},
  };
  for (const auto& c : cases) {
    RecordingRunner runner(c.run);
    ConsoleText failure = "before";
    Text notice = "left over";
    EXPECT_TRUE(SetStaticDns(runner, "192.0.2.99", Text("Wi-Fi"), &failure, &notice))
        << c.run.output;
    EXPECT_EQ(notice, c.notice) << c.run.output;
    EXPECT_EQ(failure.Bytes(), "before");
  }
  // Parts of the warning are not the warning, and a refused value runs nothing and leaves no
  // notice behind.
  RecordingRunner part({"配置的 DNS 服务器不正确\r\n", true, 1});
  ConsoleText failure;
  Text notice = "left over";
  EXPECT_FALSE(SetStaticDns(part, "192.0.2.99", Text("Wi-Fi"), &failure, &notice));
  EXPECT_EQ(failure.Bytes(), "配置的 DNS 服务器不正确");
  EXPECT_EQ(notice, "");
  notice = "left over";
  EXPECT_FALSE(SetStaticDns(part, "1.2.3.4|x", Text("Wi-Fi"), &failure, &notice));
  EXPECT_EQ(notice, "");
  EXPECT_EQ(part.captured.size(), 1u);
}

TEST(StaticCommandsTest, EmptyTypedValuesAreLeftToNetsh) {
  RecordingRunner runner({"", true, 1});
  ConsoleText failure;
  EXPECT_FALSE(SetStaticAddress(runner, "", "", "", Text("n"), &failure));
  EXPECT_FALSE(SetStaticDns(runner, "", Text("n"), &failure));
  ASSERT_EQ(runner.captured.size(), 2u);
  EXPECT_EQ(runner.captured[0], "netsh interface ip set address \"n\" static   none");
  EXPECT_EQ(runner.captured[1], "cmd /c netsh interface ip set dns \"n\" static ");
}

// Values that could end the quoted name, start another command, redirect or expand variables.
const char* const kUnsafeValues[] = {
    "1.2.3.4\"",
    "1.2.3.4\" & calc & \"",
    "1.2.3.4&calc",
    "1.2.3.4|more",
    "1.2.3.4<in",
    "1.2.3.4>out",
    "1.2.3.4^",
    "%PATH%",
    "1.2.3.4\r\nnetsh",
    "1.2.3.4\n",
    "\t1.2.3.4",
    "1.2.3.4\x01",
    "1.2.3.4\x1F",
    "1.2.3.4\x7F",
    "\x1B[31m",
    // A double-byte character whose second byte is "|" (0x81 0x7C).
    "\x81\x7C",
};

TEST(StaticCommandsTest, UnsafeTypedValuesAreRefusedBeforeAnythingRuns) {
  for (const char* value : kUnsafeValues) {
    EXPECT_FALSE(IsSafeCommandValue(value)) << value;
    RecordingRunner runner({kQueDing, true, 0});
    const struct {
      const char* what;
      bool made;
    } calls[] = {
        {"ip", SetStaticAddress(runner, value, "10.0.0.1", "255.0.0.0", std::nullopt, nullptr)},
        {"gateway", SetStaticAddress(runner, "10.0.0.5", value, "255.0.0.0", Text("n"), nullptr)},
        {"mask", SetStaticAddress(runner, "10.0.0.5", "10.0.0.1", value, Text("n"), nullptr)},
        {"dns", SetStaticDns(runner, value, Text("n"), nullptr)},
    };
    for (const auto& call : calls) EXPECT_FALSE(call.made) << call.what << " " << value;

    ConsoleText failure = "before";
    EXPECT_FALSE(SetStaticDns(runner, value, Text("n"), &failure)) << value;
    EXPECT_NE(failure.Bytes().find("不允许的字符"), Text::npos) << failure.Bytes();
    failure = "before";
    EXPECT_FALSE(SetStaticAddress(runner, "10.0.0.5", value, "255.0.0.0", Text("n"), &failure));
    EXPECT_NE(failure.Bytes().find("不允许的字符"), Text::npos) << failure.Bytes();
    EXPECT_TRUE(runner.captured.empty()) << value << " reached the runner";
  }
}

TEST(StaticCommandsTest, OrdinaryValuesAreSafe) {
  const char* const values[] = {
      "",
      "192.168.1.10",
      "255.255.255.0",
      "fe80::1",
      "1.2.3.4 5",
      "abc-def_1.2/24",
      "\xD2\xD4\xCC\xAB\xCD\xF8",  // typed Chinese is netsh's to judge
  };
  for (const char* value : values) EXPECT_TRUE(IsSafeCommandValue(value)) << value;
}

TEST(StaticCommandsTest, NamesTheInterpreterWouldRewriteAreRefusedBeforeAnythingRuns) {
  // cmd expands %VAR% even between quotes; a quote would end the quoted name early.
  const char* const refused[] = {"办公 %PATH%", "100%", "a\"b", "tab\tname", "\x7F"};
  for (const char* name : refused) {
    EXPECT_FALSE(IsSafeConnectionName(name)) << name;
    RecordingRunner runner({kQueDing, true, 0});
    ConsoleText failure = "before";
    EXPECT_FALSE(
        SetStaticAddress(runner, "10.0.0.5", "10.0.0.1", "255.0.0.0", Text(name), &failure));
    EXPECT_NE(failure.Bytes().find("连接名称含有"), Text::npos) << failure.Bytes();
    failure = "before";
    EXPECT_FALSE(SetStaticDns(runner, "10.0.0.53", Text(name), &failure));
    EXPECT_NE(failure.Bytes().find("连接名称含有"), Text::npos) << failure.Bytes();
    EXPECT_TRUE(runner.captured.empty()) << name << " reached the runner";
  }
  // Between quotes these are only characters of the name.
  const char* const kept[] = {"", "以太网 2", "Local Area Connection 2", "a&b|c<d>e^f", "本地连接"};
  for (const char* name : kept) {
    EXPECT_TRUE(IsSafeConnectionName(name)) << name;
    RecordingRunner runner({kQueDing, true, 0});
    EXPECT_TRUE(SetStaticDns(runner, "10.0.0.53", Text(name), nullptr)) << name;
    EXPECT_EQ(runner.captured.size(), 1u) << name;
  }
}

}  // namespace
}  // namespace ipmod

#include "dialogue/dialogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dialogue/dialogue_fakes.h"

namespace ipmod {
namespace {

const std::vector<FakeAdapter> kThreeAdapters = {
    {"{11111111-0000-0000-0000-4E6574446576}", "以太网 2", "192.0.2.10"},
    {"{22222222-0000-0000-0000-4E6574446576}", nullptr, "198.51.100.7"},
    {"{33333333-0000-0000-0000-4E6574446576}", "无线 %s 网络", "203.0.113.5"},
};

// The first adapter's settings before a change (KeepSettings) in its history.
const char kStatic[] = "static\t192.0.2.10/255.255.255.0\t192.0.2.1/1\t192.0.2.53";
const char kUnreadableLine[] = "\r\n无法读取该连接的当前设置。\r\n";
const char kMenu[] =
    "请选择DNS修改类型：\r\n1、自动获取DNS\r\n2、设置114.114.114.114\r\n3、腾讯119.29.29.29\r\n"
    "4、自定义输入\r\n";

struct Session {
  RecordingConsole console;
  FakeAdapters adapters;
  FakeCommands commands;
  FakeClock clock;
  FakeSession session;
  FakeGuard guard;
  FakeHistory history;
  int32_t result = -1;

  Session(std::vector<Text> lines, std::vector<FakeAdapter> list = kThreeAdapters,
          CapturedRun reply = {"", true, 0})
      : console(std::move(lines)), adapters(std::move(list)) {
    commands.reply = std::move(reply);
    commands.console = &console;
    commands.network = &adapters;
    adapters.clock = &clock;
  }

  Session& Go() {
    result = Dialogue({console, adapters, adapters, commands, clock, session, guard, history});
    EXPECT_EQ(console.misuse, std::vector<std::string>());
    EXPECT_EQ(commands.misuse, std::vector<std::string>());
    return *this;
  }
};

// The first adapter as the system keeps it before any change: static 192.0.2.10/24 by 192.0.2.1,
// one static DNS server.
void KeepSettings(Session& run, const Text& ip = "192.0.2.10", const Text& servers = "192.0.2.53") {
  const Text guid = kThreeAdapters[0].guid;
  run.adapters.StoreStatic(guid, ip, "255.255.255.0", "192.0.2.1");
  run.adapters.StoreDns(guid, servers);
  run.adapters.SetLive(guid, ip, "255.255.255.0", "192.0.2.1");
}

TEST(DialogueTest, ListsAdaptersAtFixedRowsAndAsksForANumber) {
  Session run({});
  run.Go();
  const auto& w = run.console.writes;
  ASSERT_EQ(w.size(), 9u);
  auto expect = [&](std::size_t i, std::optional<int32_t> column, std::optional<int32_t> row,
                    int32_t colour, const Text& text, const Text& systemText = "") {
    SCOPED_TRACE(i);
    EXPECT_EQ(w[i].column, column);
    EXPECT_EQ(w[i].row, row);
    EXPECT_FALSE(w[i].restoreCursor);
    EXPECT_EQ(w[i].foreground, colour);
    EXPECT_EQ(w[i].background, kBlack);
    EXPECT_EQ(w[i].text, text);
    // Connection names are in the system's code page, the rest is the program's own.
    EXPECT_EQ(w[i].systemText, systemText);
  };
  expect(0, 50, 0, kYellow, "欢迎使用IP修改工具 Ver:1.1 BY：VELDR\r\n");
  expect(1, std::nullopt, 1, kRed, "请勿用作违法用途，使用前请确保你有恢复网络的能力！\r\n");
  expect(2, 2, 2, kGreen, "1、以太网 2", "以太网 2");
  expect(3, 2, std::nullopt, kCyan, " IP：192.0.2.10\r\n");
  expect(4, 2, 3, kGreen, "2、");
  expect(5, 2, std::nullopt, kCyan, " IP：198.51.100.7\r\n");
  expect(6, 2, 4, kGreen, "3、无线 %s 网络", "无线 %s 网络");
  expect(7, 2, std::nullopt, kCyan, " IP：203.0.113.5\r\n");
  expect(8, 2, 5, kYellow, "请选择你需要修改的连接名称:1~3\r\n");
  EXPECT_EQ(run.result, 0);
}

TEST(DialogueTest, NumbersOutsideTheListAreRefusedUntilOneFits) {
  // Each of these converts to a number outside 1..3. The empty text is what a line that starts
  // with a zero byte gives: a line like any other, not the end of input.
  const std::vector<Text> refused = {"4", "0", "-1", "x", "\n", "4294967296", ""};
  std::vector<Text> lines = refused;
  lines.push_back("\xA3\xB2");  // full-width 2
  Session run(lines);
  run.Go();
  EXPECT_EQ(run.console.Count("输入错误,请重新输入！\r\n"), static_cast<int>(refused.size()));
  // The prompt is not repeated; entry 2 is confirmed.
  EXPECT_EQ(run.console.Count("请选择你需要修改的连接名称:1~3\r\n"), 1);
  for (const Write& w : run.console.writes) {
    if (w.text == "输入错误,请重新输入！\r\n") {
      EXPECT_EQ(w.foreground, kRed);
      EXPECT_FALSE(w.row.has_value());
    }
  }
  EXPECT_NE(run.console.Screen().find("你选择的是：（IP:198.51.100.7）\r\n"), Text::npos);
}

// The choice confirmed, then the settings before anything changes, in cyan, then the prompt.
TEST(DialogueTest, TheChosenConnectionIsShownWithItsSettings) {
  Session run({"3"});
  run.Go();
  const auto& w = run.console.writes;
  ASSERT_GE(w.size(), 3u);
  EXPECT_EQ(w[w.size() - 3].text, "你选择的是：无线 %s 网络（IP:203.0.113.5）\r\n");
  EXPECT_EQ(w[w.size() - 3].systemText, "无线 %s 网络");
  EXPECT_EQ(w[w.size() - 2].text, "无法读取该连接的当前设置。\r\n");
  EXPECT_EQ(w[w.size() - 2].foreground, kCyan);
  EXPECT_EQ(w.back().text, "请输入IP地址（如果需自动获取输入0）：");
  EXPECT_EQ(w.back().foreground, kYellow);

  Session kept({"1"});
  KeepSettings(kept);
  kept.Go();
  EXPECT_EQ(kept.console.writes[kept.console.writes.size() - 2].text,
            "当前设置：IP：192.0.2.10，子网掩码：255.255.255.0，网关：192.0.2.1\r\n"
            "当前DNS：192.0.2.53\r\n");
}

TEST(DialogueTest, NoAdaptersMeansNoNumberFits) {
  Session run({"1", "0"}, {});
  run.Go();
  const auto& w = run.console.writes;
  ASSERT_EQ(w.size(), 5u);
  EXPECT_EQ(w[2].text, "请选择你需要修改的连接名称:1~0\r\n");
  EXPECT_EQ(w[2].row, 2);
  EXPECT_EQ(run.console.Count("输入错误,请重新输入！\r\n"), 2);
  EXPECT_TRUE(run.commands.started.empty());
  EXPECT_TRUE(run.commands.captured.empty());
}

TEST(DialogueTest, ZeroSwitchesTheAddressToDhcpInTheConsole) {
  Session run({"1", "0", "1", "done"});
  run.Go();
  ASSERT_GE(run.commands.started.size(), 1u);
  EXPECT_EQ(run.commands.started[0], "netsh int ip set address name=\"以太网 2\" source=dhcp");
  // Nothing of the dialogue's own between the address prompt and the menu.
  const auto& e = run.console.events;
  const auto started = std::find(e.begin(), e.end(), "started " + run.commands.started[0]);
  ASSERT_NE(started, e.end());
  EXPECT_EQ(*(started - 1), "read 0");
  EXPECT_EQ(*(started + 1), std::string("write ") + kUnreadableLine);
  EXPECT_EQ(*(started + 2), std::string("write ") + kMenu);
}

TEST(DialogueTest, DhcpWithAnEmptyNameLeavesTheQuotesEmpty) {
  Session run({"2", "0", "1", "done"});
  run.Go();
  ASSERT_EQ(run.commands.started.size(), 2u);
  EXPECT_EQ(run.commands.started[0], "netsh int ip set address name=\"\" source=dhcp");
  EXPECT_EQ(run.commands.started[1], "netsh int ip set dns name=\"\" source=dhcp");
}

TEST(DialogueTest, OnlyASingleZeroMeansDhcp) {
  for (const char* ip : {"00", " 0", "0.0.0.0"}) {
    SCOPED_TRACE(ip);
    Session run({"1", ip, "192.0.2.1", "255.255.255.0"});
    run.Go();
    EXPECT_TRUE(run.commands.started.empty());
    ASSERT_EQ(run.commands.captured.size(), 1u);
    EXPECT_EQ(run.commands.captured[0],
              Text("netsh interface ip set address \"以太网 2\" static ") + ip +
                  " 255.255.255.0 192.0.2.1 1");
  }
}

TEST(DialogueTest, StaticAddressReportsTheVerdict) {
  struct Case {
    CapturedRun reply;
    const char* message;
    uint32_t lastPieceCodePage = kProgramCodePage;  // netsh's words stay in their code page
  } cases[] = {
      {{"确定。\r\n", true, 1}, "修改成功,请查看！"},
      {{"", true, 0}, "修改成功,请查看！"},
      {{"\r\n", true, 0}, "修改成功,请查看！"},
      {{"文件名、目录名或卷标语法不正确。\r\n\r\n", true, 1},
       "修改失败：文件名、目录名或卷标语法不正确。\r\n"},
      {{"", true, 1}, "修改失败：命令已结束，退出代码为 1，没有输出任何信息。"},
      {{"", false, 0, 2}, "修改失败：无法启动命令解释器（系统错误 2）。"},
      {{"Ung\x81ltig.\r\n", true, 1, 0, 850, Text("Ung?ltig.\r\n")}, "修改失败：Ung\x81ltig.", 850},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Session run({"1", "192.0.2.10", "192.0.2.1", "255.255.255.0"}, kThreeAdapters, c.reply);
    run.Go();
    const auto& w = run.console.writes;
    ASSERT_GE(w.size(), 5u);
    EXPECT_EQ(w[w.size() - 5].text, "请输入网关，一般的路由器是（192.168.1.1）：");
    EXPECT_EQ(w[w.size() - 4].text, "请输入子网掩码，一般的路由器是（255.255.255.0）：");
    EXPECT_EQ(w[w.size() - 3].text, c.message);
    EXPECT_EQ(w[w.size() - 3].pieces.pieces().back().codePage, c.lastPieceCodePage);
    EXPECT_EQ(w[w.size() - 3].foreground, kYellow);
    // Without stored settings the verdict is netsh's, and the read-back says so.
    EXPECT_EQ(w[w.size() - 2].text, kUnreadableLine);
    EXPECT_EQ(w[w.size() - 2].foreground, kRed);
    EXPECT_EQ(w.back().text, kMenu);
  }
}

TEST(DialogueTest, TypedValuesThatCouldRunCommandsAreRefused) {
  Session run({"1", "192.0.2.10 & calc", "192.0.2.1", "255.255.255.0", "4", "1.1.1.1|x", "end"});
  run.Go();
  EXPECT_TRUE(run.commands.captured.empty());
  const Text screen = run.console.Screen();
  EXPECT_NE(screen.find("修改失败："), Text::npos);
  EXPECT_NE(screen.find("修改DNS设置失败:"), Text::npos);
  EXPECT_EQ(screen.find("修改成功"), Text::npos);
}

TEST(DialogueTest, DnsMenuComesBackUntilAChoiceIsMade) {
  Session run({"1", "0", "5", "110", "2 ", "\n", "2", "last"});
  run.Go();
  EXPECT_EQ(run.console.Count(kMenu), 5);
  ASSERT_EQ(run.commands.captured.size(), 1u);
  EXPECT_EQ(run.commands.captured[0],
            "cmd /c netsh interface ip set dns \"以太网 2\" static 114.114.114.114");
  EXPECT_EQ(run.console.Message().text, "修改DNS设置成功！");
  // The last line is read after the message and ends the run.
  EXPECT_EQ(run.console.events.back(), "read last");
  EXPECT_EQ(run.console.readsAtEnd, 0);
  EXPECT_EQ(run.result, 0);
}

TEST(DialogueTest, EachDnsChoiceRunsItsCommand) {
  struct Case {
    std::vector<Text> choice;
    const char* command;  // captured, or started when it begins with "netsh int"
  } cases[] = {
      {{"1"}, "netsh int ip set dns name=\"以太网 2\" source=dhcp"},
      {{"2"}, "cmd /c netsh interface ip set dns \"以太网 2\" static 114.114.114.114"},
      {{"3"}, "cmd /c netsh interface ip set dns \"以太网 2\" static 119.29.29.29"},
      {{"4", "192.0.2.53"}, "cmd /c netsh interface ip set dns \"以太网 2\" static 192.0.2.53"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    std::vector<Text> lines = {"1", "0"};
    lines.insert(lines.end(), c.choice.begin(), c.choice.end());
    lines.push_back("end");
    Session run(lines);
    run.Go();
    const bool direct = Text(c.command).rfind("netsh int ", 0) == 0;
    const std::vector<Text>& seen = direct ? run.commands.started : run.commands.captured;
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), c.command);
    EXPECT_EQ(run.console.Message().text, direct ? "自动获取DNS设置成功！" : "修改DNS设置成功！");
    EXPECT_EQ(run.console.events.back(), "read end");
  }
}

TEST(DialogueTest, DnsFailuresAreReported) {
  // A static DNS change that netsh refuses.
  Session refused({"1", "0", "3", "end"}, kThreeAdapters, {"配置失败。\r\n", true, 1});
  refused.Go();
  EXPECT_EQ(refused.console.Message().text, "修改DNS设置失败:配置失败。");

  // Automatic DNS whose netsh cannot be started: the message stands alone, whatever the
  // address step left behind.
  Session unstarted({"1", "192.0.2.10", "192.0.2.1", "255.255.255.0", "1", "end"}, kThreeAdapters,
                    {"出错了\r\n", true, 1});
  unstarted.commands.programStarts = false;
  unstarted.Go();
  EXPECT_EQ(unstarted.console.Message().text, "修改DNS设置失败:");

  // Automatic DNS that netsh refuses with a non-zero exit code is no success either.
  Session refusedDhcp({"1", "0", "1", "end"});
  refusedDhcp.commands.programExitCode = 1;
  refusedDhcp.Go();
  EXPECT_EQ(refusedDhcp.console.Message().text, "修改DNS设置失败:");

  // Nor is automatic DNS whose end cannot be read.
  Session unread({"1", "0", "1", "end"});
  unread.commands.programExitCode = std::nullopt;
  unread.Go();
  EXPECT_EQ(unread.console.Message().text, "修改DNS设置失败:");

  // A static DNS change whose exit code cannot be read and that printed nothing.
  Session unreadStatic({"1", "0", "2", "end"}, kThreeAdapters, {"", true, std::nullopt});
  unreadStatic.Go();
  EXPECT_EQ(unreadStatic.console.Message().text,
            "修改DNS设置失败:命令已结束，但无法读取它的退出代码。");
}

TEST(DialogueTest, ServerSetButNotAnsweringIsReportedWithNetshsWarning) {
  // netsh sets it all the same and warns; the warning follows the success message. It is the
  // DNS command's word only: the same output from the address command is a failure.
  Session run({"1", "192.0.2.10", "192.0.2.1", "255.255.255.0", "4", "192.0.2.99", "end"},
              kThreeAdapters, {"\r\n配置的 DNS 服务器不正确或不存在。\r\n", true, 1});
  run.Go();
  EXPECT_EQ(run.console.Message().text, "修改DNS设置成功！配置的 DNS 服务器不正确或不存在。");
  EXPECT_EQ(run.console.Count("修改失败：\r\n配置的 DNS 服务器不正确或不存在。"), 1)
      << run.console.Screen();

  Session plain({"1", "0", "3", "end"});
  plain.Go();
  EXPECT_EQ(plain.console.Message().text, "修改DNS设置成功！");
}

TEST(DialogueTest, NamesTheInterpreterWouldRewriteAreNeverPutOnACommandLine) {
  // cmd expands %VAR% even between quotes, so netsh would be told about another connection.
  Session run({"1", "192.0.2.10", "192.0.2.1", "255.255.255.0", "2", "end"},
              {{"{44444444-0000-0000-0000-4E6574446576}", "办公 %PATH%", "192.0.2.10"}});
  run.Go();
  EXPECT_TRUE(run.commands.captured.empty());
  const Text screen = run.console.Screen();
  EXPECT_NE(screen.find("修改失败：连接名称含有"), Text::npos) << screen;
  EXPECT_NE(screen.find("修改DNS设置失败:连接名称含有"), Text::npos) << screen;
}

TEST(DialogueTest, EndOfInputEndsTheRunAtEveryPrompt) {
  // Each script stops at a different prompt; no command may run after the input has ended.
  struct Case {
    std::vector<Text> lines;
    std::size_t captured;
    std::size_t started;
  } cases[] = {
      {{}, 0, 0},                                                 // connection number
      {{"9"}, 0, 0},                                              // number, after a refusal
      {{"1"}, 0, 0},                                              // address
      {{"1", "192.0.2.10"}, 0, 0},                                // gateway
      {{"1", "192.0.2.10", "192.0.2.1"}, 0, 0},                   // mask
      {{"1", "192.0.2.10", "192.0.2.1", "255.255.255.0"}, 1, 0},  // DNS menu
      {{"1", "0", "5"}, 0, 1},                                    // menu again
      {{"1", "0", "4"}, 0, 1},                                    // custom DNS server
      {{"1", "0", "2"}, 1, 1},                                    // last line
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.lines));
    Session run(c.lines);
    run.Go();
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.console.readsAtEnd, 1);
    EXPECT_EQ(run.console.events.back(), "read at end");
    EXPECT_EQ(run.commands.captured.size(), c.captured);
    EXPECT_EQ(run.commands.started.size(), c.started);
  }
}

TEST(DialogueTest, TheVerdictFollowsTheSettingsReadBack) {
  const char kStatic50[] = "当前设置：IP：192.0.2.50，子网掩码：255.255.255.0，网关：192.0.2.1";
  const char kStatic10[] = "当前设置：IP：192.0.2.10，子网掩码：255.255.255.0，网关：192.0.2.1";
  const std::vector<Text> kAddress = {"1", "192.0.2.50", "192.0.2.1", "255.255.255.0"};
  const std::vector<Text> kDhcp = {"1", "0"};
  // The address step refused (nothing runs, nothing is read back), then a DNS choice.
  const auto dns = [](const char* choice) {
    return std::vector<Text>{"1", "1&2", "192.0.2.1", "255.255.255.0", choice};
  };
  const auto kAll = FakeCommands::kEverything;
  const auto kNone = FakeCommands::kNothing;
  const CapturedRun kSilent = {"", true, 0};
  const CapturedRun kRefused = {"", true, 1};
  const CapturedRun kExists = {"对象已存在。\r\n", true, 1};
  const CapturedRun kWords = {"确定。\r\n", true, 0};
  const CapturedRun kUnstarted = {"", false, 0, 2};
  const CapturedRun kWarning = {"\r\n配置的 DNS 服务器不正确或不存在。\r\n", true, 1};
  const struct {
    const char* label;
    std::vector<Text> lines;
    FakeCommands::Effect effect;
    CapturedRun reply;
    Text message;  // the step's message (none for the DHCP switch)
    Text line;     // the read-back line
    bool green;
    std::size_t waits = 0;              // reads again while the live state settles
    uint32_t lagMs = 0;                 // how long the live state takes to follow
    Text storedIp = "192.0.2.10";       // the address stored before the change
    Text storedServers = "192.0.2.53";  // the DNS servers stored before the change
    Text lease = "192.0.2.200";         // what a DHCP switch gets; empty: no DHCP server
    bool linkUp = true;                 // false: a cable out
    Text another;                       // a second address, stored and live, before the change
  } cases[] = {
      {"static, made", kAddress, kAll, kSilent, "修改成功,请查看！", kStatic50, true},
      {"static, already there, netsh refuses", kAddress, kNone, kExists, "修改成功,请查看！",
       kStatic50, true, 0, 0, "192.0.2.50"},
      {"static, claimed only", kAddress, kNone, kSilent, "修改失败：设置未生效。", kStatic10,
       false},
      {"static, claimed with words", kAddress, kNone, kWords, "修改失败：确定。", kStatic10, false},
      {"static, live follows late", kAddress, kAll, kSilent, "修改成功,请查看！", kStatic50, true,
       3, 500},
      // The live state never follows: at most 10 s of reading again.
      {"static, stored only", kAddress, FakeCommands::kStoredOnly, kSilent,
       "修改失败：设置未生效。", Text(kStatic50) + "（未生效，正在使用：192.0.2.10）", false, 50},
      {"static, interpreter not started", kAddress, kNone, kUnstarted,
       "修改失败：无法启动命令解释器（系统错误 2）。", kStatic10, false},
      {"DHCP switch", kDhcp, kAll, kSilent, "", "当前设置：自动获取IP地址，IP：192.0.2.200", true},
      {"DHCP switch, claimed only", kDhcp, kNone, kSilent, "", kStatic10, false},
      {"automatic DNS, already on, netsh refuses", dns("1"), kNone, kRefused,
       "自动获取DNS设置成功！", "当前DNS：自动获取", true, 0, 0, "192.0.2.10", ""},
      {"automatic DNS, claimed only", dns("1"), kNone, kSilent, "修改DNS设置失败:设置未生效。",
       "当前DNS：192.0.2.53", false},
      {"static DNS, made", dns("2"), kAll, kSilent, "修改DNS设置成功！", "当前DNS：114.114.114.114",
       true},
      {"static DNS, claimed only", dns("2"), kNone, kSilent, "修改DNS设置失败:设置未生效。",
       "当前DNS：192.0.2.53", false},
      {"static DNS, set with netsh's warning", dns("3"), kAll, kWarning,
       "修改DNS设置成功！配置的 DNS 服务器不正确或不存在。", "当前DNS：119.29.29.29", true},
      // The address asked is the connection's second: netsh refuses, and nothing changed.
      {"static, second of several", kAddress, kNone, kExists, "修改失败：对象已存在。", kStatic10,
       false, 0, 0, "192.0.2.10", "192.0.2.53", "", true, "192.0.2.50"},
      {"static, no gateway",
       {"1", "192.0.2.50", " ", "255.255.255.0"},
       kAll,
       kSilent,
       "修改成功,请查看！",
       "当前设置：IP：192.0.2.50，子网掩码：255.255.255.0，网关：无",
       true},
      {"static, cable out", kAddress, kAll, kSilent, "修改成功,请查看！",
       Text(kStatic50) + "（网络未连接，连接后生效）", true, 0, 0, "192.0.2.10", "192.0.2.53", "",
       false},
      {"DHCP, lease comes late", kDhcp, kAll, kSilent, "",
       "当前设置：自动获取IP地址，IP：192.0.2.200", true, 4, 700},
      {"DHCP, no DHCP server", kDhcp, kAll, kSilent, "",
       "当前设置：自动获取IP地址，IP：169.254.7.9（未获得DHCP地址）", false, 50, 0, "192.0.2.10",
       "192.0.2.53", "169.254.7.9"},
      {"DHCP, nothing at all", kDhcp, kAll, kSilent, "",
       "当前设置：自动获取IP地址，IP：无（未获得DHCP地址）", false, 50, 0, "192.0.2.10",
       "192.0.2.53", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Session run(c.lines, kThreeAdapters, c.reply);
    KeepSettings(run, c.storedIp, c.storedServers);
    const Text guid = kThreeAdapters[0].guid;
    if (!c.another.empty()) {
      run.adapters.StoreAnother(guid, c.another, "255.255.255.0");
      run.adapters.AddLive(guid, c.another);
    }
    run.adapters.SetLinkUp(guid, c.linkUp);
    run.commands.effect = c.effect;
    run.commands.liveLagMs = c.lagMs;
    run.commands.lease = c.lease;
    // Commands started in the console answer as the captured ones do.
    run.commands.programStarts = c.reply.started;
    run.commands.programExitCode = c.reply.exitCode;
    run.Go();
    const auto& w = run.console.writes;
    const auto line = std::find_if(w.begin(), w.end(), [](const Write& write) {
      return write.text.rfind("\r\n当前", 0) == 0 || write.text.rfind("\r\n无法", 0) == 0;
    });
    ASSERT_NE(line, w.end()) << run.console.Screen();
    EXPECT_EQ(line->text, "\r\n" + c.line + "\r\n");
    EXPECT_EQ(line->foreground, c.green ? kGreen : kRed);
    if (!c.message.empty()) EXPECT_EQ((line - 1)->text, c.message);
    // Reading again shows: the sign, a mark for each read, and the end of its line.
    EXPECT_EQ(run.clock.waits, std::vector<int32_t>(c.waits, 200));
    EXPECT_EQ(run.console.Count("正在等待设置生效"), c.waits > 0 ? 1 : 0);
    EXPECT_EQ(run.console.Count("."), static_cast<int>(c.waits));
    EXPECT_EQ(std::count_if(w.begin(), w.end(),
                            [](const Write& write) {
                              return write.text.rfind("\r\n", 0) == 0 &&
                                     write.text.rfind("\r\n输入R", 0) != 0;
                            }),
              c.waits > 0 ? 2 : 1);
  }
}

TEST(DialogueTest, TheFinalPauseOffersTheWayBack) {
  const char kPrompt[] = "\r\n输入R恢复修改前的设置，直接回车结束：";
  const Text kBefore =
      "\r\n当前设置：IP：192.0.2.10，子网掩码：255.255.255.0，网关：192.0.2.1\r\n当前DNS：192.0.2."
      "53\r\n";
  const Text kSetAddress =
      "netsh interface ip set address name=\"以太网 2\" static 192.0.2.10 255.255.255.0 192.0.2.1 "
      "1";
  const Text kSetDns = "netsh interface ip set dns name=\"以太网 2\" static 192.0.2.53";
  // A record of the first adapter's history, of the settings before the change by default.
  const auto record = [](const char* time, const char* settings = kStatic) {
    return Text(time) + "\t{11111111-0000-0000-0000-4E6574446576}\tD2D4CCABCDF82032\t" + settings +
           "\r\n";
  };
  const char kOld[] = "2026-12-01 08:00";
  const char kNow[] = "2026-12-09 14:03";
  struct History {
    Text before;  // the file; where it holds something or cannot be written, also after
    Text after;
    Text offer;  // the earlier settings shown with the snapshot
    bool writable = true;
  };
  const std::vector<Text> kBoth = {kSetAddress, kSetDns};
  const std::vector<Text> kBackToDhcp = {
      "netsh interface ip set address name=\"以太网 2\" source=dhcp", kSetDns};
  const std::vector<Text> kDhcpThenR = {"1", "0", "2", "R", "end"};
  const std::vector<Text> kStaticThenR = {"1", "192.0.2.50", "192.0.2.1", "255.255.255.0",
                                          "2", "R",          "end"};
  const struct {
    const char* label;
    std::vector<Text> lines;
    bool keep = true;                   // the settings before the change can be read
    std::size_t refuseFrom = SIZE_MAX;  // captured commands from then on are refused
    bool asked = true;                  // the way back is offered
    std::vector<Text> restore;          // the commands that put it back
    Text message;
    Text shown;  // the lines after the message
    bool green = true;
    std::size_t refuseTo = SIZE_MAX;  // the last refused
    bool leaseBefore = true;          // false: DHCP before the change, and no DHCP server
    History history = {};
  } cases[] = {
      {"DHCP and DNS, restored",
       {"1", "0", "2", "R", "end"},
       true,
       SIZE_MAX,
       true,
       {kSetAddress, kSetDns},
       "已恢复修改前的设置。",
       kBefore},
      {"DNS only, restored with r",
       {"1", "1&2", "", "", "3", "r", "end"},
       true,
       SIZE_MAX,
       true,
       {kSetDns},
       "已恢复修改前的设置。",
       kBefore},
      // The DNS part is tried all the same, and the verdict says what became of it.
      {"restore refused",
       {"1", "0", "2", "R", "end"},
       true,
       2,
       true,
       kBoth,
       "恢复失败：拒绝访问。（DNS未恢复）",
       "\r\n当前设置：自动获取IP地址，IP：192.0.2.200\r\n当前DNS：114.114.114.114\r\n",
       false},
      {"address part refused, DNS put back", kDhcpThenR, true, 2, true, kBoth,
       "恢复失败：拒绝访问。（DNS已恢复）",
       "\r\n当前设置：自动获取IP地址，IP：192.0.2.200\r\n当前DNS：192.0.2.53\r\n", false, 2},
      // No DHCP server answered before the change either: what is stored is judged, at once.
      {"DHCP without a lease before", kStaticThenR, true, SIZE_MAX, true, kBackToDhcp,
       "已恢复修改前的设置。",
       "\r\n当前设置：自动获取IP地址，IP：无（未获得DHCP地址）\r\n当前DNS：192.0.2.53\r\n", true,
       SIZE_MAX, false},
      {"not asked for", {"1", "0", "2", "", "end"}, true, SIZE_MAX, true, {}, "", ""},
      {"input ends at the question", {"1", "0", "2"}, true, SIZE_MAX, true, {}, "", ""},
      // The address change refused, the DNS server set to the one it had.
      {"nothing differs", {"1", "1&2", "", "", "4", "192.0.2.53", "end"}, true, SIZE_MAX, false},
      {"no snapshot", {"1", "0", "2", "R"}, false, SIZE_MAX, false},
      {"earlier settings offered, restored, then this run's",
       {"1", "r1", "R", "end"},
       true,
       SIZE_MAX,
       true,
       {"netsh interface ip set address name=\"以太网 2\" source=dhcp",
        "netsh interface ip set dns name=\"以太网 2\" source=dhcp", kSetAddress, kSetDns},
       "已恢复修改前的设置。",
       kBefore,
       true,
       SIZE_MAX,
       true,
       {record(kOld, "dhcp\t\t\t"), record(kNow, "dhcp\t\t\t") + record(kNow),
        "R1 2026-12-01 08:00 当前设置：自动获取IP地址\r\n   当前DNS：自动获取\r\n"}},
      {"equal settings not offered, recorded again on top",
       kDhcpThenR,
       true,
       SIZE_MAX,
       true,
       kBoth,
       "已恢复修改前的设置。",
       kBefore,
       true,
       SIZE_MAX,
       true,
       {record(kOld), record(kNow, "dhcp\t\t\t114.114.114.114") + record(kNow)}},
      {"unwritable",
       {"1", "0", "2", "", "end"},
       true,
       SIZE_MAX,
       true,
       {},
       "",
       "",
       true,
       SIZE_MAX,
       true,
       {"", "", "", false}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Session run(c.lines);
    if (c.keep) KeepSettings(run);
    if (!c.leaseBefore) {
      run.adapters.StoreDhcp(kThreeAdapters[0].guid);
      run.adapters.SetLive(kThreeAdapters[0].guid, "169.254.7.9", "255.255.0.0", "");
      run.commands.lease = "";
    }
    run.commands.refuseFrom = c.refuseFrom;
    run.commands.refuseTo = c.refuseTo;
    run.commands.liveLagMs = 400;  // a restore waits for it too
    const History& h = c.history;
    run.history.file = h.before;
    run.history.writable = h.writable;
    run.Go();
    const auto& w = run.console.writes;
    const auto prompt =
        std::find_if(w.begin(), w.end(), [&](const Write& x) { return x.text == kPrompt; });
    ASSERT_EQ(prompt != w.end(), c.asked) << run.console.Screen();
    if (!h.before.empty() || !h.writable) EXPECT_EQ(run.history.file, h.after);
    const auto offered = std::find_if(
        w.begin(), w.end(), [](const Write& x) { return x.text.rfind("输入R1", 0) == 0; });
    ASSERT_EQ(offered != w.end(), !h.offer.empty());
    if (!h.offer.empty()) {
      EXPECT_EQ((offered - 1)->text, h.offer);
      EXPECT_EQ((offered - 1)->foreground, kCyan);
      EXPECT_EQ(offered->text, "输入R1可恢复以前的设置。\r\n");
      EXPECT_EQ(offered->foreground, kYellow);
    }
    if (!h.writable) {
      EXPECT_EQ((prompt - 1)->text, "无法保存修改前的设置：拒绝访问。");
      EXPECT_EQ((prompt - 1)->foreground, kYellow);
    }
    const auto& captured = run.commands.captured;
    const std::size_t before = std::count_if(captured.begin(), captured.end(), [](const Text& x) {
      return x.find(" name=\"") == Text::npos;
    });
    EXPECT_EQ(std::vector<Text>(captured.begin() + before, captured.end()), c.restore);
    if (!c.asked || c.restore.empty()) {
      if (c.asked) EXPECT_EQ(prompt->foreground, kYellow);
      continue;
    }
    ASSERT_GE(w.end() - prompt, 3);
    EXPECT_EQ((w.end() - 2)->text, c.message);
    EXPECT_EQ((w.end() - 2)->foreground, kYellow);
    EXPECT_EQ(w.back().text, c.shown);
    EXPECT_EQ(w.back().foreground, c.green ? kGreen : kRed);
    EXPECT_EQ(run.console.events.back(), "read end");  // one more line, read silently
    EXPECT_NE((w.end() - 3)->text, ".");               // the waiting marks end their line
  }
}

TEST(DialogueTest, ARemoteChangeIsKeptOnlyWhenConfirmed) {
  const char kQuestion[] = "\r\n输入Y保留新设置，输入R恢复修改前的设置（30秒内无应答将自动恢复）：";
  static const char kGuarded[] =
      "远程会话：修改后若30秒内没有应答，将自动恢复修改前的设置。\r\n"
      "恢复记录：C:\\ipmod\\ipmod-restore.log\r\n";
  const char kTimedOut[] = "\r\n已超时，正在恢复修改前的设置。\r\n";
  const char* const kSilence = RecordingConsole::kSilence;
  const std::vector<Text> kChange = {"1", "0", "2"};
  const std::vector<std::string> kTakenOver = {"start 30", "take over", "end"};
  const auto then = [&](std::vector<Text> more) {
    std::vector<Text> lines = kChange;
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
  };
  const struct {
    const char* label;
    std::vector<Text> lines;
    bool remote = true;
    bool keep = true;        // the snapshot can be read
    bool startable = true;   // the guard can be started
    Text notice = kGuarded;  // what follows the snapshot
    int questions = 1;
    Text last;  // the last write: the outcome's lines, or the message
    std::vector<std::string> guard = {"start 30", "end"};  // what it is told, less postponing
    Text servers = "192.0.2.53";                           // stored before the change
  } cases[] = {
      {"kept", then({"y", "end"}), true, true, true, kGuarded, 1, "已保留新设置。"},
      {"asked again, then kept", then({"ok", "Y", "end"}), true, true, true, kGuarded, 2,
       "已保留新设置。"},
      // The guard stays in charge until the program's own restore is done.
      {"restored at once", then({"R", "end"}), true, true, true, kGuarded, 1,
       "已恢复修改前的设置。", kTakenOver},
      {"no answer in time", then({kSilence, "end"}), true, true, true, kGuarded, 1,
       "已恢复修改前的设置。", kTakenOver},
      {"input ends at the question", kChange, true, true, true, kGuarded, 1, "已恢复修改前的设置。",
       kTakenOver},
      {"nothing changed",
       {"1", "1&2", "", "", "4", "192.0.2.53", "end"},
       true,
       true,
       true,
       kGuarded,
       0,
       ""},
      {"snapshot unreadable",
       then({"R"}),
       true,
       false,
       true,
       "远程会话：无法读取当前设置，修改后将不能自动恢复。\r\n",
       0,
       "",
       {}},
      // Without a guard the way back is the local one.
      {"guard not started",
       then({"R", "end"}),
       true,
       true,
       false,
       "远程会话：无法启动自动恢复，修改后将不能自动恢复。\r\n",
       0,
       "已恢复修改前的设置。",
       {"start 30"}},
      {"local", then({"R", "end"}), false, true, true, "", 0, "已恢复修改前的设置。", {}},
      // No guard is promised where no command could put the snapshot back.
      {"snapshot not restorable by commands", then({"R"}), true, true, true,
       "远程会话：该连接的设置无法由命令恢复，修改后将不能自动恢复。\r\n", 0, "",
       std::vector<std::string>(), "dns.example"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Session run(c.lines);
    if (c.keep) KeepSettings(run, "192.0.2.10", c.servers);
    run.guard.console = &run.console;
    run.session.facts.sshVariables = c.remote;
    run.session.facts.confirmSeconds = Text("30");
    run.guard.startable = c.startable;
    run.Go();
    const auto& w = run.console.writes;
    const Text screen = run.console.Screen();
    const auto prompt = std::find_if(w.begin(), w.end(), [](const Write& x) {
      return x.text == "请输入IP地址（如果需自动获取输入0）：";
    });
    ASSERT_NE(prompt, w.end());
    if (c.notice.empty()) {
      EXPECT_EQ((prompt - 1)->foreground, kCyan);
    } else {
      EXPECT_EQ((prompt - 1)->text, c.notice);
      EXPECT_EQ((prompt - 1)->foreground, kYellow);
    }
    EXPECT_EQ(run.console.Count(kQuestion), c.questions);
    std::vector<std::string> told;
    std::copy_if(run.guard.calls.begin(), run.guard.calls.end(), std::back_inserter(told),
                 [](const std::string& call) { return call != "postpone"; });
    EXPECT_EQ(told, c.guard);
    // Nothing runs once the guard has ended.
    const auto& e = run.console.events;
    EXPECT_TRUE(std::none_of(std::find(e.begin(), e.end(), "guard end"), e.end(),
                             [](const std::string& x) { return x.rfind("captured", 0) == 0; }));
    // Every line entered under the guard moves its deadline.
    const bool guarded = c.guard.size() >= 2;
    EXPECT_EQ(run.guard.calls.size() > told.size(), guarded);
    if (run.guard.started) {
      EXPECT_EQ(run.guard.started->connectionName, "以太网 2");
      EXPECT_EQ(run.guard.started->snapshot.addresses, std::vector<Text>{"192.0.2.10"});
    }
    const bool timedOut =
        std::find(c.lines.begin(), c.lines.end(), Text(kSilence)) != c.lines.end() ||
        c.lines == kChange;  // no answer, or no input
    EXPECT_EQ(run.console.Count(kTimedOut), timedOut ? 1 : 0) << screen;
    if (!c.last.empty()) {
      const bool lines = c.last == "已恢复修改前的设置。";
      const Write& message = lines ? w[w.size() - 2] : w.back();
      EXPECT_EQ(message.text, c.last) << screen;
      EXPECT_EQ(message.foreground, lines ? kYellow : kGreen);
    }
    if (c.questions > 0) {
      const auto waits =
          std::count(run.console.events.begin(), run.console.events.end(), "wait 30000");
      EXPECT_EQ(waits, c.questions);
    }
  }
}

// Each script once per language: where the console cannot draw Chinese every text of the
// program's own is English, with the same colours, places and line breaks write for write.
TEST(DialogueTest, EnglishFollowsTheChineseWriteForWrite) {
  const char* const kSilence = RecordingConsole::kSilence;
  const std::vector<std::vector<Text>> scripts = {
      {"9", "1", "192.0.2.50", "192.0.2.1", "255.255.255.0", "5", "1", "R", "end"},
      {"3", "1&2", "", "", "4", "1|2", "end"},  // refusals, no settings to read
      {"1", "192.0.2.60", " ", "255.255.255.0", "3", "r", "end"},
      {"1", "0", "2", "x", "y", "end"},  // remote: asked again, kept
      {"1", "0", "2", kSilence, "end"},  // remote: no answer
      {"1", "R1", "", "end"},            // earlier settings put back, the history unwritable
  };
  for (std::size_t i = 0; i < scripts.size(); ++i) {
    SCOPED_TRACE(i);
    std::vector<Session> runs;
    runs.reserve(2);
    for (const Language language : {Language::kChinese, Language::kEnglish}) {
      Session& run = runs.emplace_back(scripts[i]);
      KeepSettings(run);
      run.commands.liveLagMs = 400;  // the sign of waiting too
      run.session.facts.sshVariables = i >= 3;
      run.console.facts = {true, language == Language::kChinese ? 936u : 437u, u"Consolas", false};
      if (i == 1) run.commands.refuseFrom = 1;
      if (i == 5) {
        run.history.file =
            "2026-12-01 08:00\t{11111111-0000-0000-0000-4E6574446576}\t\tdhcp\t\t\t\r\n";
        run.history.writable = false;
      }
      run.Go();
    }
    const auto& chinese = runs[0].console.writes;
    const auto& english = runs[1].console.writes;
    ASSERT_EQ(chinese.size(), english.size()) << runs[1].console.Screen();
    for (std::size_t w = 0; w < english.size(); ++w) {
      SCOPED_TRACE(english[w].text);
      EXPECT_EQ(english[w].column, chinese[w].column);
      EXPECT_EQ(english[w].row, chinese[w].row);
      EXPECT_EQ(english[w].foreground, chinese[w].foreground);
      const auto breaks = [](const Text& t) {
        std::string shape;
        for (std::size_t at = t.find("\r\n"); at != Text::npos; at = t.find("\r\n", at + 2)) {
          shape += at == 0 ? 'B' : at + 2 == t.size() ? 'E' : 'M';
        }
        return shape;
      };
      EXPECT_EQ(breaks(english[w].text), breaks(chinese[w].text));
      for (const ConsoleText::Piece& piece : english[w].pieces.pieces()) {
        if (piece.codePage != kProgramCodePage) continue;  // names, netsh's words
        EXPECT_TRUE(std::all_of(piece.bytes.begin(), piece.bytes.end(), [](char c) {
          return static_cast<unsigned char>(c) < 0x80;
        })) << piece.bytes;
      }
    }
  }
  Session english({"1"});
  KeepSettings(english);
  english.console.facts.codePage = 437;
  english.Go();
  const auto& w = english.console.writes;
  EXPECT_EQ(w[2].text, "1. 以太网 2");
  EXPECT_EQ(w[3].text, " IP: 192.0.2.10\r\n");
  EXPECT_EQ(w[w.size() - 3].text, "You chose: 以太网 2 (IP: 192.0.2.10)\r\n");
  EXPECT_EQ(
      w[w.size() - 2].text,
      "Now: IP: 192.0.2.10, mask: 255.255.255.0, gateway: 192.0.2.1\r\nDNS now: 192.0.2.53\r\n");
  EXPECT_EQ(w.back().text, "IP address (0 to obtain it automatically):");
}

}  // namespace
}  // namespace ipmod

#include "dialogue/dialogue.h"

#include <optional>

#include "adapters/connection_settings.h"
#include "readback/read_back.h"
#include "dialogue/conversation.h"
#include "dialogue/way_back_steps.h"
#include "wayback/restore.h"
#include "runtime/runtime_error.h"

namespace ipmod {
namespace {

// Places of the checked accesses to the adapter list, for the runtime error report.
constexpr CheckSite kListedEntry{1, 1};
constexpr CheckSite kChosenEntry{1, 2};

// The texts of the dialogue's change steps, in the program's languages. Colours, positions and
// line breaks are the same in both.
struct Texts {
  const char* banner;
  const char* warning;
  const char* choicePrompt;
  const char* numberMark;  // after the number of a listed connection
  const char* listedIp;
  const char* outOfRange;
  const char* chosen;
  const char* chosenIp;
  const char* chosenEnd;
  const char* addressPrompt;
  const char* gatewayPrompt;
  const char* maskPrompt;
  const char* addressChanged;
  const char* addressFailed;
  const char* dnsMenu;
  const char* dnsChanged;
  const char* dnsAutomatic;
  const char* dnsFailed;
};

const Texts kTexts[] = {
    {"欢迎使用IP修改工具 Ver:1.1 BY：VELDR\r\n",
     "请勿用作违法用途，使用前请确保你有恢复网络的能力！\r\n",
     "请选择你需要修改的连接名称:1~",
     "、",
     " IP：",
     "输入错误,请重新输入！\r\n",
     "你选择的是：",
     "（IP:",
     "）\r\n",
     "请输入IP地址（如果需自动获取输入0）：",
     "请输入网关，一般的路由器是（192.168.1.1）：",
     "请输入子网掩码，一般的路由器是（255.255.255.0）：",
     "修改成功,请查看！",
     "修改失败：",
     "请选择DNS修改类型：\r\n1、自动获取DNS\r\n2、设置114.114.114.114\r\n3、腾讯119.29.29.29\r\n"
     "4、自定义输入\r\n",
     "修改DNS设置成功！",
     "自动获取DNS设置成功！",
     "修改DNS设置失败:"},
    {"IP settings tool Ver:1.1 BY: VELDR\r\n",
     "Do not use it unlawfully. Before you use it, make sure you can restore the network!\r\n",
     "Choose the connection to change: 1~",
     ". ",
     " IP: ",
     "Wrong input, please try again!\r\n",
     "You chose: ",
     " (IP: ",
     ")\r\n",
     "IP address (0 to obtain it automatically):",
     "Gateway (a typical router is 192.168.1.1):",
     "Subnet mask (a typical router uses 255.255.255.0):",
     "Changed. Please check!",
     "Change failed: ",
     "DNS setting:\r\n1. Obtain DNS automatically\r\n2. Use 114.114.114.114\r\n"
     "3. Tencent 119.29.29.29\r\n4. Type a server\r\n",
     "DNS changed!",
     "DNS set to automatic!",
     "DNS change failed: "},
};

const char kNoChoiceYet[] = "110";

constexpr int32_t kShowNormal = 2;

class DialogueRun {
 public:
  explicit DialogueRun(const DialogueServices& services)
      : conversation_(services),
        services_(services),
        language_(conversation_.language),
        t_(kTexts[static_cast<int>(language_)]),
        wayBack_(conversation_) {}

  void Run() {
    const int32_t count = ListAdapters(services_.adapters, services_.registry, adapters_);
    ShowAdapters(count);
    const std::optional<int32_t> chosen = AskForConnection(count);
    if (!chosen) return;
    const AdapterRecord& entry = ElementAt(adapters_, *chosen, kChosenEntry);
    ShowSnapshot(entry);
    wayBack_.Offer(entry);
    Say(kYellow, t_.addressPrompt);
    const std::optional<Text> ip = Ask();
    if (!ip) return;
    bool pause = true;
    if (!wayBack_.PutBackChosen(entry, *ip)) {
      pause = ChangeAddress(entry, *ip);
      wayBack_.RememberSnapshot(entry);  // as soon as it has changed, whatever becomes of the run
      pause = pause && ChangeDns(entry);
    }
    wayBack_.RememberSnapshot(entry);
    if (pause) wayBack_.FinalPause(entry);
  }

 private:
  void Say(int32_t foreground, const ConsoleText& text) { conversation_.Say(foreground, text); }
  std::optional<Text> Ask() { return conversation_.Ask(); }

  void ShowAdapters(int32_t count) {
    Console& console = services_.console;
    console.WriteText(50, 0, false, kYellow, kBlack, t_.banner);
    console.WriteText(std::nullopt, 1, false, kRed, kBlack, t_.warning);
    for (int32_t n = 1; n <= count; ++n) {
      const AdapterRecord& entry = ElementAt(adapters_, n, kListedEntry);
      console.WriteText(kPromptColumn, n + 1, false, kGreen, kBlack,
                        ConsoleText(ToText(n) + t_.numberMark).AddSystemText(entry.ConnectionName));
      Say(kCyan, t_.listedIp + entry.IpAddress + "\r\n");
    }
    console.WriteText(kPromptColumn, count + 2, false, kYellow, kBlack,
                      t_.choicePrompt + ToText(count) + "\r\n");
  }

  std::optional<int32_t> AskForConnection(int32_t count) {
    for (;;) {
      const std::optional<Text> line = Ask();
      if (!line) return std::nullopt;
      const int32_t chosen = ToInteger(*line);
      if (chosen >= 1 && chosen <= count) return chosen;
      Say(kRed, t_.outOfRange);
    }
  }

  // The choice confirmed, and the connection's settings before anything changes: the snapshot
  // that a restore puts back.
  void ShowSnapshot(const AdapterRecord& entry) {
    Say(kYellow, ConsoleText(t_.chosen)
                     .AddSystemText(entry.ConnectionName)
                     .Add(t_.chosenIp + entry.IpAddress + t_.chosenEnd));
    const ConnectionSettings settings = ReadSettings(entry);
    wayBack_.TakeSnapshot(settings);
    Text lines;
    for (const Text& line : SettingsLines(settings, language_)) lines += line + "\r\n";
    Say(kCyan, lines);
  }

  // DHCP for "0", else a static address, gateway and mask. False once input has ended.
  bool ChangeAddress(const AdapterRecord& entry, const Text& ip) {
    if (ip == "0") {
      // netsh shares the console and speaks for itself; what is read back is the verdict.
      services_.commands.RunProgram(
          "netsh int ip set address name=\"" + entry.ConnectionName + "\" source=dhcp", true,
          kShowNormal, nullptr);
      ShowReadBack(ReadBackAfter({Request::kDhcpAddress}, entry));
      return true;
    }
    Say(kYellow, t_.gatewayPrompt);
    const std::optional<Text> gateway = Ask();
    if (!gateway) return false;
    Say(kYellow, t_.maskPrompt);
    const std::optional<Text> mask = Ask();
    if (!mask) return false;
    std::optional<CapturedRun> run;
    bool made = SetStaticAddress(services_.commands, ip, *gateway, *mask, entry.ConnectionName,
                                 &failure_, &run, language_);
    const std::optional<ReadBack> readBack =
        ReadBackRun(run, {Request::kStaticAddress, ip, *mask, *gateway}, entry, made);
    if (made) {
      Say(kYellow, t_.addressChanged);
    } else {
      Say(kYellow, ConsoleText(t_.addressFailed).Add(failure_));
    }
    if (readBack) ShowReadBack(*readBack);
    return true;
  }

  // The menu until one of its four choices has been carried out. False once input has ended.
  bool ChangeDns(const AdapterRecord& entry) {
    Text choice = kNoChoiceYet;
    while (choice == kNoChoiceYet) {
      Say(kYellow, t_.dnsMenu);
      std::optional<Text> line = Ask();
      if (!line) return false;
      choice = std::move(*line);
      if (choice == "2") {
        SetDns("114.114.114.114", entry);
      } else if (choice == "1") {
        // netsh has said in the console what went wrong; a non-zero exit code, or one that
        // cannot be read, is no success where the settings cannot be read back.
        std::optional<uint32_t> exitCode;
        const bool started = services_.commands.RunProgram(
            "netsh int ip set dns name=\"" + entry.ConnectionName + "\" source=dhcp", true,
            kShowNormal, &exitCode);
        const ReadBack readBack = ReadBackAfter({Request::kAutomaticDns}, entry);
        if (readBack.readable) {
          Say(kYellow, readBack.inEffect
                           ? Text(t_.dnsAutomatic)
                           : Text(t_.dnsFailed) + RestoreTextsIn(language_).notInEffect);
        } else {
          Say(kYellow, started && exitCode == 0u ? t_.dnsAutomatic : t_.dnsFailed);
        }
        ShowReadBack(readBack);
      } else if (choice == "3") {
        SetDns("119.29.29.29", entry);
      } else if (choice == "4") {
        const std::optional<Text> server = Ask();
        if (!server) return false;
        SetDns(*server, entry);
      } else {
        choice = kNoChoiceYet;
      }
    }
    return true;
  }

  void SetDns(const Text& server, const AdapterRecord& entry) {
    std::optional<CapturedRun> run;
    bool made = SetStaticDns(services_.commands, server, entry.ConnectionName, &failure_, &notice_,
                             &run, language_);
    const std::optional<ReadBack> readBack =
        ReadBackRun(run, {Request::kStaticDns, {}, {}, {}, server}, entry, made);
    if (made) {
      // netsh's warning when the server it set did not answer, on the same line.
      Say(kYellow, t_.dnsChanged + notice_);
    } else {
      Say(kYellow, ConsoleText(t_.dnsFailed).Add(failure_));
    }
    if (readBack) ShowReadBack(*readBack);
  }

  ConnectionSettings ReadSettings(const AdapterRecord& entry) {
    return conversation_.ReadSettings(entry);
  }

  // The connection's settings after a change, read again while the live state lags: the sign,
  // a mark for each read, and the end of its line.
  ReadBack ReadBackAfter(const Request& request, const AdapterRecord& entry) {
    Conversation::Waiting signs(conversation_);
    const ReadBack readBack =
        ReadBackSettled(services_.adapters, services_.registry, services_.clock, request,
                        entry.AdapterName, signs, nullptr, language_);
    signs.End();
    return readBack;
  }

  // After a static command: nothing when it was refused (it ran nothing, so there is nothing to
  // read back), else the connection's settings, which `made` follows wherever they could be read.
  std::optional<ReadBack> ReadBackRun(const std::optional<CapturedRun>& run, const Request& request,
                                      const AdapterRecord& entry, bool& made) {
    if (!run) return std::nullopt;
    ReadBack readBack = ReadBackAfter(request, entry);
    if (readBack.readable) made = Follow(readBack, *run);
    return readBack;
  }

  // The verdict on a change whose settings could be read back is theirs. When they do not hold
  // it, the failure text is what netsh printed or, when it printed nothing, that the change has
  // not taken effect (an interpreter that could not be started keeps its own sentence).
  bool Follow(const ReadBack& readBack, const CapturedRun& run) {
    if (!readBack.inEffect && run.started) {
      ConsoleText printed = PrintedText(run);
      failure_ =
          printed.empty() ? ConsoleText(RestoreTextsIn(language_).notInEffect) : std::move(printed);
    }
    return readBack.inEffect;
  }

  // On a line of its own: green when the settings hold what was asked, red when not.
  void ShowReadBack(const ReadBack& readBack) {
    Say(readBack.inEffect ? kGreen : kRed, "\r\n" + readBack.line + "\r\n");
  }

  Conversation conversation_;
  const DialogueServices& services_;
  // The language the console can show, and the dialogue's texts in it.
  const Language language_;
  const Texts& t_;
  WayBackSteps wayBack_;
  AdapterList adapters_;
  // What the last refused change said; shared by the address step and the DNS menu.
  ConsoleText failure_;
  // What netsh warned of when it set a DNS server all the same; empty when it warned of nothing.
  Text notice_;
};

}  // namespace

int32_t Dialogue(const DialogueServices& services) {
  DialogueRun(services).Run();
  return 0;
}

}  // namespace ipmod

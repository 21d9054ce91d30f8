#include "dialogue/dialogue.h"

#include <optional>

#include "adapters/connection_settings.h"
#include "readback/read_back.h"
#include "wayback/restore.h"
#include "runtime/runtime_error.h"

namespace ipmod {
namespace {

// Places of the checked accesses to the adapter list, for the runtime error report.
constexpr CheckSite kListedEntry{1, 1};
constexpr CheckSite kChosenEntry{1, 2};

// Every write of the dialogue is on black; prompts and messages continue at the cursor
// (a column without a row is no position).
constexpr int32_t kPromptColumn = 2;

// The dialogue's own texts, in the program's languages. Colours, positions and line breaks are
// the same in both.
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
  const char* waiting;
  const char* restorePrompt;
  const char* guarded;  // "%u": the window in seconds
  const char* unguardedUnread;
  const char* unguardedNotStarted;
  const char* unguardedUnexpressible;
  const char* account;  // before the account file's path
  const char* keepOrRestore;
  const char* kept;
  const char* timedOut;
  const char* offeredOne;
  const char* offeredMany;  // "%u": how many
  const char* unsaved;
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
     "修改DNS设置失败:",
     "正在等待设置生效",
     "\r\n输入R恢复修改前的设置，直接回车结束：",
     "远程会话：修改后若%u秒内没有应答，将自动恢复修改前的设置。\r\n",
     "远程会话：无法读取当前设置，修改后将不能自动恢复。\r\n",
     "远程会话：无法启动自动恢复，修改后将不能自动恢复。\r\n",
     "远程会话：该连接的设置无法由命令恢复，修改后将不能自动恢复。\r\n",
     "恢复记录：",
     "\r\n输入Y保留新设置，输入R恢复修改前的设置（%u秒内无应答将自动恢复）：",
     "已保留新设置。",
     "\r\n已超时，正在恢复修改前的设置。\r\n",
     "输入R1可恢复以前的设置。\r\n",
     "输入R1~R%u可恢复以前的设置。\r\n",
     "无法保存修改前的设置："},
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
     "DNS change failed: ",
     "Waiting for the setting to take effect",
     "\r\nType R to restore the settings from before the change, or Enter to finish:",
     "Remote session: if there is no answer within %u s after a change, the settings from before "
     "it are restored.\r\n",
     "Remote session: the current settings cannot be read, so a change cannot be undone "
     "automatically.\r\n",
     "Remote session: the automatic restore cannot be started, so a change cannot be undone "
     "automatically.\r\n",
     "Remote session: no command can put back this connection's settings, so a change cannot be "
     "undone automatically.\r\n",
     "Restore record: ",
     "\r\nType Y to keep the new settings, R to restore the old ones (restored automatically "
     "after %u s without an answer):",
     "New settings kept.",
     "\r\nTime is up: restoring the settings from before the change.\r\n",
     "Type R1 to restore the earlier settings.\r\n",
     "Type R1~R%u to restore earlier settings.\r\n",
     "The settings from before the change cannot be saved: "},
};

const char kNoChoiceYet[] = "110";
const char kWaitingMark[] = ".";

constexpr int32_t kShowNormal = 2;

// The text with its "%u" replaced by the number.
Text WithNumber(const char* text, uint32_t number) {
  Text result = text;
  result.replace(result.find("%u"), 2, ToText(static_cast<int32_t>(number)));
  return result;
}

bool Is(const std::optional<Text>& line, char letter) {
  return line && line->size() == 1 && ((*line)[0] | 0x20) == letter;
}

class DialogueRun {
 public:
  explicit DialogueRun(const DialogueServices& services)
      : services_(services),
        language_(ChooseLanguage(services.console.ReadConsoleFacts())),
        t_(kTexts[static_cast<int>(language_)]) {}

  void Run() {
    const int32_t count = ListAdapters(services_.adapters, services_.registry, adapters_);
    ShowAdapters(count);
    const std::optional<int32_t> chosen = AskForConnection(count);
    if (!chosen) return;
    const AdapterRecord& entry = ElementAt(adapters_, *chosen, kChosenEntry);
    ShowSnapshot(entry);
    OfferEarlier(entry);
    GuardRemoteChange(entry);
    Say(kYellow, t_.addressPrompt);
    const std::optional<Text> ip = Ask();
    if (!ip) return;
    bool pause = true;
    if (const std::optional<std::size_t> n = EarlierChosen(*ip)) {
      PutBackEarlier(entry, offers_[*n]);
    } else {
      pause = ChangeAddress(entry, *ip);
      RememberSnapshot(entry);  // as soon as it has changed, whatever becomes of the run
      pause = pause && ChangeDns(entry);
    }
    RememberSnapshot(entry);
    if (!pause) return;
    if (unsaved_) Say(kYellow, ConsoleText(t_.unsaved).Add(*unsaved_));
    FinalPause(entry);
  }

 private:
  void Say(int32_t foreground, const ConsoleText& text) {
    services_.console.WriteText(kPromptColumn, std::nullopt, false, foreground, kBlack, text);
  }

  // The next line, or nothing once standard input has ended: from then on the dialogue asks
  // nothing more and runs no command. A line entered moves a guard's deadline.
  std::optional<Text> Ask() {
    std::optional<Text> line = services_.console.ReadLine();
    if (line && guarded_) services_.guard.Postpone();
    return line;
  }

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
    if (settings.stored && settings.live) {
      snapshot_ = settings.stored;
      snapshotInEffect_ = JudgeReadBack(RestoredAddress(*snapshot_), settings).inEffect;
    }
    Text lines;
    for (const Text& line : SettingsLines(settings, language_)) lines += line + "\r\n";
    Say(kCyan, lines);
  }

  // The connection's earlier settings that differ from the snapshot, newest first, numbered, and
  // how to restore them.
  void OfferEarlier(const AdapterRecord& entry) {
    if (!snapshot_ || !IsSafeConnectionName(entry.ConnectionName)) return;
    offers_ = HistoryOffers(services_.history.Load(), entry.AdapterName, *snapshot_);
    if (offers_.empty()) return;
    Text lines;
    for (std::size_t i = 0; i < offers_.size(); ++i) {
      const std::vector<Text> shown = StoredLines(offers_[i].settings, language_);
      lines += "R" + ToText(static_cast<int32_t>(i + 1)) + " " + offers_[i].time + " " + shown[0] +
               "\r\n   " + shown[1] + "\r\n";
    }
    Say(kCyan, lines);
    const auto count = static_cast<uint32_t>(offers_.size());
    Say(kYellow, count == 1 ? Text(t_.offeredOne) : WithNumber(t_.offeredMany, count));
  }

  // The offer "R<n>" (any case) names; nothing for any other line.
  std::optional<std::size_t> EarlierChosen(const Text& line) const {
    if (line.size() < 2 || line.size() > 3 || (line[0] | 0x20) != 'r' || line[1] == '0') {
      return std::nullopt;
    }
    std::size_t n = 0;
    for (const char c : line.substr(1)) {
      if (c < '0' || c > '9') return std::nullopt;
      n = n * 10 + static_cast<std::size_t>(c - '0');
    }
    if (n > offers_.size()) return std::nullopt;
    return n - 1;
  }

  // Puts the earlier settings back as a whole, as a restore of the snapshot would.
  void PutBackEarlier(const AdapterRecord& entry, const HistoryRecord& earlier) {
    const ConnectionSettings now = ReadSettings(entry);
    std::optional<std::vector<RestoreStep>> steps;
    if (now.stored) {
      steps = RestoreSteps(earlier.settings, ChangesSince(earlier.settings, *now.stored),
                           entry.ConnectionName);
    }
    bool waited = false;
    auto signs = [&](bool first) {
      waited = true;
      Say(kYellow, first ? t_.waiting : kWaitingMark);
    };
    const RestoreOutcome outcome =
        PutBack({services_.adapters, services_.registry, services_.commands, services_.clock},
                earlier.settings, true, entry.AdapterName,
                steps.value_or(std::vector<RestoreStep>()), signs, language_);
    if (waited) Say(kYellow, "\r\n");
    const RestoreTexts& verdicts = RestoreTextsIn(language_);
    Say(kYellow, outcome.restored ? ConsoleText(verdicts.restored)
                                  : ConsoleText(verdicts.failed).Add(outcome.failure));
    Text lines;
    for (const Text& line : outcome.lines) lines += "\r\n" + line;
    Say(outcome.restored ? kGreen : kRed, lines + "\r\n");
  }

  // After a change: the snapshot goes to the history, once, where the settings now differ from
  // it; why it could not be written is kept for the final pause.
  void RememberSnapshot(const AdapterRecord& entry) {
    if (remembered_ || !snapshot_) return;
    const ConnectionSettings now = ReadSettings(entry);
    if (!now.stored || !ChangesSince(*snapshot_, *now.stored).Any()) return;
    remembered_ = true;
    ConsoleText why;
    if (!Remember(entry, *snapshot_, &why)) unsaved_ = std::move(why);
  }

  // The settings go to the history; true where they cannot be recorded (a value that could not
  // be put back by command) or are.
  bool Remember(const AdapterRecord& entry, const StoredSettings& settings, ConsoleText* why) {
    std::optional<HistoryRecord> record =
        MakeHistoryRecord(entry.AdapterName, entry.ConnectionName, settings);
    return !record || services_.history.Add(std::move(*record), why);
  }

  // A restore is a change too: what it replaces goes to the history (a failure was told, if at
  // all, with the snapshot's).
  void RememberCurrent(const AdapterRecord& entry) {
    const ConnectionSettings now = ReadSettings(entry);
    ConsoleText ignored;
    if (now.stored) Remember(entry, *now.stored, &ignored);
  }

  // In a remote session a change is made on probation: a guard puts the snapshot back unless the
  // operator keeps the change in time, whatever becomes of the program.
  void GuardRemoteChange(const AdapterRecord& entry) {
    const SessionFacts facts = services_.session.ReadSessionFacts();
    if (!IsRemoteSession(facts)) return;
    seconds_ = ConfirmSeconds(facts.confirmSeconds);
    if (!snapshot_) {
      Say(kYellow, t_.unguardedUnread);
    } else if (!CanPutBack(*snapshot_, entry.ConnectionName)) {
      Say(kYellow, t_.unguardedUnexpressible);
    } else if (services_.guard.Start({*snapshot_, snapshotInEffect_, entry.ConnectionName,
                                      entry.AdapterName, seconds_, language_})) {
      guarded_ = true;
      ConsoleText notice = WithNumber(t_.guarded, seconds_);
      if (const std::optional<Text> account = services_.guard.AccountFile()) {
        notice.Add(Text(t_.account)).AddSystemText(*account).Add(Text("\r\n"));
      }
      Say(kYellow, notice);
    } else {
      Say(kYellow, t_.unguardedNotStarted);
    }
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
    return ReadConnectionSettings(services_.adapters, services_.registry, entry.AdapterName);
  }

  // The connection's settings after a change, read again while the live state lags: the sign,
  // a mark for each read, and the end of its line.
  ReadBack ReadBackAfter(const Request& request, const AdapterRecord& entry) {
    bool waited = false;
    auto signs = [&](bool first) {
      waited = true;
      Say(kYellow, first ? t_.waiting : kWaitingMark);
    };
    const ReadBack readBack =
        ReadBackSettled(services_.adapters, services_.registry, services_.clock, request,
                        entry.AdapterName, signs, nullptr, language_);
    if (waited) Say(kYellow, "\r\n");
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

  // The last line ends the run. Where the settings now differ from the snapshot and can be put
  // back, it is first asked whether to restore them; under a guard, whether to keep them.
  void FinalPause(const AdapterRecord& entry) {
    const std::optional<std::vector<RestoreStep>> steps = StepsBack(entry);
    if (guarded_ && !steps) {
      EndGuard();
    } else if (guarded_) {
      if (!KeepOrRestore(entry)) return;
    } else if (steps) {
      Say(kYellow, t_.restorePrompt);
      if (!Is(Ask(), 'r')) return;
      Restore(entry);
    }
    Ask();
  }

  // Asks until the operator keeps the change or has it restored, or the window passes without a
  // line (or input ends), which restores it too. False when the run ends without another line.
  bool KeepOrRestore(const AdapterRecord& entry) {
    for (;;) {
      Say(kYellow, WithNumber(t_.keepOrRestore, seconds_));
      services_.guard.Postpone();
      const bool answered = services_.console.WaitForInput(seconds_ * 1000);
      const std::optional<Text> line = answered ? Ask() : std::nullopt;
      if (Is(line, 'y') && EndGuard()) {
        Say(kGreen, t_.kept);
        return true;
      }
      if (!line || Is(line, 'y') || Is(line, 'r')) {
        // R, or time is up (the guard's may have passed too: it has then restored, and this
        // finds nothing left to put back). The guard stays in charge until the restore is done.
        if (!Is(line, 'r')) Say(kYellow, t_.timedOut);
        services_.guard.TakeOver();
        Restore(entry);
        EndGuard();
        return true;
      }
    }
  }

  // True when the guard ended without restoring anything.
  bool EndGuard() {
    guarded_ = false;
    return services_.guard.End();
  }

  // The commands that put the snapshot back; nothing when there is none, nothing differs, or it
  // cannot be put back (a name that may not go on a command line is refused as for any change).
  std::optional<std::vector<RestoreStep>> StepsBack(const AdapterRecord& entry) {
    if (!snapshot_) return std::nullopt;
    const ConnectionSettings now = ReadSettings(entry);
    if (!now.stored) return std::nullopt;
    const Changes changes = ChangesSince(*snapshot_, *now.stored);
    if (!changes.Any()) return std::nullopt;
    if (!IsSafeConnectionName(entry.ConnectionName)) {
      Say(kYellow, Text("\r\n") + UnsafeNameRefusal(language_));
      return std::nullopt;
    }
    return RestoreSteps(*snapshot_, changes, entry.ConnectionName);
  }

  // Puts back what differs from the snapshot now, and shows the verdict and the settings.
  void Restore(const AdapterRecord& entry) {
    const std::optional<std::vector<RestoreStep>> steps = StepsBack(entry);
    RememberCurrent(entry);
    bool waited = false;
    auto signs = [&](bool first) {
      waited = true;
      Say(kYellow, first ? t_.waiting : kWaitingMark);
    };
    const RestoreOutcome outcome =
        PutBack({services_.adapters, services_.registry, services_.commands, services_.clock},
                *snapshot_, snapshotInEffect_, entry.AdapterName,
                steps.value_or(std::vector<RestoreStep>()), signs, language_);
    if (waited) Say(kYellow, "\r\n");
    const RestoreTexts& verdicts = RestoreTextsIn(language_);
    Say(kYellow, outcome.restored ? ConsoleText(verdicts.restored)
                                  : ConsoleText(verdicts.failed).Add(outcome.failure));
    Text lines;
    for (const Text& line : outcome.lines) lines += "\r\n" + line;
    Say(outcome.restored ? kGreen : kRed, lines + "\r\n");
  }

  const DialogueServices& services_;
  // The language the console can show, and the dialogue's texts in it.
  const Language language_;
  const Texts& t_;
  AdapterList adapters_;
  // What the last refused change said; shared by the address step and the DNS menu.
  ConsoleText failure_;
  // What netsh warned of when it set a DNS server all the same; empty when it warned of nothing.
  Text notice_;
  // The connection's stored settings before any change; nothing when they could not be read.
  std::optional<StoredSettings> snapshot_;
  // Whether its address part was in effect then (not so where no DHCP server answered).
  bool snapshotInEffect_ = true;
  // Its earlier settings offered, "R1" first.
  std::vector<HistoryRecord> offers_;
  // Whether the snapshot went to the history, or why it could not.
  bool remembered_ = false;
  std::optional<ConsoleText> unsaved_;
  // Whether a guard is on, and its window.
  bool guarded_ = false;
  uint32_t seconds_ = kDefaultConfirmSeconds;
};

}  // namespace

int32_t Dialogue(const DialogueServices& services) {
  DialogueRun(services).Run();
  return 0;
}

}  // namespace ipmod

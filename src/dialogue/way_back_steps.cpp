#include "dialogue/way_back_steps.h"

#include "readback/read_back.h"

namespace ipmod {

// The way back's own texts, in the program's languages, with the same colours, positions and
// line breaks in both.
struct WayBackTexts {
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

namespace {

const WayBackTexts kTexts[] = {
    {"\r\n输入R恢复修改前的设置，直接回车结束：",
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
    {"\r\nType R to restore the settings from before the change, or Enter to finish:",
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

// The text with its "%u" replaced by the number.
Text WithNumber(const char* text, uint32_t number) {
  Text result = text;
  result.replace(result.find("%u"), 2, ToText(static_cast<int32_t>(number)));
  return result;
}

bool Is(const std::optional<Text>& line, char letter) {
  return line && line->size() == 1 && ((*line)[0] | 0x20) == letter;
}

}  // namespace

WayBackSteps::WayBackSteps(Conversation& conversation)
    : c_(conversation), t_(kTexts[static_cast<int>(conversation.language)]) {}

void WayBackSteps::TakeSnapshot(const ConnectionSettings& settings) {
  if (!settings.stored || !settings.live) return;
  snapshot_ = settings.stored;
  snapshotInEffect_ = JudgeReadBack(RestoredAddress(*snapshot_), settings).inEffect;
}

void WayBackSteps::Offer(const AdapterRecord& entry) {
  if (snapshot_ && IsSafeConnectionName(entry.ConnectionName)) {
    offers_ = HistoryOffers(c_.services.history.Load(), entry.AdapterName, *snapshot_);
  }
  if (!offers_.empty()) {
    Text lines;
    for (std::size_t i = 0; i < offers_.size(); ++i) {
      const std::vector<Text> shown = StoredLines(offers_[i].settings, c_.language);
      lines += "R" + ToText(static_cast<int32_t>(i + 1)) + " " + offers_[i].time + " " + shown[0] +
               "\r\n   " + shown[1] + "\r\n";
    }
    c_.Say(kCyan, lines);
    const auto count = static_cast<uint32_t>(offers_.size());
    c_.Say(kYellow, count == 1 ? Text(t_.offeredOne) : WithNumber(t_.offeredMany, count));
  }
  GuardRemoteChange(entry);
}

bool WayBackSteps::PutBackChosen(const AdapterRecord& entry, const Text& line) {
  if (line.size() < 2 || line.size() > 3 || (line[0] | 0x20) != 'r' || line[1] == '0') {
    return false;
  }
  std::size_t n = 0;
  for (const char c : line.substr(1)) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<std::size_t>(c - '0');
  }
  if (n > offers_.size()) return false;
  const StoredSettings& earlier = offers_[n - 1].settings;
  const ConnectionSettings now = c_.ReadSettings(entry);
  std::optional<std::vector<RestoreStep>> steps;
  if (now.stored) {
    steps = RestoreSteps(earlier, ChangesSince(earlier, *now.stored), entry.ConnectionName);
  }
  PutBackTo(entry, earlier, true, steps);
  return true;
}

void WayBackSteps::RememberSnapshot(const AdapterRecord& entry) {
  if (remembered_ || !snapshot_) return;
  const ConnectionSettings now = c_.ReadSettings(entry);
  if (!now.stored || !ChangesSince(*snapshot_, *now.stored).Any()) return;
  remembered_ = true;
  ConsoleText why;
  if (!Remember(entry, *snapshot_, &why)) unsaved_ = std::move(why);
}

// The settings go to the history; true where they cannot be recorded (a value that could not be
// put back by command) or are.
bool WayBackSteps::Remember(const AdapterRecord& entry, const StoredSettings& settings,
                            ConsoleText* why) {
  std::optional<HistoryRecord> record =
      MakeHistoryRecord(entry.AdapterName, entry.ConnectionName, settings);
  return !record || c_.services.history.Add(std::move(*record), why);
}

// In a remote session a change is made on probation: a guard puts the snapshot back unless the
// operator keeps the change in time, whatever becomes of the program.
void WayBackSteps::GuardRemoteChange(const AdapterRecord& entry) {
  const SessionFacts facts = c_.services.session.ReadSessionFacts();
  if (!IsRemoteSession(facts)) return;
  seconds_ = ConfirmSeconds(facts.confirmSeconds);
  if (!snapshot_) {
    c_.Say(kYellow, t_.unguardedUnread);
  } else if (!CanPutBack(*snapshot_, entry.ConnectionName)) {
    c_.Say(kYellow, t_.unguardedUnexpressible);
  } else if (c_.services.guard.Start({*snapshot_, snapshotInEffect_, entry.ConnectionName,
                                      entry.AdapterName, seconds_, c_.language})) {
    c_.guarded = true;
    ConsoleText notice = WithNumber(t_.guarded, seconds_);
    if (const std::optional<Text> account = c_.services.guard.AccountFile()) {
      notice.Add(Text(t_.account)).AddSystemText(*account).Add(Text("\r\n"));
    }
    c_.Say(kYellow, notice);
  } else {
    c_.Say(kYellow, t_.unguardedNotStarted);
  }
}

void WayBackSteps::FinalPause(const AdapterRecord& entry) {
  if (unsaved_) c_.Say(kYellow, ConsoleText(t_.unsaved).Add(*unsaved_));
  const std::optional<std::vector<RestoreStep>> steps = StepsBack(entry);
  if (c_.guarded && !steps) {
    EndGuard();
  } else if (c_.guarded) {
    if (!KeepOrRestore(entry)) return;
  } else if (steps) {
    c_.Say(kYellow, t_.restorePrompt);
    if (!Is(c_.Ask(), 'r')) return;
    Restore(entry);
  }
  c_.Ask();
}

// Asks until the operator keeps the change or has it restored, or the window passes without a
// line (or input ends), which restores it too. False when the run ends without another line.
bool WayBackSteps::KeepOrRestore(const AdapterRecord& entry) {
  for (;;) {
    c_.Say(kYellow, WithNumber(t_.keepOrRestore, seconds_));
    c_.services.guard.Postpone();
    const bool answered = c_.services.console.WaitForInput(seconds_ * 1000);
    const std::optional<Text> line = answered ? c_.Ask() : std::nullopt;
    if (Is(line, 'y') && EndGuard()) {
      c_.Say(kGreen, t_.kept);
      return true;
    }
    if (!line || Is(line, 'y') || Is(line, 'r')) {
      // R, or time is up (the guard's may have passed too: it has then restored, and this
      // finds nothing left to put back). The guard stays in charge until the restore is done.
      if (!Is(line, 'r')) c_.Say(kYellow, t_.timedOut);
      c_.services.guard.TakeOver();
      Restore(entry);
      EndGuard();
      return true;
    }
  }
}

// True when the guard ended without restoring anything.
bool WayBackSteps::EndGuard() {
  c_.guarded = false;
  return c_.services.guard.End();
}

// The commands that put the snapshot back; nothing when there is none, nothing differs, or it
// cannot be put back (a name that may not go on a command line is refused as for any change).
std::optional<std::vector<RestoreStep>> WayBackSteps::StepsBack(const AdapterRecord& entry) {
  if (!snapshot_) return std::nullopt;
  const ConnectionSettings now = c_.ReadSettings(entry);
  if (!now.stored) return std::nullopt;
  const Changes changes = ChangesSince(*snapshot_, *now.stored);
  if (!changes.Any()) return std::nullopt;
  if (!IsSafeConnectionName(entry.ConnectionName)) {
    c_.Say(kYellow, Text("\r\n") + UnsafeNameRefusal(c_.language));
    return std::nullopt;
  }
  return RestoreSteps(*snapshot_, changes, entry.ConnectionName);
}

// Puts back what differs from the snapshot now. A restore is a change too: what it replaces
// goes to the history (a failure to write it was told, if at all, with the snapshot's).
void WayBackSteps::Restore(const AdapterRecord& entry) {
  const std::optional<std::vector<RestoreStep>> steps = StepsBack(entry);
  const ConnectionSettings now = c_.ReadSettings(entry);
  ConsoleText ignored;
  if (now.stored) Remember(entry, *now.stored, &ignored);
  PutBackTo(entry, *snapshot_, snapshotInEffect_, steps);
}

// Runs the steps that put `settings` back (none where they cannot be had), then shows the
// verdict and the settings read back.
void WayBackSteps::PutBackTo(const AdapterRecord& entry, const StoredSettings& settings,
                             bool inEffect, const std::optional<std::vector<RestoreStep>>& steps) {
  Conversation::Waiting signs(c_);
  const DialogueServices& s = c_.services;
  const RestoreOutcome outcome =
      PutBack({s.adapters, s.registry, s.commands, s.clock}, settings, inEffect, entry.AdapterName,
              steps.value_or(std::vector<RestoreStep>()), signs, c_.language);
  signs.End();
  const RestoreTexts& verdicts = RestoreTextsIn(c_.language);
  c_.Say(kYellow, outcome.restored ? ConsoleText(verdicts.restored)
                                   : ConsoleText(verdicts.failed).Add(outcome.failure));
  Text lines;
  for (const Text& line : outcome.lines) lines += "\r\n" + line;
  c_.Say(outcome.restored ? kGreen : kRed, lines + "\r\n");
}

}  // namespace ipmod

// The way back's part of the dialogue, beside its change steps: the snapshot taken once the
// connection is chosen, the earlier settings offered from the history, the guard of a remote
// change, and the final pause with its restore or, under a guard, keep-or-restore. What each
// change replaced goes to the history. Internal to the dialogue.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "dialogue/conversation.h"
#include "wayback/history.h"
#include "wayback/restore.h"

namespace ipmod {

struct WayBackTexts;

class WayBackSteps {
 public:
  explicit WayBackSteps(Conversation& conversation);

  // The settings read once the connection is chosen, as they were shown: the snapshot, where
  // they could be read.
  void TakeSnapshot(const ConnectionSettings& settings);

  // After the snapshot's lines: the connection's earlier settings that differ from it, newest
  // first, numbered, and how to restore them; then, in a remote session, the guard's notice.
  void Offer(const AdapterRecord& entry);

  // Where the line is "R<n>" (any case) of an offer: puts those settings back as a whole, as a
  // restore of the snapshot would, and returns true.
  bool PutBackChosen(const AdapterRecord& entry, const Text& line);

  // After a change: the snapshot goes to the history, once, where the settings now differ from
  // it; why it could not be written is told at the final pause.
  void RememberSnapshot(const AdapterRecord& entry);

  // The last line ends the run. Where the settings now differ from the snapshot and can be put
  // back, it is first asked whether to restore them; under a guard, whether to keep them.
  void FinalPause(const AdapterRecord& entry);

 private:
  bool KeepOrRestore(const AdapterRecord& entry);
  bool EndGuard();
  std::optional<std::vector<RestoreStep>> StepsBack(const AdapterRecord& entry);
  void Restore(const AdapterRecord& entry);
  void PutBackTo(const AdapterRecord& entry, const StoredSettings& settings, bool inEffect,
                 const std::optional<std::vector<RestoreStep>>& steps);
  bool Remember(const AdapterRecord& entry, const StoredSettings& settings, ConsoleText* why);
  void GuardRemoteChange(const AdapterRecord& entry);

  Conversation& c_;
  const WayBackTexts& t_;
  // The connection's stored settings before any change; nothing when they could not be read.
  std::optional<StoredSettings> snapshot_;
  // Whether its address part was in effect then (not so where no DHCP server answered).
  bool snapshotInEffect_ = true;
  // Its earlier settings offered, "R1" first.
  std::vector<HistoryRecord> offers_;
  // Whether the snapshot went to the history, or why it could not.
  bool remembered_ = false;
  std::optional<ConsoleText> unsaved_;
  // The guard's window.
  uint32_t seconds_ = kDefaultConfirmSeconds;
};

}  // namespace ipmod

// The running system's session facts and guard process (Windows only).
#pragma once

#include <memory>
#include <optional>

#include "wayback/remote.h"

namespace ipmod {

class SystemSession final : public SessionSource {
 public:
  SessionFacts ReadSessionFacts() override;
};

// The guard as a detached process of its own: this program started again with the order on its
// command line. Ending it waits for it to be gone.
class ProcessGuard final : public RemoteGuard {
 public:
  ProcessGuard();
  ~ProcessGuard() override;
  ProcessGuard(const ProcessGuard&) = delete;
  ProcessGuard& operator=(const ProcessGuard&) = delete;

  bool Start(const GuardOrder& order) override;
  std::optional<Text> AccountFile() override;
  void Postpone() override;
  void TakeOver() override;
  bool End() override;

 private:
  struct Events;
  std::unique_ptr<Events> events_;
};

// The guard's whole run: waits for its deadline, moved on by the program, or for the word to
// end; once the deadline has passed, and the program is not putting the snapshot back itself,
// it puts back what differs from it and appends an account to ipmod-restore.log beside the
// program, or where that folder cannot be written, in %ProgramData%\ipmod.
void RunGuard(const GuardCall& call);

}  // namespace ipmod

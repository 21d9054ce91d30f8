// Remote sessions, and the guard that puts a connection's settings back when a change made from
// one is not confirmed in time, whatever becomes of the program.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "adapters/connection_settings.h"
#include "runtime/console.h"
#include "runtime/text.h"

namespace ipmod {

// What the system says of the session the program runs in.
struct SessionFacts {
  bool remoteMetric = false;                 // the system calls the session remote
  std::optional<uint32_t> sessionId;         // the program's session
  std::optional<uint32_t> consoleSessionId;  // the physical console's (GlassSessionId)
  bool sshVariables = false;                 // SSH_CONNECTION or SSH_CLIENT is set
  std::optional<Text> confirmSeconds;        // IPMOD_CONFIRM_SECONDS, when set
};

// A Remote Desktop session (the system says so, or the session is not the console's, where the
// console's is known) or an SSH connection.
bool IsRemoteSession(const SessionFacts& facts);

constexpr uint32_t kDefaultConfirmSeconds = 120;

// The confirmation window: the setting when it is a whole number from 10 to 3600, else 120.
uint32_t ConfirmSeconds(const std::optional<Text>& setting);

// Everything the guard needs to put the settings back by itself.
struct GuardOrder {
  StoredSettings snapshot;
  bool snapshotInEffect = true;  // its address part was in effect when it was taken
  Text connectionName;
  Text adapterName;
  uint32_t seconds = kDefaultConfirmSeconds;
  Language language = Language::kChinese;  // of its account
};

// The order as hexadecimal digits, fit for a command line whatever its texts hold, and back;
// nothing for a text that is no such encoding.
Text EncodeGuardOrder(const GuardOrder& order);
std::optional<GuardOrder> DecodeGuardOrder(std::string_view text);

// How the program is started as a guard: the base of its events' names and its order.
struct GuardCall {
  Text base;
  GuardOrder order;
};

// The guard's call on this command line (the program's name, quoted or not, then "--guard",
// the base and the order); nothing for the program's ordinary start.
std::optional<GuardCall> GuardCallOf(const Text& commandLine);

// The facts of the running session.
class SessionSource {
 public:
  virtual ~SessionSource() = default;
  virtual SessionFacts ReadSessionFacts() = 0;
};

// A guard that puts the snapshot back once its window passes without a word from the program.
class RemoteGuard {
 public:
  virtual ~RemoteGuard() = default;
  // Starts the guard, its deadline `order.seconds` from now; false when it cannot be started.
  virtual bool Start(const GuardOrder& order) = 0;
  // Where the guard writes its account; nothing when it has nowhere to write it.
  virtual std::optional<Text> AccountFile() = 0;
  // Moves the deadline to the window's length from now.
  virtual void Postpone() = 0;
  // The program is about to put the snapshot back itself: waits, without a limit, while the
  // guard is putting it back; from then on the guard puts nothing back unless the program ends
  // before it has ended the guard.
  virtual void TakeOver() = 0;
  // Ends the guard. True when it ended without putting anything back; false when its deadline
  // had passed (it has put back what it could, and ended). Waits without a limit for a guard
  // that has begun to put it back.
  virtual bool End() = 0;
};

}  // namespace ipmod

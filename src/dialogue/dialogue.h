// The whole dialogue with the operator, from the adapter list to the last line.
#pragma once

#include <cstdint>

#include "adapters/adapters.h"
#include "wayback/history.h"
#include "wayback/remote.h"
#include "netconfig/netconfig.h"
#include "runtime/console.h"
#include "runtime/registry.h"

namespace ipmod {

struct DialogueServices {
  Console& console;
  AdapterSource& adapters;
  RegistryReader& registry;
  CommandRunner& commands;
  Clock& clock;
  SessionSource& session;
  RemoteGuard& guard;
  HistoryStore& history;
};

// Lists the adapters, takes the operator's choice, offers the connection's earlier settings from
// the history, sets the address and the DNS server (or puts earlier settings back), records the
// settings from before a change in the history, waits for a last line and returns 0. After each change it reads the connection's settings back and
// shows them; its verdict follows them wherever they can be read. At the end of standard input
// it stops asking, runs nothing more and returns 0.
int32_t Dialogue(const DialogueServices& services);

}  // namespace ipmod

// The whole dialogue with the operator, from the adapter list to the last line.
#pragma once

#include <cstdint>

#include "adapters/adapters.h"
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
};

// Lists the adapters, takes the operator's choice, sets the address and the DNS server, waits
// for a last line and returns 0. After each change it reads the connection's settings back and
// shows them; its verdict follows them wherever they can be read. At the end of standard input
// it stops asking, runs nothing more and returns 0.
int32_t Dialogue(const DialogueServices& services);

}  // namespace ipmod

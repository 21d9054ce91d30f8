// The way back: what differs from the settings a connection had before a change, and the netsh
// commands that put them back.
#pragma once

#include <optional>
#include <vector>

#include "adapters/connection_settings.h"
#include "dialogue/read_back.h"
#include "runtime/text.h"

namespace ipmod {

// Which parts of a connection's stored settings differ from a snapshot.
struct Changes {
  bool address = false;  // DHCP on or off, the addresses with their masks, the gateways
  bool dns = false;      // the DNS servers in order, or DNS automatic or not
  bool Any() const { return address || dns; }
};

// Compares as IPv4 values (a value that is none compares as its text). While DHCP is on in both,
// the static addresses and gateways it keeps aside do not count.
Changes ChangesSince(const StoredSettings& snapshot, const StoredSettings& now);

struct RestoreStep {
  Text command;  // netsh's command line, for the interpreter
  bool dns;      // a DNS command: netsh's warning of a server that does not answer is no failure
};

// The commands that put back the changed parts of `snapshot`, the address part first, for the
// connection of that name (quoted, as given). Nothing when a value they would carry is no IPv4
// address (or a metric no number), so that a command line only ever holds addresses and numbers.
std::optional<std::vector<RestoreStep>> RestoreSteps(const StoredSettings& snapshot,
                                                     Changes changes, const Text& name);

// What the address part of `snapshot` asks of the connection, for the read-back after a restore
// (it refers to the snapshot's texts).
Request RestoredAddress(const StoredSettings& snapshot);

}  // namespace ipmod

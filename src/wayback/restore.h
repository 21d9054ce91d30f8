// The way back: what differs from the settings a connection had before a change, and the netsh
// commands that put them back.
#pragma once

#include <optional>
#include <vector>

#include "adapters/connection_settings.h"
#include "readback/read_back.h"
#include "wayback/remote.h"
#include "runtime/text.h"

namespace ipmod {

// A restore's words in a language: a change that did not take effect (where netsh said nothing
// of it), the two verdicts, what became of the DNS part after the address part failed, and
// settings that no command can put back.
struct RestoreTexts {
  const char* notInEffect;
  const char* restored;
  const char* failed;
  const char* dnsRestored;
  const char* dnsNotRestored;
  const char* unexpressible;
};
const RestoreTexts& RestoreTextsIn(Language language);

// Which parts of a connection's stored settings differ from a snapshot.
struct Changes {
  bool address = false;  // DHCP on or off, the addresses with their masks, the gateways and
                         // their metrics
  bool dns = false;      // the DNS servers in order, or DNS automatic or not
  bool Any() const { return address || dns; }
};

// Compares as IPv4 values (a value that is none compares as its text; a metric not stored counts
// as 1, as a restore puts it). While DHCP is on in both, the static addresses and gateways it
// keeps aside do not count.
Changes ChangesSince(const StoredSettings& snapshot, const StoredSettings& now);

struct RestoreStep {
  Text command;  // netsh's command line, for the interpreter
  bool dns;      // a DNS command: netsh's warning of a server that does not answer is no failure
};

// The commands that put back the changed parts of `snapshot`, the address part first, for the
// connection of that name (quoted, as given). Each gateway gets its stored metric, or 1. Nothing
// when a value they would carry is no IPv4 address (or a metric no number), so that a command
// line only ever holds addresses and numbers.
std::optional<std::vector<RestoreStep>> RestoreSteps(const StoredSettings& snapshot,
                                                     Changes changes, const Text& name);

// Whether commands can put back the whole of `snapshot` for the connection of that name: the
// name may go on a command line and RestoreSteps gives commands for every part.
bool CanPutBack(const StoredSettings& snapshot, const Text& name);

// What a restore needs of the system.
struct WayBack {
  AdapterSource& adapters;
  RegistryReader& registry;
  CommandRunner& commands;
  Clock& clock;
};

struct RestoreOutcome {
  bool restored = false;       // what is stored is the snapshot again, and its address in effect
  ConsoleText failure;         // when not: what netsh printed, or why nothing took effect
  std::vector<Text> lines;     // the settings read back afterwards, as the read-back shows them
  std::vector<Text> commands;  // the commands run
};

// Runs the steps through the interpreter, each part (address, DNS) until one of its steps fails
// (a DNS step that netsh warns of counts as run): the DNS part runs also when the address part
// failed, and the failure then says whether it was put back. Then reads the adapter back as
// ReadBackSettled does; where the snapshot's address part was not in effect when it was taken
// (no DHCP server answered, an address Windows did not use), the stored settings alone are
// judged, without waiting. Where the settings cannot be read, the restore is made when every
// step ran.
RestoreOutcome PutBack(const WayBack& system, const StoredSettings& snapshot, bool snapshotInEffect,
                       const Text& adapterName, const std::vector<RestoreStep>& steps,
                       WaitSigns waiting, Language language = Language::kChinese);

// What the guard does once its deadline has passed: puts back what differs from the order's
// snapshot and gives an account of it, in lines ending with CR LF, in the order's language;
// nothing when nothing differed.
std::optional<Text> GuardRestore(const WayBack& system, const GuardOrder& order);

// What the address part of `snapshot` asks of the connection, for the read-back after a restore
// (it refers to the snapshot's texts).
Request RestoredAddress(const StoredSettings& snapshot);

}  // namespace ipmod

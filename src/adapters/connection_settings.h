// A connection's IPv4 settings as they stand: what the system has stored for it and what it
// uses now.
#pragma once

#include <optional>
#include <vector>

#include "adapters/adapters.h"
#include "runtime/registry.h"
#include "runtime/text.h"

namespace ipmod {

// What the system keeps for the connection (the values netsh writes before it ends).
struct StoredSettings {
  bool dhcp = false;
  std::vector<Text> addresses;       // static addresses, first one first
  std::vector<Text> masks;           // one per address
  std::vector<Text> gateways;        // static gateways
  std::vector<Text> nameServers;     // static DNS servers, in order; none: automatic
  std::vector<Text> gatewayMetrics;  // one per gateway, where the system stored one
};

// What the adapter uses now, as the adapter query reports it.
struct LiveSettings {
  std::vector<Text> addresses;  // every address, first one first; "0.0.0.0" alone when none
  bool linkUp = true;           // false only when the link is known to be down (a cable out)
};

struct ConnectionSettings {
  std::optional<StoredSettings> stored;  // nothing when the system keeps no settings for it
  std::optional<LiveSettings> live;      // nothing when the adapter is gone
};

// The registry key of an adapter's IPv4 settings (below HKEY_LOCAL_MACHINE).
Text InterfaceSettingsKey(const Text& adapterName);

// Reads both halves for the adapter of that name (the live one only when there are stored
// settings); nothing is written anywhere. A stored value that is missing counts as empty
// (EnableDHCP as off). The link's state is read only where no address is in use (a link that uses
// one is up); one that cannot be read counts as up.
ConnectionSettings ReadConnectionSettings(AdapterSource& source, RegistryReader& registry,
                                          const Text& adapterName);

}  // namespace ipmod

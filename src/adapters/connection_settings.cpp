#include "adapters/connection_settings.h"

#include <utility>

namespace ipmod {

namespace {

const char kInterfacesKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\";

// The values read, in the order ReadConnectionSettings names them.
enum StoredValue {
  kEnableDhcp,
  kIpAddress,
  kSubnetMask,
  kDefaultGateway,
  kDefaultGatewayMetric,
  kNameServer,
  kStoredValues
};

// NameServer holds the servers separated by commas (blanks on older systems).
std::vector<Text> SplitServers(const std::vector<Text>& stored) {
  std::vector<Text> servers;
  for (const Text& text : stored) {
    std::size_t begin = 0;
    while (begin <= text.size()) {
      std::size_t end = text.find_first_of(", ", begin);
      if (end == Text::npos) end = text.size();
      if (end > begin) servers.push_back(text.substr(begin, end - begin));
      begin = end + 1;
    }
  }
  return servers;
}

StoredSettings ToStoredSettings(const std::vector<RegistryValue>& values) {
  StoredSettings stored;
  stored.dhcp = RegistryNumber(values[kEnableDhcp]).value_or(0) != 0;
  stored.addresses = RegistryStrings(values[kIpAddress]);
  stored.masks = RegistryStrings(values[kSubnetMask]);
  stored.gateways = RegistryStrings(values[kDefaultGateway]);
  stored.gatewayMetrics = RegistryStrings(values[kDefaultGatewayMetric]);
  stored.nameServers = SplitServers(RegistryStrings(values[kNameServer]));
  return stored;
}

}  // namespace

Text InterfaceSettingsKey(const Text& adapterName) { return kInterfacesKey + adapterName; }

ConnectionSettings ReadConnectionSettings(AdapterSource& source, RegistryReader& registry,
                                          const Text& adapterName) {
  ConnectionSettings settings;
  // Without a name the key would be the list of every adapter's.
  if (adapterName.empty()) return settings;
  const std::optional<std::vector<RegistryValue>> values =
      registry.ReadRegistryValues(kLocalMachine, InterfaceSettingsKey(adapterName),
                                  {"EnableDHCP", "IPAddress", "SubnetMask", "DefaultGateway",
                                   "DefaultGatewayMetric", "NameServer"});
  // Without what is stored the live half tells nothing; the adapters are not even asked.
  if (!values || values->size() != kStoredValues) return settings;
  settings.stored = ToStoredSettings(*values);
  if (const std::optional<std::vector<AdapterNode>> nodes = source.ReadAdapters()) {
    for (const AdapterNode& node : *nodes) {
      if (ToText(node.AdapterName) != adapterName) continue;
      LiveSettings live;
      live.addresses.push_back(ToText(node.IpAddress));
      for (const AddressBytes& address : node.LaterAddresses)
        live.addresses.push_back(ToText(address));
      // A link that is down uses no address (the first entry reads 0.0.0.0); one that uses an
      // address is up. So the link is asked only where none is in use: the query costs Wine
      // milliseconds.
      const Text& first = live.addresses.front();
      const bool inUse = !first.empty() && first != "0.0.0.0";
      live.linkUp = inUse || source.ReadLinkUp(node.Index).value_or(true);
      settings.live = std::move(live);
      break;
    }
  }
  return settings;
}

}  // namespace ipmod

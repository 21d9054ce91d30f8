// Turning the platform's adapter nodes into records, and the connection-name lookup.
#include <algorithm>
#include <utility>

#include "adapters/adapters.h"

namespace ipmod {

namespace {

// The device setup class of network adapters; each adapter's connection sits below it.
const char kConnectionKeyPrefix[] =
    "SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\";
const char kConnectionNameSuffix[] = "\\Connection\\Name";

constexpr uint32_t kMaxAddressLength = 8;

// The n-th entry of a DNS server list (counted from 0) as text; empty when there is none.
Text DnsServerText(const std::optional<std::vector<AddressBytes>>& servers, std::size_t n) {
  if (!servers || servers->size() <= n) return Text();
  return ToText((*servers)[n]);
}

}  // namespace

Text ConnectionNamePath(const Text& adapterName) {
  return kConnectionKeyPrefix + adapterName + kConnectionNameSuffix;
}

Text ReadConnectionName(RegistryReader& registry, const Text& adapterName) {
  return registry.ReadRegistryText(kLocalMachine, ConnectionNamePath(adapterName), std::nullopt);
}

Text FormatMacAddress(const std::array<unsigned char, 8>& address, uint32_t length) {
  static const char kDigits[] = "0123456789ABCDEF";
  const uint32_t count = std::min(length, kMaxAddressLength);
  Text mac;
  for (uint32_t i = 0; i < count; ++i) {
    if (i > 0) mac += '-';
    mac += kDigits[address[i] >> 4];
    mac += kDigits[address[i] & 0x0F];
  }
  return mac;
}

int32_t ListAdapters(AdapterSource& source, RegistryReader& registry, AdapterList& list) {
  std::optional<std::vector<AdapterNode>> nodes = source.ReadAdapters();
  if (nodes) {
    for (const AdapterNode& node : *nodes) {
      AdapterRecord record;
      record.AdapterName = ToText(node.AdapterName);
      record.Description = ToText(node.Description);
      record.MacAddress = FormatMacAddress(node.Address, node.AddressLength);
      record.IpAddress = ToText(node.IpAddress);
      record.SubnetMask = ToText(node.IpMask);
      record.Gateway = ToText(node.Gateway);
      record.ConnectionName = ReadConnectionName(registry, record.AdapterName);
      const std::optional<std::vector<AddressBytes>> dns = source.ReadDnsServers(node.Index);
      record.PrimaryDns = DnsServerText(dns, 0);
      record.SecondaryDns = DnsServerText(dns, 1);
      list.push_back(std::move(record));
    }
  }
  return static_cast<int32_t>(list.size());
}

}  // namespace ipmod

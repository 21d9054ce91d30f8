// The machine's network adapters as records of eight texts, with their connection names.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "runtime/registry.h"
#include "runtime/text.h"

namespace ipmod {

// One adapter; every field always holds a text, possibly empty.
struct AdapterRecord {
  Text AdapterName;  // the system's name for it, under which its settings are kept
  Text Description;
  Text ConnectionName;
  Text MacAddress;
  Text IpAddress;
  Text SubnetMask;
  Text Gateway;
  Text PrimaryDns;
  Text SecondaryDns;
};

using AdapterList = std::vector<AdapterRecord>;

// A dotted IPv4 address as the platform stores it: 16 bytes, NUL-terminated unless full.
using AddressBytes = std::array<unsigned char, 16>;

// What the platform reports for one adapter, with its fixed arrays kept as they are.
struct AdapterNode {
  std::array<unsigned char, 260> AdapterName{};
  std::array<unsigned char, 132> Description{};
  uint32_t AddressLength = 0;
  std::array<unsigned char, 8> Address{};
  uint32_t Index = 0;
  AddressBytes IpAddress{};  // first entry of the address list
  AddressBytes IpMask{};
  AddressBytes Gateway{};                    // first entry of the gateway list
  std::vector<AddressBytes> LaterAddresses;  // the address list's further entries, in order
};

// The platform's adapter query.
class AdapterSource {
 public:
  virtual ~AdapterSource() = default;
  // Every adapter in the platform's order; nullopt when the query is refused.
  virtual std::optional<std::vector<AdapterNode>> ReadAdapters() = 0;
  // The DNS servers of the adapter with this index, in order; nullopt when the query fails.
  virtual std::optional<std::vector<AddressBytes>> ReadDnsServers(uint32_t index) = 0;
  // Whether the link of the adapter with this index is up (a cable in, connected); nullopt
  // when the query fails.
  virtual std::optional<bool> ReadLinkUp(uint32_t index) = 0;
};

// The registry path of an adapter's connection name (key ...\<adapterName>\Connection,
// value Name).
Text ConnectionNamePath(const Text& adapterName);

// The connection's display name as netsh knows it, or the empty text.
Text ReadConnectionName(RegistryReader& registry, const Text& adapterName);

// "00-1A-2B-0C-4D-5E": the first `length` bytes (at most 8) as two upper-case hex digits each.
Text FormatMacAddress(const std::array<unsigned char, 8>& address, uint32_t length);

// Appends one record per adapter to `list`, in the platform's order, and returns the number of
// records the list then holds. A refused query adds nothing.
int32_t ListAdapters(AdapterSource& source, RegistryReader& registry, AdapterList& list);

// The IP Helper interface of the running system (Windows only).
std::unique_ptr<AdapterSource> MakeIpHelperSource();

}  // namespace ipmod

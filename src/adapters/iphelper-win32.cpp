// The adapter query of the running system through the IP Helper interface.
//
// iphlpapi.dll is bound by name at run time, from the system directory only, so the program
// does not depend on it at load time and never picks up a copy lying next to it.
#include <iphlpapi.h>
#include <windows.h>
#include <winsock2.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "adapters/adapters.h"
#include "runtime/system.h"

namespace ipmod {

namespace {

using GetAdaptersInfoRoutine = decltype(&::GetAdaptersInfo);
using GetPerAdapterInfoRoutine = decltype(&::GetPerAdapterInfo);
using GetIfEntryRoutine = decltype(&::GetIfEntry);

// Of each adapter node we read everything up to and including GatewayList; what follows
// (DHCP, WINS, lease times) differs in size between builds and is never touched.
constexpr std::size_t kAdapterNodeBytesRead = offsetof(IP_ADAPTER_INFO, DhcpServer);

template <std::size_t N, typename Byte>
void CopyArray(std::array<unsigned char, N>& to, const Byte (&from)[N]) {
  static_assert(sizeof(Byte) == 1, "a byte array");
  std::memcpy(to.data(), from, N);
}

// A zero-filled buffer of `length` bytes; empty when there is nothing to allocate.
ByteBlock ZeroBuffer(ULONG length) {
  return MakeZeroBytes(length > static_cast<ULONG>(INT32_MAX) ? 0 : static_cast<int32_t>(length));
}

// Whether `size` bytes at `at` lie wholly inside `buffer`. The links between the structures
// the platform returns must stay inside the buffer it filled; anything else ends a walk.
bool Holds(const ByteBlock& buffer, const void* at, std::size_t size) {
  if (at == nullptr || buffer.empty()) return false;
  const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(buffer.data());
  const std::uintptr_t position = reinterpret_cast<std::uintptr_t>(at);
  if (position < begin) return false;
  const std::uintptr_t offset = position - begin;
  return offset <= buffer.size() && size <= buffer.size() - offset;
}

AdapterNode ToAdapterNode(const ByteBlock& buffer, const IP_ADAPTER_INFO& info) {
  AdapterNode node;
  CopyArray(node.AdapterName, info.AdapterName);
  CopyArray(node.Description, info.Description);
  node.AddressLength = info.AddressLength;
  CopyArray(node.Address, info.Address);
  node.Index = info.Index;
  CopyArray(node.IpAddress, info.IpAddressList.IpAddress.String);
  CopyArray(node.IpMask, info.IpAddressList.IpMask.String);
  CopyArray(node.Gateway, info.GatewayList.IpAddress.String);
  // Entries do not overlap, so the list cannot be longer than this; a loop ends here too.
  std::size_t remaining = buffer.size() / sizeof(IP_ADDR_STRING);
  for (const IP_ADDR_STRING* entry = info.IpAddressList.Next;
       remaining > 0 && Holds(buffer, entry, sizeof(IP_ADDR_STRING)); --remaining) {
    AddressBytes address;
    CopyArray(address, entry->IpAddress.String);
    node.LaterAddresses.push_back(address);
    entry = entry->Next;
  }
  return node;
}

class IpHelperSource final : public AdapterSource {
 public:
  IpHelperSource()
      : getAdaptersInfo_(reinterpret_cast<GetAdaptersInfoRoutine>(
            BindSystemRoutine("iphlpapi.dll", "GetAdaptersInfo"))),
        getPerAdapterInfo_(reinterpret_cast<GetPerAdapterInfoRoutine>(
            BindSystemRoutine("iphlpapi.dll", "GetPerAdapterInfo"))),
        getIfEntry_(
            reinterpret_cast<GetIfEntryRoutine>(BindSystemRoutine("iphlpapi.dll", "GetIfEntry"))) {}

  std::optional<std::vector<AdapterNode>> ReadAdapters() override {
    // The first call only asks for the size; its status does not matter.
    ULONG length = 0;
    unsigned char dummy = 0;
    getAdaptersInfo_(reinterpret_cast<PIP_ADAPTER_INFO>(&dummy), &length);

    ByteBlock buffer = ZeroBuffer(length);
    length = static_cast<ULONG>(buffer.size());
    PIP_ADAPTER_INFO first =
        buffer.empty() ? nullptr : reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data());
    // No retry: an adapter set that grew in between counts as a refusal.
    if (getAdaptersInfo_(first, &length) != ERROR_SUCCESS) return std::nullopt;

    std::vector<AdapterNode> nodes;
    // Nodes do not overlap, so the chain cannot be longer than this; a loop ends here too.
    std::size_t remaining = buffer.size() / kAdapterNodeBytesRead;
    for (const IP_ADAPTER_INFO* info = first;
         remaining > 0 && Holds(buffer, info, kAdapterNodeBytesRead); --remaining) {
      nodes.push_back(ToAdapterNode(buffer, *info));
      info = info->Next;
    }
    return nodes;
  }

  std::optional<bool> ReadLinkUp(uint32_t index) override {
    MIB_IFROW row{};
    row.dwIndex = index;
    if (getIfEntry_(&row) != NO_ERROR) return std::nullopt;
    // Connected or operational; a cable out reads as disconnected or non-operational.
    return row.dwOperStatus == MIB_IF_OPER_STATUS_CONNECTED ||
           row.dwOperStatus == MIB_IF_OPER_STATUS_OPERATIONAL;
  }

  std::optional<std::vector<AddressBytes>> ReadDnsServers(uint32_t index) override {
    ULONG length = 0;
    getPerAdapterInfo_(index, nullptr, &length);

    ByteBlock buffer = ZeroBuffer(length);
    length = static_cast<ULONG>(buffer.size());
    PIP_PER_ADAPTER_INFO info =
        buffer.empty() ? nullptr : reinterpret_cast<PIP_PER_ADAPTER_INFO>(buffer.data());
    if (getPerAdapterInfo_(index, info, &length) != ERROR_SUCCESS) return std::nullopt;

    std::vector<AddressBytes> servers;
    if (!Holds(buffer, info, sizeof(IP_PER_ADAPTER_INFO))) return servers;
    std::size_t remaining = buffer.size() / sizeof(IP_ADDR_STRING);
    for (const IP_ADDR_STRING* entry = &info->DnsServerList;
         remaining > 0 && Holds(buffer, entry, sizeof(IP_ADDR_STRING)); --remaining) {
      AddressBytes server;
      CopyArray(server, entry->IpAddress.String);
      servers.push_back(server);
      entry = entry->Next;
    }
    return servers;
  }

 private:
  GetAdaptersInfoRoutine getAdaptersInfo_;
  GetPerAdapterInfoRoutine getPerAdapterInfo_;
  GetIfEntryRoutine getIfEntry_;
};

}  // namespace

std::unique_ptr<AdapterSource> MakeIpHelperSource() { return std::make_unique<IpHelperSource>(); }

}  // namespace ipmod

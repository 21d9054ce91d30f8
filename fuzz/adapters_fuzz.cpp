// Adapter records from arbitrary platform nodes and DNS lists: every field is text taken from
// the node's own bytes, and there is one record per node.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "adapters/adapters.h"
#include "fuzz_check.h"

using namespace ipmod;

namespace {

class FuzzedPlatform : public AdapterSource, public RegistryReader {
 public:
  std::optional<std::vector<AdapterNode>> ReadAdapters() override { return nodes; }
  std::optional<std::vector<AddressBytes>> ReadDnsServers(uint32_t index) override {
    asked.push_back(index);
    const auto found = dns.find(index);
    if (found == dns.end()) return std::nullopt;
    return found->second;
  }
  std::optional<bool> ReadLinkUp(uint32_t) override { return std::nullopt; }
  Text ReadRegistryText(int32_t, const Text& path, std::optional<Text>) override {
    paths.push_back(path);
    return NameFor(path);
  }
  std::optional<std::vector<RegistryValue>> ReadRegistryValues(
      int32_t, const Text&, std::initializer_list<const char*>) override {
    return std::nullopt;
  }
  // Some adapters have no name in the registry.
  static Text NameFor(const Text& path) {
    return path.size() % 3 == 0 ? Text() : "Name " + std::to_string(path.size());
  }

  std::optional<std::vector<AdapterNode>> nodes;
  std::map<uint32_t, std::vector<AddressBytes>> dns;
  std::vector<uint32_t> asked;
  std::vector<Text> paths;
};

template <std::size_t N>
void Take(FuzzedDataProvider& in, std::array<unsigned char, N>& field) {
  const std::vector<uint8_t> bytes =
      in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, N));
  std::copy(bytes.begin(), bytes.end(), field.begin());
}

// The field is the array's bytes up to its first zero, or all of them.
template <std::size_t N>
bool IsTextOf(const Text& field, const std::array<unsigned char, N>& bytes) {
  const auto end = std::find(bytes.begin(), bytes.end(), 0);
  return field.size() <= N && field.find('\0') == Text::npos && field == Text(bytes.begin(), end);
}

bool IsMac(const Text& mac, const AdapterNode& node) {
  const uint32_t n = std::min<uint32_t>(node.AddressLength, 8);
  if (mac.size() != (n == 0 ? 0 : 3 * n - 1)) return false;
  for (uint32_t i = 0; i < n; ++i) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", node.Address[i]);
    if (mac.compare(3 * i, 2, hex) != 0 || (i + 1 < n && mac[3 * i + 2] != '-')) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  FuzzedPlatform platform;
  AdapterList list(in.ConsumeIntegralInRange<size_t>(0, 2));
  const size_t before = list.size();
  if (in.ConsumeBool()) {
    platform.nodes.emplace();
    while (in.remaining_bytes() > 0 && platform.nodes->size() < 16) {
      AdapterNode node;
      Take(in, node.AdapterName);
      Take(in, node.Description);
      node.AddressLength = in.ConsumeIntegral<uint32_t>();
      Take(in, node.Address);
      node.Index = in.ConsumeIntegralInRange<uint32_t>(0, 7);
      Take(in, node.IpAddress);
      Take(in, node.IpMask);
      Take(in, node.Gateway);
      if (in.ConsumeBool() && !platform.dns.count(node.Index)) {
        std::vector<AddressBytes>& servers = platform.dns[node.Index];
        servers.resize(in.ConsumeIntegralInRange<size_t>(0, 3));
        for (AddressBytes& server : servers) Take(in, server);
      }
      platform.nodes->push_back(node);
    }
  }

  const int32_t count = ListAdapters(platform, platform, list);
  const std::vector<AdapterNode> nodes = platform.nodes.value_or(std::vector<AdapterNode>());
  FUZZ_CHECK(count == static_cast<int32_t>(list.size()));
  FUZZ_CHECK(list.size() == before + nodes.size());
  FUZZ_CHECK(platform.asked.size() == nodes.size() && platform.paths.size() == nodes.size());
  for (size_t i = 0; i < nodes.size(); ++i) {
    const AdapterNode& node = nodes[i];
    const AdapterRecord& record = list[before + i];
    FUZZ_CHECK(IsTextOf(record.Description, node.Description));
    FUZZ_CHECK(IsTextOf(record.IpAddress, node.IpAddress));
    FUZZ_CHECK(IsTextOf(record.SubnetMask, node.IpMask));
    FUZZ_CHECK(IsTextOf(record.Gateway, node.Gateway));
    FUZZ_CHECK(IsMac(record.MacAddress, node));
    FUZZ_CHECK(platform.asked[i] == node.Index);
    FUZZ_CHECK(platform.paths[i] == ConnectionNamePath(ToText(node.AdapterName)));
    const auto found = platform.dns.find(node.Index);
    const std::vector<AddressBytes> servers =
        found == platform.dns.end() ? std::vector<AddressBytes>() : found->second;
    const AddressBytes none{};
    FUZZ_CHECK(IsTextOf(record.PrimaryDns, servers.size() > 0 ? servers[0] : none));
    FUZZ_CHECK(IsTextOf(record.SecondaryDns, servers.size() > 1 ? servers[1] : none));
    FUZZ_CHECK(record.ConnectionName == FuzzedPlatform::NameFor(platform.paths[i]));
  }
  return 0;
}

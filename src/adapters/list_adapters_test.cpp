#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "adapters/adapters.h"
#include "adapters/connection_settings.h"

namespace ipmod {
namespace {

struct RegistryCall {
  int32_t root;
  Text path;
  std::optional<Text> defaultText;
};

// Answers from `values` (for HKEY_LOCAL_MACHINE paths only) and records every call.
class FakeRegistry final : public RegistryReader {
 public:
  Text ReadRegistryText(int32_t root, const Text& path, std::optional<Text> defaultText) override {
    calls.push_back({root, path, defaultText});
    auto found = values.find(path);
    if (root == kLocalMachine && found != values.end()) return found->second;
    return defaultText.value_or(Text());
  }
  std::optional<std::vector<RegistryValue>> ReadRegistryValues(
      int32_t root, const Text& keyPath, std::initializer_list<const char*> names) override {
    keyReads.push_back({root, keyPath, std::nullopt});
    const auto key = keys.find(keyPath);
    if (key == keys.end()) return std::nullopt;
    std::vector<RegistryValue> values;
    for (const char* name : names) {
      values.push_back(key->second.count(name) ? key->second.at(name) : RegistryValue());
    }
    return values;
  }

  std::map<Text, std::map<Text, RegistryValue>> keys;
  std::vector<RegistryCall> keyReads;

  std::map<Text, Text> values;
  std::vector<RegistryCall> calls;
};

// Hands out the nodes given; a node index without an entry in `dns` has its DNS query refused.
class FakeSource final : public AdapterSource {
 public:
  std::optional<std::vector<AdapterNode>> ReadAdapters() override {
    ++adapterQueries;
    return nodes;
  }
  std::optional<std::vector<AddressBytes>> ReadDnsServers(uint32_t index) override {
    dnsQueries.push_back(index);
    auto found = dns.find(index);
    if (found == dns.end()) return std::nullopt;
    return found->second;
  }
  std::optional<bool> ReadLinkUp(uint32_t index) override {
    const auto found = linkUp.find(index);
    if (found == linkUp.end()) return std::nullopt;
    return found->second;
  }

  std::optional<std::vector<AdapterNode>> nodes = std::vector<AdapterNode>();
  std::map<uint32_t, std::vector<AddressBytes>> dns;
  std::map<uint32_t, bool> linkUp;  // an index without an entry: the query fails
  int adapterQueries = 0;
  std::vector<uint32_t> dnsQueries;
};

// `text` at the start of an array of N bytes, the rest zero; never more than N bytes.
template <std::size_t N>
std::array<unsigned char, N> Bytes(const Text& text) {
  std::array<unsigned char, N> bytes{};
  std::copy_n(text.begin(), std::min(text.size(), N), bytes.begin());
  return bytes;
}

// An array of N bytes without any NUL.
template <std::size_t N>
std::array<unsigned char, N> Full(char fill) {
  std::array<unsigned char, N> bytes;
  bytes.fill(static_cast<unsigned char>(fill));
  return bytes;
}

Text Path(const Text& adapterName) {
  return "SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\" +
         adapterName + "\\Connection\\Name";
}

AdapterNode MakeNode(uint32_t index, const Text& name, const Text& description) {
  AdapterNode node;
  node.AdapterName = Bytes<260>(name);
  node.Description = Bytes<132>(description);
  node.Index = index;
  return node;
}

// The eight fields in the record's order.
std::vector<Text> Fields(const AdapterRecord& record) {
  return {record.Description, record.ConnectionName, record.MacAddress, record.IpAddress,
          record.SubnetMask,  record.Gateway,        record.PrimaryDns, record.SecondaryDns};
}

AdapterRecord RecordOf(std::vector<Text> fields) {
  fields.resize(8);
  return {Text(),    fields[0], fields[1], fields[2], fields[3],
          fields[4], fields[5], fields[6], fields[7]};
}

TEST(ListAdapters, FillsEveryFieldFromItsSource) {
  FakeSource source;
  AdapterNode node = MakeNode(7, "{1D2C3B4A-0000-0000-0000-4E6574446576}", "Intel(R) 网卡");
  node.AddressLength = 6;
  node.Address = {0x00, 0x1A, 0x2B, 0x0C, 0x4D, 0x5E, 0x77, 0x88};
  node.IpAddress = Bytes<16>("192.0.2.10");
  node.IpMask = Bytes<16>("255.255.255.0");
  node.Gateway = Bytes<16>("192.0.2.1");
  source.nodes = std::vector<AdapterNode>{node};
  source.dns[7] = {Bytes<16>("198.51.100.53"), Bytes<16>("203.0.113.53")};
  FakeRegistry registry;
  registry.values[Path("{1D2C3B4A-0000-0000-0000-4E6574446576}")] = "以太网 2";

  AdapterList list;
  ASSERT_EQ(ListAdapters(source, registry, list), 1);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(Fields(list[0]),
            (std::vector<Text>{"Intel(R) 网卡", "以太网 2", "00-1A-2B-0C-4D-5E", "192.0.2.10",
                               "255.255.255.0", "192.0.2.1", "198.51.100.53", "203.0.113.53"}));
  EXPECT_EQ(list[0].AdapterName, "{1D2C3B4A-0000-0000-0000-4E6574446576}");
  EXPECT_EQ(source.dnsQueries, std::vector<uint32_t>{7});
}

// Fixed arrays end at their first NUL, or at their full size when they hold none.
TEST(ListAdapters, TakesFixedArraysUpToNulOrWholeArray) {
  struct Case {
    const char* what;
    std::function<void(AdapterNode&)> edit;
    std::function<Text(const AdapterRecord&)> field;
    Text expected;
  };
  const Case cases[] = {
      {"description without NUL", [](AdapterNode& n) { n.Description = Full<132>('D'); },
       [](const AdapterRecord& r) { return r.Description; }, Text(132, 'D')},
      {"description with NUL inside", [](AdapterNode& n) { n.Description = Bytes<132>("ab"); },
       [](const AdapterRecord& r) { return r.Description; }, "ab"},
      {"empty description", [](AdapterNode& n) { n.Description = Bytes<132>(""); },
       [](const AdapterRecord& r) { return r.Description; }, ""},
      {"address without NUL", [](AdapterNode& n) { n.IpAddress = Full<16>('1'); },
       [](const AdapterRecord& r) { return r.IpAddress; }, Text(16, '1')},
      {"mask without NUL", [](AdapterNode& n) { n.IpMask = Full<16>('2'); },
       [](const AdapterRecord& r) { return r.SubnetMask; }, Text(16, '2')},
      {"gateway without NUL", [](AdapterNode& n) { n.Gateway = Full<16>('3'); },
       [](const AdapterRecord& r) { return r.Gateway; }, Text(16, '3')},
      {"address with bytes behind its NUL",
       [](AdapterNode& n) {
         n.IpAddress = Full<16>('9');
         n.IpAddress[7] = 0;
       },
       [](const AdapterRecord& r) { return r.IpAddress; }, Text(7, '9')},
      {"empty gateway", [](AdapterNode& n) { n.Gateway = Bytes<16>(""); },
       [](const AdapterRecord& r) { return r.Gateway; }, ""},
  };
  for (const Case& c : cases) {
    FakeSource source;
    AdapterNode node = MakeNode(1, "{A}", "x");
    node.AddressLength = 6;  // non-zero bytes right behind Description
    node.IpAddress = Bytes<16>("192.0.2.10");
    node.IpMask = Bytes<16>("255.255.255.0");
    node.Gateway = Bytes<16>("192.0.2.1");
    c.edit(node);
    source.nodes = std::vector<AdapterNode>{node};
    FakeRegistry registry;
    AdapterList list;
    ASSERT_EQ(ListAdapters(source, registry, list), 1) << c.what;
    EXPECT_EQ(c.field(list[0]), c.expected) << c.what;
  }
}

TEST(FormatMacAddress, GivesUpperCaseHexGroupsOfTheFirstLengthBytes) {
  struct Case {
    std::array<unsigned char, 8> address;
    uint32_t length;
    Text expected;
  };
  const std::array<unsigned char, 8> eight = {0xFF, 0xEE, 0x0D, 0x0C, 0xB0, 0xA0, 0x09, 0x80};
  const Case cases[] = {
      {{0x00, 0x1A, 0x2B, 0x0C, 0x4D, 0x5E}, 6, "00-1A-2B-0C-4D-5E"},
      {{0x00, 0x1A, 0x2B, 0x0C, 0x4D, 0x5E}, 0, ""},
      {{0x05}, 1, "05"},
      {{0x00}, 1, "00"},
      {{0xAB, 0xCD, 0xEF, 0x01}, 3, "AB-CD-EF"},
      {{0xA0, 0x0A}, 2, "A0-0A"},
      {eight, 8, "FF-EE-0D-0C-B0-A0-09-80"},
      {eight, 9, "FF-EE-0D-0C-B0-A0-09-80"},
      {eight, 20, "FF-EE-0D-0C-B0-A0-09-80"},
      {eight, 0xFFFFFFFFu, "FF-EE-0D-0C-B0-A0-09-80"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatMacAddress(c.address, c.length), c.expected) << "length " << c.length;

    FakeSource source;
    AdapterNode node = MakeNode(1, "{A}", "x");
    node.Address = c.address;
    node.AddressLength = c.length;
    source.nodes = std::vector<AdapterNode>{node};
    FakeRegistry registry;
    AdapterList list;
    ASSERT_EQ(ListAdapters(source, registry, list), 1);
    EXPECT_EQ(list[0].MacAddress, c.expected) << "record, length " << c.length;
  }
}

TEST(ListAdapters, TakesTheFirstTwoDnsServersOfTheAdapter) {
  struct Case {
    const char* what;
    std::optional<std::vector<AddressBytes>> servers;  // nullopt: query refused
    Text primary;
    Text secondary;
  };
  const Case cases[] = {
      {"one server", std::vector<AddressBytes>{Bytes<16>("192.0.2.53")}, "192.0.2.53", ""},
      {"two servers",
       std::vector<AddressBytes>{Bytes<16>("192.0.2.53"), Bytes<16>("198.51.100.53")}, "192.0.2.53",
       "198.51.100.53"},
      {"three servers",
       std::vector<AddressBytes>{Bytes<16>("192.0.2.53"), Bytes<16>("198.51.100.53"),
                                 Bytes<16>("203.0.113.53")},
       "192.0.2.53", "198.51.100.53"},
      {"empty entries", std::vector<AddressBytes>{Bytes<16>(""), Bytes<16>("")}, "", ""},
      {"no servers", std::vector<AddressBytes>{}, "", ""},
      {"entries without NUL", std::vector<AddressBytes>{Full<16>('4'), Full<16>('5')},
       Text(16, '4'), Text(16, '5')},
      {"query refused", std::nullopt, "", ""},
  };
  for (const Case& c : cases) {
    FakeSource source;
    AdapterNode node = MakeNode(12, "{A}", "adapter");
    node.IpAddress = Bytes<16>("192.0.2.10");
    source.nodes = std::vector<AdapterNode>{node};
    if (c.servers) source.dns[12] = *c.servers;
    FakeRegistry registry;
    AdapterList list;
    ASSERT_EQ(ListAdapters(source, registry, list), 1) << c.what;
    EXPECT_EQ(list[0].PrimaryDns, c.primary) << c.what;
    EXPECT_EQ(list[0].SecondaryDns, c.secondary) << c.what;
    EXPECT_EQ(list[0].Description, "adapter") << c.what;
    EXPECT_EQ(list[0].IpAddress, "192.0.2.10") << c.what;
    EXPECT_EQ(source.dnsQueries, std::vector<uint32_t>{12}) << c.what;
  }
}

TEST(ListAdapters, AppendsInChainOrderAfterRecordsAlreadyListed) {
  struct Case {
    const char* what;
    std::vector<AdapterRecord> before;
    std::optional<std::vector<AdapterNode>> nodes;  // nullopt: adapter query refused
    std::vector<Text> addedDescriptions;
  };
  const std::vector<AdapterRecord> two = {RecordOf({"old 1", "conn 1", "", "192.0.2.1"}),
                                          RecordOf({"old 2", "conn 2"})};
  const std::vector<AdapterNode> three = {MakeNode(3, "{C}", "third-in-index"),
                                          MakeNode(1, "{A}", "first-in-index"),
                                          MakeNode(2, "{B}", "second-in-index")};
  const Case cases[] = {
      {"empty list, three adapters",
       {},
       three,
       {"third-in-index", "first-in-index", "second-in-index"}},
      {"two records, three adapters",
       two,
       three,
       {"third-in-index", "first-in-index", "second-in-index"}},
      {"empty list, no adapters", {}, std::vector<AdapterNode>{}, {}},
      {"two records, no adapters", two, std::vector<AdapterNode>{}, {}},
      {"empty list, query refused", {}, std::nullopt, {}},
      {"two records, query refused", two, std::nullopt, {}},
  };
  for (const Case& c : cases) {
    FakeSource source;
    source.nodes = c.nodes;
    FakeRegistry registry;
    AdapterList list = c.before;

    const int32_t count = ListAdapters(source, registry, list);

    const std::size_t expected = c.before.size() + c.addedDescriptions.size();
    EXPECT_EQ(count, static_cast<int32_t>(expected)) << c.what;
    ASSERT_EQ(list.size(), expected) << c.what;
    for (std::size_t i = 0; i < c.before.size(); ++i) {
      EXPECT_EQ(Fields(list[i]), Fields(c.before[i])) << c.what << ", record " << i;
    }
    for (std::size_t i = 0; i < c.addedDescriptions.size(); ++i) {
      EXPECT_EQ(list[c.before.size() + i].Description, c.addedDescriptions[i])
          << c.what << ", new record " << i;
    }
    EXPECT_EQ(source.adapterQueries, 1) << c.what;
    EXPECT_EQ(registry.calls.size(), c.addedDescriptions.size()) << c.what;
    EXPECT_EQ(source.dnsQueries.size(), c.addedDescriptions.size()) << c.what;
  }
}

TEST(ListAdapters, AsksEachAdapterForItsOwnDnsServers) {
  FakeSource source;
  source.nodes = std::vector<AdapterNode>{MakeNode(9, "{A}", "a"), MakeNode(4, "{B}", "b")};
  source.dns[9] = {Bytes<16>("192.0.2.9")};
  source.dns[4] = {Bytes<16>("192.0.2.4"), Bytes<16>("192.0.2.44")};
  FakeRegistry registry;
  AdapterList list;
  ASSERT_EQ(ListAdapters(source, registry, list), 2);
  EXPECT_EQ(source.dnsQueries, (std::vector<uint32_t>{9, 4}));
  EXPECT_EQ(list[0].PrimaryDns, "192.0.2.9");
  EXPECT_EQ(list[0].SecondaryDns, "");
  EXPECT_EQ(list[1].PrimaryDns, "192.0.2.4");
  EXPECT_EQ(list[1].SecondaryDns, "192.0.2.44");
}

// The registry is asked once per adapter, under HKEY_LOCAL_MACHINE, with the adapter name
// exactly as the platform gave it and no default text.
TEST(ListAdapters, LooksUpEachConnectionNameInTheRegistry) {
  struct Case {
    const char* what;
    std::array<unsigned char, 260> adapterName;
    Text nameInPath;
    std::optional<Text> stored;  // nullopt: no such key or value
    Text expected;
  };
  const Text longName(260, 'N');
  const Case cases[] = {
      {"GUID in braces", Bytes<260>("{1D2C3B4A-0000-0000-0000-4E6574446576}"),
       "{1D2C3B4A-0000-0000-0000-4E6574446576}", Text("本地连接"), "本地连接"},
      {"lower case, braces and blanks kept", Bytes<260>(" {abcdef01-aa} "), " {abcdef01-aa} ",
       Text("Local Area Connection 2"), "Local Area Connection 2"},
      {"double-byte adapter name", Bytes<260>("{网卡二}"), "{网卡二}", Text("以太网 2"),
       "以太网 2"},
      {"name without NUL", Full<260>('N'), longName, Text("long"), "long"},
      {"no Connection key", Bytes<260>("{NOT-THERE}"), "{NOT-THERE}", std::nullopt, ""},
      {"empty name", Bytes<260>(""), "", std::nullopt, ""},
  };
  for (const Case& c : cases) {
    FakeSource source;
    AdapterNode node = MakeNode(1, "", "x");
    node.AdapterName = c.adapterName;
    source.nodes = std::vector<AdapterNode>{node};
    FakeRegistry registry;
    if (c.stored) registry.values[Path(c.nameInPath)] = *c.stored;
    AdapterList list;

    ASSERT_EQ(ListAdapters(source, registry, list), 1) << c.what;
    EXPECT_EQ(list[0].ConnectionName, c.expected) << c.what;
    ASSERT_EQ(registry.calls.size(), 1u) << c.what;
    EXPECT_EQ(registry.calls[0].root, 4) << c.what;
    EXPECT_EQ(registry.calls[0].path, Path(c.nameInPath)) << c.what;
    EXPECT_FALSE(registry.calls[0].defaultText.has_value()) << c.what;
  }
}

TEST(ConnectionNamePath, JoinsPrefixNameAndSuffix) {
  struct Case {
    Text adapterName;
    Text expected;
  };
  const Case cases[] = {
      {"{A1}",
       "SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\{A1}"
       "\\Connection\\Name"},
      {"网卡", Path("网卡")},
      {"", Path("")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ConnectionNamePath(c.adapterName), c.expected) << c.adapterName;
  }
  // An 80-byte prefix and a 16-byte suffix.
  EXPECT_EQ(ConnectionNamePath("").size(), 96u);
  EXPECT_EQ(ConnectionNamePath("{A1}").substr(0, 80), ConnectionNamePath("").substr(0, 80));
}

TEST(ReadConnectionName, MakesOneLocalMachineReadWithoutDefault) {
  struct Case {
    Text adapterName;
    std::optional<Text> stored;
    Text expected;
  };
  const Case cases[] = {
      {"{A1}", Text("以太网"), "以太网"},
      {"{A1}", Text("Wi-Fi 2"), "Wi-Fi 2"},
      {"{A1}", std::nullopt, ""},
      {"{B2}", Text(""), ""},
  };
  for (const Case& c : cases) {
    FakeRegistry registry;
    if (c.stored) registry.values[Path(c.adapterName)] = *c.stored;
    EXPECT_EQ(ReadConnectionName(registry, c.adapterName), c.expected) << c.adapterName;
    ASSERT_EQ(registry.calls.size(), 1u);
    EXPECT_EQ(registry.calls[0].root, kLocalMachine);
    EXPECT_EQ(registry.calls[0].path, Path(c.adapterName));
    EXPECT_FALSE(registry.calls[0].defaultText.has_value());
  }
}

RegistryValue Value(uint32_t type, const std::string& data) { return {type, data}; }

const Text kInterfaces = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\";

TEST(ReadConnectionSettings, ReadsTheStoredValuesAsTheSystemStoresThem) {
  const std::string z(1, '\0');
  const RegistryValue off = Value(kRegDword, std::string(4, '\0'));
  const RegistryValue on = Value(kRegDword, std::string("\x01\0\0\0", 4));
  const struct {
    const char* label;
    std::map<Text, RegistryValue> values;
    StoredSettings expected;
  } cases[] = {
      {"static",
       {{"EnableDHCP", off},
        {"IPAddress", Value(kRegMultiSz, "192.0.2.50" + z + "192.0.2.51" + z + z)},
        {"SubnetMask", Value(kRegMultiSz, "255.255.255.0" + z + "255.255.0.0" + z + z)},
        {"DefaultGateway", Value(kRegMultiSz, "192.0.2.1" + z + z)},
        {"DefaultGatewayMetric", Value(kRegMultiSz, "25" + z + z)},
        {"NameServer", Value(kRegSz, "114.114.114.114,192.0.2.53" + z)}},
       {false,
        {"192.0.2.50", "192.0.2.51"},
        {"255.255.255.0", "255.255.0.0"},
        {"192.0.2.1"},
        {"114.114.114.114", "192.0.2.53"},
        {"25"}}},
      {"DHCP",
       {{"EnableDHCP", on},
        {"IPAddress", Value(kRegMultiSz, "0.0.0.0" + z + z)},
        {"DefaultGateway", Value(kRegMultiSz, z)},
        {"NameServer", Value(kRegSz, z)},
        {"DhcpIPAddress", Value(kRegSz, "192.0.2.200" + z)}},
       {true, {"0.0.0.0"}, {}, {}, {}}},
      // Older systems separate DNS servers by blanks; a stored value need not end with zeros.
      {"loose forms",
       {{"EnableDHCP", Value(kRegDword, std::string(2, '\x01'))},
        {"IPAddress", Value(kRegMultiSz, "192.0.2.50")},
        {"NameServer", Value(kRegSz, " 192.0.2.53  198.51.100.53")}},
       {false, {"192.0.2.50"}, {}, {}, {"192.0.2.53", "198.51.100.53"}}},
      {"nothing", {}, {false, {}, {}, {}, {}}},
  };
  FakeSource source;
  source.nodes = std::vector<AdapterNode>{MakeNode(1, "{A1}", "")};
  for (const auto& c : cases) {
    FakeRegistry registry;
    registry.keys[kInterfaces + "{A1}"] = c.values;
    const std::optional<StoredSettings> read =
        ReadConnectionSettings(source, registry, "{A1}").stored;
    ASSERT_TRUE(read) << c.label;
    const StoredSettings& got = *read;
    EXPECT_EQ(got.dhcp, c.expected.dhcp) << c.label;
    EXPECT_EQ(got.addresses, c.expected.addresses) << c.label;
    EXPECT_EQ(got.masks, c.expected.masks) << c.label;
    EXPECT_EQ(got.gateways, c.expected.gateways) << c.label;
    EXPECT_EQ(got.nameServers, c.expected.nameServers) << c.label;
    EXPECT_EQ(got.gatewayMetrics, c.expected.gatewayMetrics) << c.label;
  }
}

TEST(ReadConnectionSettings, ReadsTheAdaptersKeyAndItsLiveState) {
  const Text name = "{1D2C3B4A-0000-0000-0000-4E6574446576}";
  FakeSource source;
  AdapterNode other = MakeNode(1, "{OTHER}", "");
  other.IpAddress = Bytes<16>("198.51.100.7");
  AdapterNode node = MakeNode(2, name, "");
  node.IpAddress = Bytes<16>("192.0.2.10");
  node.IpMask = Bytes<16>("255.255.255.0");
  node.Gateway = Bytes<16>("192.0.2.1");
  node.LaterAddresses = {Bytes<16>("192.0.2.50"), Bytes<16>("198.51.100.9")};
  source.nodes = std::vector<AdapterNode>{other, node};
  source.linkUp[2] = false;
  FakeRegistry registry;
  registry.keys[kInterfaces + name] = {
      {"EnableDHCP", Value(kRegDword, std::string("\x01\0\0\0", 4))}};

  const ConnectionSettings read = ReadConnectionSettings(source, registry, name);
  ASSERT_TRUE(read.stored && read.live);
  EXPECT_TRUE(read.stored->dhcp);
  EXPECT_EQ(read.live->addresses, (std::vector<Text>{"192.0.2.10", "192.0.2.50", "198.51.100.9"}));
  EXPECT_TRUE(read.live->linkUp);  // it uses an address: up, whatever a query would say
  ASSERT_EQ(registry.keyReads.size(), 1u);
  EXPECT_EQ(registry.keyReads[0].root, kLocalMachine);
  // Without an address in use the link is asked; one that cannot be read counts as up.
  source.nodes->back().IpAddress = Bytes<16>("0.0.0.0");
  source.nodes->back().LaterAddresses.clear();
  EXPECT_FALSE(ReadConnectionSettings(source, registry, name).live->linkUp);
  source.linkUp.clear();
  EXPECT_TRUE(ReadConnectionSettings(source, registry, name).live->linkUp);

  // No key for it, or the adapter gone: that half is missing. Without a name nothing is read.
  const int queries = source.adapterQueries;
  const ConnectionSettings unkept = ReadConnectionSettings(source, registry, "{OTHER}");
  EXPECT_FALSE(unkept.stored || unkept.live);
  EXPECT_EQ(source.adapterQueries, queries);  // not asked: the live half alone tells nothing
  source.nodes = std::vector<AdapterNode>{other};
  EXPECT_FALSE(ReadConnectionSettings(source, registry, name).live);
  source.nodes = std::nullopt;
  EXPECT_FALSE(ReadConnectionSettings(source, registry, name).live);
  const ConnectionSettings unnamed = ReadConnectionSettings(source, registry, "");
  EXPECT_FALSE(unnamed.stored || unnamed.live);
  EXPECT_EQ(registry.keyReads.size(), 6u);
}

}  // namespace
}  // namespace ipmod

#include "readback/read_back.h"

#include <gtest/gtest.h>

namespace ipmod {
namespace {

StoredSettings Static(std::vector<Text> addresses, std::vector<Text> masks,
                      std::vector<Text> gateways, std::vector<Text> dns = {}) {
  return {false, std::move(addresses), std::move(masks), std::move(gateways), std::move(dns)};
}

StoredSettings Dhcp(std::vector<Text> dns = {}) {
  return {true, {"0.0.0.0"}, {"0.0.0.0"}, {}, std::move(dns)};
}

TEST(JudgeReadBackTest, HoldsWhatWasAskedAgainstWhatIsStoredAndLive) {
  const Request dhcp{Request::kDhcpAddress, "", "", "", ""};
  const Request address{Request::kStaticAddress, "192.0.2.50", "255.255.255.0", "192.0.2.1", ""};
  const Request automaticDns{Request::kAutomaticDns, "", "", "", ""};
  const Request dns{Request::kStaticDns, "", "", "", "114.114.114.114"};
  const LiveSettings live50{{"192.0.2.50"}};
  const LiveSettings live10{{"192.0.2.10"}};
  const LiveSettings none{{"0.0.0.0"}};
  const LiveSettings unplugged{{"0.0.0.0"}, false};
  const char kUnplugged[] = "（网络未连接，连接后生效）";
  const StoredSettings asked = Static({"192.0.2.50"}, {"255.255.255.0"}, {"192.0.2.1"});
  const char kStaticLine[] = "当前设置：IP：192.0.2.50，子网掩码：255.255.255.0，网关：192.0.2.1";
  const struct {
    const char* label;
    Request request;
    std::optional<StoredSettings> stored;
    std::optional<LiveSettings> live;
    bool inEffect;
    bool settling;
    Text line;
  } cases[] = {
      {"static, stored and live", address, asked, live50, true, false, kStaticLine},
      // Compared as addresses, not as typed: blanks and leading zeros do not matter.
      {"typed differently",
       {Request::kStaticAddress, " 192.000.2.050", "255.255.255.000", "192.0.2.001 ", ""},
       asked,
       live50,
       true,
       false,
       kStaticLine},
      // netsh's static command leaves the typed values first; the others were there before.
      {"second of several", address,
       Static({"192.0.2.10", "192.0.2.50"}, {"255.255.255.0", "255.255.255.0"}, {"192.0.2.1"}),
       live10, false, false, "当前设置：IP：192.0.2.10，子网掩码：255.255.255.0，网关：192.0.2.1"},
      {"first of several, live second", address,
       Static({"192.0.2.50", "192.0.2.10"}, {"255.255.255.0", "255.255.255.0"}, {"192.0.2.1"}),
       LiveSettings{{"192.0.2.10", "192.0.2.50"}}, true, false, kStaticLine},
      {"stored, not yet live", address, asked, live10, false, true,
       Text(kStaticLine) + "（未生效，正在使用：192.0.2.10）"},
      {"stored, no live address", address, asked, none, false, true,
       Text(kStaticLine) + "（未生效，正在使用：无）"},
      {"another mask", address, Static({"192.0.2.50"}, {"255.255.0.0"}, {"192.0.2.1"}), live50,
       false, false, "当前设置：IP：192.0.2.50，子网掩码：255.255.0.0，网关：192.0.2.1"},
      {"no gateway", address, Static({"192.0.2.50"}, {"255.255.255.0"}, {}), live50, false, false,
       "当前设置：IP：192.0.2.50，子网掩码：255.255.255.0，网关：无"},
      {"none asked, none stored",
       {Request::kStaticAddress, "192.0.2.50", "255.255.255.0", " ", ""},
       Static({"192.0.2.50"}, {"255.255.255.0"}, {}),
       live50,
       true,
       false,
       "当前设置：IP：192.0.2.50，子网掩码：255.255.255.0，网关：无"},
      {"none asked, one stored",
       {Request::kStaticAddress, "192.0.2.50", "255.255.255.0", "", ""},
       asked,
       live50,
       false,
       false,
       kStaticLine},
      // A cable out: nothing is live until it is in; what is stored is judged alone.
      {"static, link down", address, asked, unplugged, true, false, kStaticLine + Text(kUnplugged)},
      {"static, link down, not stored", address,
       Static({"192.0.2.10"}, {"255.255.255.0"}, {"192.0.2.1"}), unplugged, false, false,
       "当前设置：IP：192.0.2.10，子网掩码：255.255.255.0，网关：192.0.2.1" + Text(kUnplugged)},
      {"DHCP, link down", dhcp, Dhcp(), unplugged, true, false,
       "当前设置：自动获取IP地址" + Text(kUnplugged)},
      {"nothing stored", address, Static({}, {}, {}), none, false, false,
       "当前设置：IP：无，子网掩码：无，网关：无"},
      {"typed value no address",
       {Request::kStaticAddress, "abc", "255.255.255.0", "192.0.2.1", ""},
       asked,
       live50,
       false,
       false,
       kStaticLine},
      {"static asked, DHCP on", address, Dhcp(), LiveSettings{{"192.0.2.200"}}, false, false,
       "当前设置：自动获取IP地址，IP：192.0.2.200"},
      {"DHCP with a lease", dhcp, Dhcp(), LiveSettings{{"192.0.2.200"}}, true, false,
       "当前设置：自动获取IP地址，IP：192.0.2.200"},
      // No DHCP server answers: an automatic private address, or none at all.
      {"DHCP, automatic private address", dhcp, Dhcp(), LiveSettings{{"169.254.7.9"}}, false, true,
       "当前设置：自动获取IP地址，IP：169.254.7.9（未获得DHCP地址）"},
      {"DHCP, no lease yet", dhcp, Dhcp(), none, false, true,
       "当前设置：自动获取IP地址，IP：无（未获得DHCP地址）"},
      {"DHCP asked, static stored", dhcp, asked, live50, false, false, kStaticLine},
      {"automatic DNS", automaticDns, asked, live50, true, false, "当前DNS：自动获取"},
      {"automatic DNS asked, static stored", automaticDns,
       Static({"192.0.2.50"}, {"255.255.255.0"}, {"192.0.2.1"}, {"192.0.2.53", "198.51.100.53"}),
       live50, false, false, "当前DNS：192.0.2.53，198.51.100.53"},
      {"static DNS first", dns,
       Static({"192.0.2.50"}, {"255.255.255.0"}, {"192.0.2.1"}, {"114.114.114.114", "192.0.2.53"}),
       live50, true, false, "当前DNS：114.114.114.114，192.0.2.53"},
      {"static DNS second", dns,
       Static({"192.0.2.50"}, {"255.255.255.0"}, {"192.0.2.1"}, {"192.0.2.53", "114.114.114.114"}),
       live50, false, false, "当前DNS：192.0.2.53，114.114.114.114"},
      // DNS is judged by what is stored, whatever the live address.
      {"static DNS on DHCP", dns, Dhcp({"114.114.114.114"}), none, true, false,
       "当前DNS：114.114.114.114"},
      {"no stored settings", address, std::nullopt, live50, false, false,
       "无法读取该连接的当前设置。"},
      {"adapter gone", dns, asked, std::nullopt, false, false, "无法读取该连接的当前设置。"},
  };
  for (const auto& c : cases) {
    const ReadBack got = JudgeReadBack(c.request, {c.stored, c.live});
    EXPECT_EQ(got.readable, c.stored && c.live) << c.label;
    EXPECT_EQ(got.inEffect, c.inEffect) << c.label;
    EXPECT_EQ(got.settling, c.settling) << c.label;
    EXPECT_EQ(got.line, c.line) << c.label;
  }
}

}  // namespace
}  // namespace ipmod

#include "wayback/restore.h"

#include <gtest/gtest.h>

namespace ipmod {
namespace {

StoredSettings Static(std::vector<Text> addresses, std::vector<Text> masks,
                      std::vector<Text> gateways, std::vector<Text> dns = {},
                      std::vector<Text> metrics = {}) {
  return {false,          std::move(addresses), std::move(masks), std::move(gateways),
          std::move(dns), std::move(metrics)};
}

const StoredSettings kDhcp{true, {"0.0.0.0"}, {"0.0.0.0"}, {}, {}, {}};

TEST(ChangesSinceTest, EachPartDiffersOnItsOwn) {
  const StoredSettings before =
      Static({"192.0.2.10", "192.0.2.11"}, {"255.255.255.0", "255.255.255.0"}, {"192.0.2.1"},
             {"192.0.2.53", "198.51.100.53"});
  const auto with = [&](auto change) {
    StoredSettings now = before;
    change(now);
    return now;
  };
  const struct {
    const char* label;
    StoredSettings before, now;
    bool address, dns;
  } cases[] = {
      {"the same", before, before, false, false},
      {"written differently", before,
       Static({"192.0.2.010", "192.0.2.11"}, {"255.255.255.0", "255.255.255.0"}, {" 192.0.2.1"},
              {"192.0.2.53", "198.51.100.53"}),
       false, false},
      {"DHCP on", before, with([](StoredSettings& s) { s.dhcp = true; }), true, false},
      {"an address less", before, with([](StoredSettings& s) { s.addresses.pop_back(); }), true,
       false},
      {"another mask", before, with([](StoredSettings& s) { s.masks[1] = "255.255.0.0"; }), true,
       false},
      {"no gateway", before, with([](StoredSettings& s) { s.gateways.clear(); }), true, false},
      {"another metric", before, with([](StoredSettings& s) { s.gatewayMetrics = {"25"}; }), true,
       false},
      {"servers in another order", before,
       with([](StoredSettings& s) { std::swap(s.nameServers[0], s.nameServers[1]); }), false, true},
      {"DNS automatic", before, with([](StoredSettings& s) { s.nameServers.clear(); }), false,
       true},
      // DHCP on in both: what it keeps aside of an earlier static address does not count.
      {"both DHCP", kDhcp, with([](StoredSettings& s) { s.dhcp = true; }), false, true},
  };
  for (const auto& c : cases) {
    const Changes got = ChangesSince(c.before, c.now);
    EXPECT_EQ(got.address, c.address) << c.label;
    EXPECT_EQ(got.dns, c.dns) << c.label;
    EXPECT_EQ(got.Any(), c.address || c.dns) << c.label;
  }
}

TEST(RestoreStepsTest, PutsBackWhatDifferedAddressFirst) {
  const Changes both{true, true};
  const Text name = "以太网 2";
  const struct {
    const char* label;
    StoredSettings snapshot;
    Changes changes;
    std::vector<Text> commands;  // DNS commands from the first "set dns" on
  } cases[] = {
      {"static, two addresses, two gateways",
       Static({"192.0.2.10", "198.51.100.10"}, {"255.255.255.0", "255.255.0.0"},
              {"192.0.2.1", "198.51.100.1"}, {}, {"1", "25"}),
       {true, false},
       {"netsh interface ip set address name=\"以太网 2\" static 192.0.2.10 255.255.255.0 "
        "192.0.2.1 1",
        "netsh interface ip add address name=\"以太网 2\" 198.51.100.10 255.255.0.0",
        "netsh interface ip add address name=\"以太网 2\" gateway=198.51.100.1 gwmetric=25"}},
      {"the first gateway's metric too",
       Static({"192.0.2.10"}, {"255.255.255.0"}, {"192.0.2.1", "192.0.2.2"}, {}, {"25", "30"}),
       {true, false},
       {"netsh interface ip set address name=\"以太网 2\" static 192.0.2.10 255.255.255.0 "
        "192.0.2.1 25",
        "netsh interface ip add address name=\"以太网 2\" gateway=192.0.2.2 gwmetric=30"}},
      {"no gateway, no metric stored for a second one",
       Static({"192.0.2.10"}, {"255.255.255.0"}, {}),
       {true, false},
       {"netsh interface ip set address name=\"以太网 2\" static 192.0.2.10 255.255.255.0 none"}},
      {"gateway metric missing",
       Static({"192.0.2.10"}, {"255.255.255.0"}, {"192.0.2.1", "192.0.2.2"}),
       {true, false},
       {"netsh interface ip set address name=\"以太网 2\" static 192.0.2.10 255.255.255.0 "
        "192.0.2.1 1",
        "netsh interface ip add address name=\"以太网 2\" gateway=192.0.2.2 gwmetric=1"}},
      {"DHCP and DNS automatic",
       kDhcp,
       both,
       {"netsh interface ip set address name=\"以太网 2\" source=dhcp",
        "netsh interface ip set dns name=\"以太网 2\" source=dhcp"}},
      {"three DNS servers only",
       Static({"192.0.2.10"}, {"255.255.255.0"}, {}, {"192.0.2.53", "198.51.100.53", "8.8.8.8"}),
       {false, true},
       {"netsh interface ip set dns name=\"以太网 2\" static 192.0.2.53",
        "netsh interface ip add dns name=\"以太网 2\" 198.51.100.53 index=2",
        "netsh interface ip add dns name=\"以太网 2\" 8.8.8.8 index=3"}},
      {"nothing differs", kDhcp, {}, {}},
  };
  for (const auto& c : cases) {
    const std::optional<std::vector<RestoreStep>> steps = RestoreSteps(c.snapshot, c.changes, name);
    ASSERT_TRUE(steps) << c.label;
    std::vector<Text> commands;
    bool dns = false;
    for (const RestoreStep& step : *steps) {
      commands.push_back(step.command);
      EXPECT_EQ(step.dns, dns = dns || step.command.find(" dns ") != Text::npos) << step.command;
    }
    EXPECT_EQ(commands, c.commands) << c.label;
  }
}

TEST(RestoreStepsTest, OnlyAddressesAndNumbersGoOnACommandLine) {
  const Changes both{true, true};
  const StoredSettings unrestorable[] = {
      Static({"192.0.2.10 & calc"}, {"255.255.255.0"}, {}),
      Static({"192.0.2.10"}, {"255.255.255.0"}, {"192.0.2.1\"", "192.0.2.2"}),
      Static({"192.0.2.10"}, {"255.255.255.0"}, {"192.0.2.1", "192.0.2.2"}, {}, {"1", "%X%"}),
      Static({"192.0.2.10"}, {"255.255.255.0"}, {"192.0.2.1"}, {}, {"1 x"}),
      Static({"192.0.2.10"}, {}, {}),  // an address without its mask
      Static({}, {}, {}),              // nothing to put back
      Static({"192.0.2.10"}, {"255.255.255.0"}, {}, {"dns.example"}),
  };
  for (const StoredSettings& snapshot : unrestorable) {
    EXPECT_FALSE(RestoreSteps(snapshot, both, "n")) << testing::PrintToString(snapshot.addresses);
    EXPECT_FALSE(CanPutBack(snapshot, "n")) << testing::PrintToString(snapshot.addresses);
  }
  // Nor does a name the interpreter would rewrite.
  const StoredSettings restorable = Static({"192.0.2.10"}, {"255.255.255.0"}, {"192.0.2.1"});
  EXPECT_TRUE(CanPutBack(restorable, "以太网 2"));
  EXPECT_FALSE(CanPutBack(restorable, "办公 %PATH% 100%s"));
}

}  // namespace
}  // namespace ipmod

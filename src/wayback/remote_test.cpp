#include "wayback/remote.h"

#include <gtest/gtest.h>

namespace ipmod {
namespace {

TEST(RemoteSessionTest, RemoteDesktopOrSsh) {
  const struct {
    const char* label;
    SessionFacts facts;
    bool remote;
  } cases[] = {
      {"local console", {false, 1u, 1u, false}, false},
      {"the system says remote", {true, 1u, 1u, false}, true},
      // Where the system says local, a session that is not the console's is remote all the same.
      {"not the console's session", {false, 2u, 1u, false}, true},
      {"the console's session unknown", {false, 2u, std::nullopt, false}, false},
      {"own session unknown", {false, std::nullopt, 1u, false}, false},
      {"SSH", {false, 1u, 1u, true}, true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsRemoteSession(c.facts), c.remote) << c.label;
}

TEST(RemoteSessionTest, TheWindowIsAWholeNumberFrom10To3600) {
  const struct {
    std::optional<Text> setting;
    uint32_t seconds;
  } cases[] = {
      {std::nullopt, 120}, {Text("10"), 10},   {Text("3600"), 3600}, {Text("9"), 120},
      {Text("3601"), 120}, {Text(""), 120},    {Text(" 30"), 120},   {Text("30s"), 120},
      {Text("-30"), 120},  {Text("0030"), 30}, {Text("99999"), 120},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ConfirmSeconds(c.setting), c.seconds) << c.setting.value_or("(unset)");
  }
}

TEST(GuardOrderTest, TravelsAsHexDigitsAndComesBackWhole) {
  GuardOrder order;
  order.snapshot = {
      false,         {"192.0.2.10", "198.51.100.10"}, {"255.255.255.0", "255.255.0.0"},
      {"192.0.2.1"}, {"192.0.2.53", "198.51.100.53"}, {"25"}};
  order.connectionName = "以太网 \"2\" %X%";
  order.adapterName = "{11111111-0000-0000-0000-4E6574446576}";
  order.seconds = 30;
  order.language = Language::kEnglish;
  order.snapshotInEffect = false;
  const Text encoded = EncodeGuardOrder(order);
  EXPECT_EQ(encoded.find_first_not_of("0123456789ABCDEFYZ"), Text::npos) << encoded;
  const std::optional<GuardOrder> back = DecodeGuardOrder(encoded);
  ASSERT_TRUE(back);
  EXPECT_EQ(EncodeGuardOrder(*back), encoded);
  EXPECT_EQ(back->connectionName, order.connectionName);
  EXPECT_EQ(back->snapshot.gatewayMetrics, order.snapshot.gatewayMetrics);
  EXPECT_EQ(back->language, Language::kEnglish);
  EXPECT_FALSE(back->snapshotInEffect);
  // The guard's switch follows the program's name, which may hold one too.
  const std::optional<GuardCall> call =
      GuardCallOf("\"C:\\a --guard b\\ipmod.exe\" --guard ipmod-guard-1-2 " + encoded);
  EXPECT_TRUE(call && call->base == "ipmod-guard-1-2");

  GuardOrder dhcp;
  dhcp.snapshot.dhcp = true;
  const std::optional<GuardOrder> empty = DecodeGuardOrder(EncodeGuardOrder(dhcp));
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->snapshot.dhcp && empty->snapshot.addresses.empty());
  EXPECT_TRUE(empty->connectionName.empty());

  for (const char* bad :
       {"", "2ZZZZZZZZ120ZCZ1", "0ZZZZZZZZ9ZCZ1", "0ZZZZZZZZ120ZCZ", "0Z3ZZZZZZZ120ZCZ1",
        "0Z00ZZZZZZZ120ZCZ1", "0ZZZZZZZ120ZCZ1", "0ZZZZZZZZ120ZXZ1", "0ZZZZZZZZ120ZCZ2",
        "0ZZZZZZZZ120ZC", "0ZZZZZZZZ120ZCZ1Z"}) {
    EXPECT_FALSE(DecodeGuardOrder(bad)) << bad;
  }
}

}  // namespace
}  // namespace ipmod

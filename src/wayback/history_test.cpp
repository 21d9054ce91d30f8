#include "wayback/history.h"

#include <gtest/gtest.h>

namespace ipmod {
namespace {

const char kLan[] = "{11111111-0000-0000-0000-4E6574446576}";
const char kWifi[] = "{22222222-0000-0000-0000-4E6574446576}";

// A record's line for "以太网 2" (its GBK bytes in hexadecimal digits).
Text Line(const Text& settings, const char* adapter = kLan, const char* time = "2026-12-09 14:03") {
  return Text(time) + "\t" + adapter + "\tD2D4CCABCDF82032\t" + settings;
}

TEST(HistoryTest, ParsesMergesAndOffersSkippingWhatIsNoRecord) {
  const Text office = Line(
      "static\t192.0.2.10/255.255.255.0,198.51.100.10/255.255.0.0\t192.0.2.1/1,192.0.2.2/25\t"
      "192.0.2.53,114.114.114.114");
  const Text dhcp = Line("dhcp\t\t\t", kLan, "2026-12-09 12:00");
  const Text wifi = Line("dhcp\t\t\t192.0.2.53", kWifi);
  const Text bad[] = {
      "",
      "# written by hand",
      Line("static\t192.0.2.010/255.255.255.0\t\t"),  // not in its plainest form
      Line("static\t192.0.2.10/255.255.255.0\t192.0.2.1/12345\t"),
      Line("static\t\t\t"),
      Line("dhcp\t192.0.2.10/255.255.255.0\t\t"),
      Line("dhcp\t\t\t192.0.2.53,"),
      Line("dhcp\t\t\t192.0.2.53 & calc"),
      Line("dhcp\t\t\t", "{1111 & calc}"),
      Line("dhcp\t\t\t", kLan, "2026-12-9 14:03"),
      Line("dhcp\t\t\t\t"),
      Text("2026-12-09 14:03\t") + kLan + "\td2d4\tdhcp\t\t\t",  // lower-case digits
  };
  for (const Text& line : bad) EXPECT_FALSE(ParseHistoryRecord(line)) << line;

  const std::optional<HistoryRecord> parsed = ParseHistoryRecord(office);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->connectionName, "以太网 2");
  EXPECT_EQ(parsed->settings.masks, (std::vector<Text>{"255.255.255.0", "255.255.0.0"}));
  EXPECT_EQ(parsed->settings.gatewayMetrics, (std::vector<Text>{"1", "25"}));
  EXPECT_EQ(FormatHistoryRecord(*parsed), office);

  const auto lan = [](int i) {
    return Line("static\t192.0.2." + ToText(i) + "/255.255.255.0\t\t", kLan, "2026-12-01 08:00");
  };
  // Five more static settings of the LAN after the bad lines, oldest last.
  Text file = office + "\r\n" + bad[1] + "\r\n" + wifi + "\n" + dhcp + "\r\n" + bad[2];
  for (int i = 1; i <= 5; ++i) file += "\r\n" + lan(i);
  // The DHCP settings again: to the top, once; the LAN keeps its five newest.
  const StoredSettings leased{true, {"0.0.0.0"}, {"0.0.0.0"}, {}, {}, {}};
  std::optional<HistoryRecord> again = MakeHistoryRecord(kLan, "以太网 2", leased);
  ASSERT_TRUE(again);
  again->time = "2026-12-10 10:00";
  const Text merged = MergeHistory(file, *again);
  Text expected;
  for (const Text& line : {Line("dhcp\t\t\t", kLan, "2026-12-10 10:00"), office, bad[1], wifi,
                           bad[2], lan(1), lan(2), lan(3)}) {
    expected += line + "\r\n";
  }
  EXPECT_EQ(merged, expected);

  // Offered: what differs from the settings now, newest first; the WLAN's never.
  const std::vector<HistoryRecord> offers = HistoryOffers(merged, kLan, parsed->settings);
  ASSERT_EQ(offers.size(), 4u);
  EXPECT_TRUE(offers[0].settings.dhcp);
  EXPECT_EQ(offers[1].settings.addresses, std::vector<Text>{"192.0.2.1"});
  EXPECT_EQ(HistoryOffers(merged, kWifi, leased).size(), 1u);
  EXPECT_TRUE(HistoryOffers(bad[1], kLan, leased).empty());

  // Values that could not be put back are not recorded.
  EXPECT_FALSE(MakeHistoryRecord(kLan, "n", {false, {"192.0.2.10"}, {}, {}, {}, {}}));
  EXPECT_FALSE(MakeHistoryRecord(kLan, "n", {true, {}, {}, {}, {"dns.example"}, {}}));
}

}  // namespace
}  // namespace ipmod

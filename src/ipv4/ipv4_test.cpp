#include "ipv4/ipv4.h"

#include <gtest/gtest.h>

namespace ipmod {
namespace {

TEST(ParseIpv4Test, DottedDecimalOnly) {
  const struct {
    Text text;
    std::optional<uint32_t> value;
  } cases[] = {
      {"192.0.2.50", 0xC0000232u},
      {"0.0.0.0", 0u},
      {"255.255.255.255", 0xFFFFFFFFu},
      {" 192.0.2.50\t", 0xC0000232u},
      {"192.000.002.050", 0xC0000232u},
      {"256.0.0.1", std::nullopt},
      {"192.0.2", std::nullopt},
      {"192.0.2.50.1", std::nullopt},
      {"192.0.2.", std::nullopt},
      {"192..2.50", std::nullopt},
      {"1920.0.2.5", std::nullopt},
      {"192.0.2.50x", std::nullopt},
      {"", std::nullopt},
      {"-1.0.0.0", std::nullopt},
      {"192.0. 2.50", std::nullopt},
      {"\xA3\xB1.0.0.1", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseIpv4(c.text), c.value) << c.text;
}

}  // namespace
}  // namespace ipmod

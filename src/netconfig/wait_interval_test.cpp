#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <optional>

#include "netconfig/netconfig.h"

namespace ipmod {
namespace {

TEST(DueTimeTest, IntervalTimesUnitInNegativeHundredNanoseconds) {
  const struct {
    int32_t interval;
    std::optional<int32_t> unit;
    int64_t expected;
  } cases[] = {
      {1, std::nullopt, -10000},  // one millisecond, the poll wait
      {1, 0, -10000},             // unit 0 is the omitted unit
      {0, std::nullopt, 0},       // fires at once
      {5, 1, -50000000},          // five seconds
      {2, 2, -1200000000},        // two minutes
      {1, 3, -36000000000},       // one hour
      {2, 7, -140000},            // other units count as that many ms
      {3, -4, 120000},            // ... negative ones included
      {3, 4, -120000},            // 4 is no unit of its own
      {-1, std::nullopt, 10000},  // positive: an absolute time
      {-5, 1, 50000000},
      {INT32_MAX, 1, -21474836470000000},          // within range
      {INT32_MAX, std::nullopt, -21474836470000},  //
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DueTime(c.interval, c.unit), c.expected)
        << "interval " << c.interval << ", unit " << c.unit.value_or(-999);
  }
}

TEST(DueTimeTest, ProductsBeyondSixtyFourBitsAreClamped) {
  const struct {
    int32_t interval;
    int32_t unit;
    int64_t expected;
  } cases[] = {
      {INT32_MAX, 3, INT64_MIN},
      {INT32_MIN, 3, INT64_MAX},
      {INT32_MAX, INT32_MAX, INT64_MIN},
      {INT32_MIN, INT32_MIN, INT64_MIN},
      {INT32_MAX, INT32_MIN, INT64_MAX},
      // 2^63 x 100 ns is about 256204778.8 hours.
      {256204778, 3, -9223372008000000000},
      {-256204778, 3, 9223372008000000000},
      {256204779, 3, INT64_MIN},
      {-256204779, 3, INT64_MAX},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DueTime(c.interval, c.unit), c.expected)
        << "interval " << c.interval << ", unit " << c.unit;
  }
}

}  // namespace
}  // namespace ipmod

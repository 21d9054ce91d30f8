// The due time of the wait timer, kept apart from the timer itself so it can be checked anywhere.
#include <cstdint>
#include <limits>
#include <optional>

#include "netconfig/netconfig.h"

namespace ipmod {

namespace {

// Milliseconds per unit: 0 ms, 1 s, 2 min, 3 h; any other unit counts as that many ms.
double MillisecondsPerUnit(int32_t unit) {
  switch (unit) {
    case 0:
      return 1.0;
    case 1:
      return 1000.0;
    case 2:
      return 60000.0;
    case 3:
      return 3600000.0;
    default:
      return static_cast<double>(unit);
  }
}

}  // namespace

int64_t DueTime(int32_t interval, std::optional<int32_t> unit) {
  const double dueTime =
      static_cast<double>(interval) * MillisecondsPerUnit(unit.value_or(0)) * -10000.0;
  // 2^63 is exact in a double; anything at or beyond it does not fit a signed 64-bit value.
  constexpr double kLimit = 9223372036854775808.0;
  if (dueTime >= kLimit) return std::numeric_limits<int64_t>::max();
  if (dueTime <= -kLimit) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(dueTime);  // truncates toward zero
}

}  // namespace ipmod

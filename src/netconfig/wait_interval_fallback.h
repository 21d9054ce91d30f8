// The part of WaitInterval that runs when no waitable timer can be had. Windows only.
#pragma once

#include <cstdint>

namespace ipmod {

// Waits until `dueTime` (as DueTime gives it: negative 100 ns units from now, or a positive
// absolute system time) has passed, in message waits with time-outs against a tick-count
// deadline, dispatching the thread's messages whenever one wakes early.
void WaitWithoutTimer(int64_t dueTime);

}  // namespace ipmod

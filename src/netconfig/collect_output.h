// The poll loop of the captured runner, apart from the pipe and process it polls, so that its
// order of peeks, reads and end tests can be checked against a scripted source.
#pragma once

#include <cstdint>

#include "runtime/text.h"

namespace ipmod {

// A running command as the poll loop sees it: the pipe its output goes into and its end.
class OutputSource {
 public:
  virtual ~OutputSource() = default;
  // The number of bytes waiting in the pipe, without taking them; 0 when it cannot be peeked.
  virtual uint32_t BytesWaiting() = 0;
  // Reads at most block.size() bytes into `block`; returns how many it read, 0 on failure.
  virtual uint32_t Read(ByteBlock& block) = 0;
  // True once the command has ended.
  virtual bool HasEnded() = 0;
  // Between two polls: dispatches pending messages and waits a moment.
  virtual void Pause() = 0;
};

// Polls `source` until the command has ended, reading whatever a peek reports, then takes what
// the pipe still holds at that moment. Returns the pieces joined in arrival order, each one up
// to its first zero byte.
Text CollectOutput(OutputSource& source);

}  // namespace ipmod

// The guard's order as it arrives on its command line: anything decodes or is refused, what
// decodes encodes back to the same text, and the commands that restore it carry nothing but the
// connection's name, netsh's words, addresses and numbers.
#include <cstdint>
#include <string>

#include "wayback/remote.h"
#include "wayback/restore.h"
#include "fuzz_check.h"

using namespace ipmod;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Text text(reinterpret_cast<const char*>(data), size);
  const std::optional<GuardOrder> order = DecodeGuardOrder(text);
  if (!order) return 0;
  FUZZ_CHECK(EncodeGuardOrder(*order) == text);
  const std::optional<std::vector<RestoreStep>> steps =
      RestoreSteps(order->snapshot, {true, true}, order->connectionName);
  if (!steps) return 0;
  const Text quoted = "name=\"" + order->connectionName + "\"";
  for (const RestoreStep& step : *steps) {
    const std::size_t at = step.command.find(quoted);
    FUZZ_CHECK(at != Text::npos);
    const Text rest = step.command.substr(0, at) + step.command.substr(at + quoted.size());
    FUZZ_CHECK(rest.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789.= ") == Text::npos);
  }
  return 0;
}

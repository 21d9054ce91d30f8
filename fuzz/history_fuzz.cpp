// The history file as anyone may have edited it: every line parses or is skipped, a line that
// parses writes back byte for byte, and a merge keeps every other line while the adapter's
// records stay within their number, the new one first.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "wayback/history.h"

using namespace ipmod;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Text file(reinterpret_cast<const char*>(data), size);
  const Text adapter = "{11111111-0000-0000-0000-4E6574446576}";
  std::optional<HistoryRecord> added =
      MakeHistoryRecord(adapter, "n", {true, {}, {}, {}, {"192.0.2.53"}, {}});
  added->time = "2026-12-10 10:00";
  const Text merged = MergeHistory(file, *added);
  // Lines that are no record of that adapter, before and after the merge; its records after.
  std::size_t others[2] = {0, 0};
  std::size_t kept = 0;
  for (const bool after : {false, true}) {
    for (const std::string_view line : HistoryLines(after ? merged : file)) {
      const std::optional<HistoryRecord> record = ParseHistoryRecord(line);
      if (record) FUZZ_CHECK(FormatHistoryRecord(*record) == line);
      const bool its = record && record->adapterName == adapter;
      others[after] += !its;
      kept += its && after;
    }
  }
  FUZZ_CHECK(kept >= 1 && kept <= kHistoryPerAdapter && others[0] == others[1]);
  FUZZ_CHECK(HistoryLines(merged).front() == FormatHistoryRecord(*added));
  return 0;
}

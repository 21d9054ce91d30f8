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
  const char kAdapter[] = "{11111111-0000-0000-0000-4E6574446576}";
  std::size_t lines = 0;
  std::size_t others = 0;  // lines that are no record of that adapter
  for (const std::string_view line : HistoryLines(file)) {
    ++lines;
    const std::optional<HistoryRecord> record = ParseHistoryRecord(line);
    if (record) FUZZ_CHECK(FormatHistoryRecord(*record) == line);
    others += !record || record->adapterName != kAdapter;
  }
  std::optional<HistoryRecord> added =
      MakeHistoryRecord(kAdapter, "n", {true, {}, {}, {}, {"192.0.2.53"}, {}});
  FUZZ_CHECK(added);
  added->time = "2026-12-10 10:00";
  const Text merged = MergeHistory(file, *added);
  const std::vector<std::string_view> after = HistoryLines(merged);
  FUZZ_CHECK(!after.empty() && after.front() == FormatHistoryRecord(*added));
  std::size_t kept = 0;
  for (const std::string_view line : after) {
    const std::optional<HistoryRecord> record = ParseHistoryRecord(line);
    kept += record && record->adapterName == kAdapter;
  }
  FUZZ_CHECK(kept >= 1 && kept <= kHistoryPerAdapter);
  FUZZ_CHECK(after.size() - kept == others && after.size() <= lines + 1);
  return 0;
}

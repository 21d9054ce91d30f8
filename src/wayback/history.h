// The history of earlier settings: the settings a connection had before each change, kept in a
// text file beside the program, one record a line, so that a later run can offer them again.
//
// A record's line holds seven fields parted by tabs:
//   local time    2026-12-09 14:03
//   adapter       the adapter's name (its GUID), of the characters 0-9 A-Z a-z { } - only
//   connection    the connection's name, its bytes as upper-case hexadecimal digits
//   address kind  dhcp or static
//   addresses     static only: address/mask, parted by commas, first one first
//   gateways      static only: gateway/metric, parted by commas, first one first
//   DNS servers   in order, parted by commas; empty: automatic
// Addresses are in their plainest dotted form and metrics have one to four digits, so a line
// that parses is written back byte for byte. Lines end with CR LF.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "adapters/connection_settings.h"
#include "runtime/console.h"
#include "runtime/text.h"

namespace ipmod {

// The most of the file that is read; a longer file is read up to its last line break before it.
constexpr std::size_t kHistoryLimit = 64 * 1024;

// The distinct settings kept per adapter.
constexpr std::size_t kHistoryPerAdapter = 5;

struct HistoryRecord {
  Text time;            // local time, "YYYY-MM-DD HH:MM"
  Text adapterName;     // what identifies the connection (its name may change)
  Text connectionName;  // as it was then, in the system's code page
  StoredSettings settings;
};

// The record, yet without its time, that keeps `settings` with its values in their plainest form
// (a DHCP one keeps no static addresses or gateways, a missing gateway metric is kept as 1);
// nothing when a value is no IPv4 address or metric, a static one has no address or fewer masks
// than addresses, or the adapter's name does not fit a line.
std::optional<HistoryRecord> MakeHistoryRecord(const Text& adapterName, const Text& connectionName,
                                               const StoredSettings& settings);

// A record's line, without its line break, and back; nothing for a line that is no record.
Text FormatHistoryRecord(const HistoryRecord& record);
std::optional<HistoryRecord> ParseHistoryRecord(std::string_view line);

// The file's lines, each without its line break (LF or CR LF), as they stand.
std::vector<std::string_view> HistoryLines(std::string_view file);

// The file with `record` on its first line: the records of its adapter with the same settings
// go, and so does every one of them after the first kHistoryPerAdapter - 1 that remain. Every
// other line, one that does not parse included, stays as it was, in its place.
Text MergeHistory(std::string_view file, const HistoryRecord& record);

// What to offer for the adapter whose stored settings are `now`: its records whose settings
// differ from them, in the file's order (newest first), each settings once, at most
// kHistoryPerAdapter.
std::vector<HistoryRecord> HistoryOffers(std::string_view file, const Text& adapterName,
                                         const StoredSettings& now);

// Where the earlier settings are kept.
class HistoryStore {
 public:
  virtual ~HistoryStore() = default;
  // The file's text, at most kHistoryLimit bytes of it; the empty text where there is none or
  // it cannot be read.
  virtual Text Load() = 0;
  // Stamps the record with the local time and merges it into the file (MergeHistory), so that
  // no other program writes the file between the read and the write. False when it cannot be
  // written, with the system's reason in `why`.
  virtual bool Add(HistoryRecord record, ConsoleText* why) = 0;
};

}  // namespace ipmod

#include "wayback/history.h"

#include <algorithm>
#include <cstring>

#include "ipv4/ipv4.h"
#include "wayback/restore.h"

namespace ipmod {

namespace {

constexpr std::size_t kFields = 7;
constexpr std::size_t kLongestAdapterName = 255;
const char kDigits[] = "0123456789ABCDEF";
const char kDhcp[] = "dhcp";
const char kStatic[] = "static";

// The pieces of `text` between `separator`s; none for the empty text.
std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  if (text.empty()) return pieces;
  for (std::size_t begin = 0;;) {
    const std::size_t end = std::min(text.find(separator, begin), text.size());
    pieces.push_back(text.substr(begin, end - begin));
    if (end == text.size()) return pieces;
    begin = end + 1;
  }
}

bool IsTime(std::string_view text) {
  const char kShape[] = "0000-00-00 00:00";
  if (text.size() != sizeof kShape - 1) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == '0' ? !digit : text[i] != kShape[i]) return false;
  }
  return true;
}

bool IsAdapterName(std::string_view text) {
  return !text.empty() && text.size() <= kLongestAdapterName &&
         std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                  c == '{' || c == '}' || c == '-';
         });
}

Text Hex(const Text& bytes) {
  Text hex;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

// The bytes of upper-case hexadecimal digits; nothing for anything else (a zero byte included,
// which no text holds).
std::optional<Text> FromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  Text bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    unsigned byte = 0;
    for (const char c : hex.substr(i, 2)) {
      const char* digit = c == '\0' ? nullptr : std::strchr(kDigits, c);
      if (digit == nullptr) return std::nullopt;
      byte = byte * 16 + static_cast<unsigned>(digit - kDigits);
    }
    if (byte == 0) return std::nullopt;
    bytes += static_cast<char>(byte);
  }
  return bytes;
}

// An address in its plainest dotted form, as a record keeps it.
bool IsPlainAddress(std::string_view text) {
  const std::optional<uint32_t> value = ParseIpv4(text);
  return value && DottedIpv4(*value) == text;
}

// "first/second" with a plain address first and, as `second` requires, something after the
// slash; added to the two lists.
bool ParsePair(std::string_view item, bool (*second)(std::string_view), std::vector<Text>& firsts,
               std::vector<Text>& seconds) {
  const std::size_t slash = item.find('/');
  if (slash == std::string_view::npos || !IsPlainAddress(item.substr(0, slash)) ||
      !second(item.substr(slash + 1))) {
    return false;
  }
  firsts.emplace_back(item.substr(0, slash));
  seconds.emplace_back(item.substr(slash + 1));
  return true;
}

Text Pairs(const std::vector<Text>& firsts, const std::vector<Text>& seconds) {
  Text field;
  for (std::size_t i = 0; i < firsts.size(); ++i) {
    if (i > 0) field += ',';
    field += firsts[i] + "/" + seconds[i];
  }
  return field;
}

bool SameSettings(const StoredSettings& a, const StoredSettings& b) {
  return !ChangesSince(a, b).Any();
}

}  // namespace

std::optional<HistoryRecord> MakeHistoryRecord(const Text& adapterName, const Text& connectionName,
                                               const StoredSettings& settings) {
  const auto servers = PlainAddresses(settings.nameServers);
  if (!IsAdapterName(adapterName) || !servers) return std::nullopt;
  HistoryRecord record{Text(), adapterName, connectionName, StoredSettings()};
  StoredSettings& kept = record.settings;
  kept.dhcp = settings.dhcp;
  kept.nameServers = *servers;
  if (settings.dhcp) return record;
  const auto addresses = PlainAddresses(settings.addresses);
  const auto masks = PlainAddresses(settings.masks, settings.addresses.size());
  const auto gateways = PlainAddresses(settings.gateways);
  if (!addresses || addresses->empty() || !masks || masks->size() < addresses->size() ||
      !gateways) {
    return std::nullopt;
  }
  kept.addresses = *addresses;
  kept.masks = *masks;
  kept.gateways = *gateways;
  for (std::size_t i = 0; i < kept.gateways.size(); ++i) {
    const bool stored = i < settings.gatewayMetrics.size();
    if (stored && !IsMetric(settings.gatewayMetrics[i])) return std::nullopt;
    kept.gatewayMetrics.push_back(stored ? settings.gatewayMetrics[i] : Text("1"));
  }
  return record;
}

Text FormatHistoryRecord(const HistoryRecord& record) {
  const StoredSettings& s = record.settings;
  Text servers;
  for (std::size_t i = 0; i < s.nameServers.size(); ++i) {
    servers += (i > 0 ? "," : "") + s.nameServers[i];
  }
  return record.time + '\t' + record.adapterName + '\t' + Hex(record.connectionName) + '\t' +
         (s.dhcp ? kDhcp : kStatic) + '\t' + Pairs(s.addresses, s.masks) + '\t' +
         Pairs(s.gateways, s.gatewayMetrics) + '\t' + servers;
}

std::optional<HistoryRecord> ParseHistoryRecord(std::string_view line) {
  const std::vector<std::string_view> fields = Split(line, '\t');
  if (fields.size() != kFields || !IsTime(fields[0]) || !IsAdapterName(fields[1]) ||
      (fields[3] != kDhcp && fields[3] != kStatic)) {
    return std::nullopt;
  }
  std::optional<Text> name = FromHex(fields[2]);
  if (!name) return std::nullopt;
  HistoryRecord record{Text(fields[0]), Text(fields[1]), std::move(*name), StoredSettings()};
  StoredSettings& s = record.settings;
  s.dhcp = fields[3] == kDhcp;
  const std::vector<std::string_view> addresses = Split(fields[4], ',');
  const std::vector<std::string_view> gateways = Split(fields[5], ',');
  if (s.dhcp ? !addresses.empty() || !gateways.empty() : addresses.empty()) return std::nullopt;
  for (const std::string_view item : addresses) {
    if (!ParsePair(item, IsPlainAddress, s.addresses, s.masks)) return std::nullopt;
  }
  for (const std::string_view item : gateways) {
    if (!ParsePair(item, IsMetric, s.gateways, s.gatewayMetrics)) return std::nullopt;
  }
  for (const std::string_view server : Split(fields[6], ',')) {
    if (!IsPlainAddress(server)) return std::nullopt;
    s.nameServers.emplace_back(server);
  }
  return record;
}

std::vector<std::string_view> HistoryLines(std::string_view file) {
  std::vector<std::string_view> lines = Split(file, '\n');
  if (!lines.empty() && lines.back().empty()) lines.pop_back();  // after the last line break
  for (std::string_view& line : lines) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  }
  return lines;
}

Text MergeHistory(std::string_view file, const HistoryRecord& record) {
  Text merged = FormatHistoryRecord(record) + "\r\n";
  std::size_t kept = 1;
  for (const std::string_view line : HistoryLines(file)) {
    const std::optional<HistoryRecord> earlier = ParseHistoryRecord(line);
    if (earlier && earlier->adapterName == record.adapterName) {
      if (SameSettings(earlier->settings, record.settings) || kept >= kHistoryPerAdapter) continue;
      ++kept;
    }
    merged.append(line).append("\r\n");
  }
  return merged;
}

std::vector<HistoryRecord> HistoryOffers(std::string_view file, const Text& adapterName,
                                         const StoredSettings& now) {
  std::vector<HistoryRecord> offers;
  for (const std::string_view line : HistoryLines(file)) {
    if (offers.size() == kHistoryPerAdapter) break;
    std::optional<HistoryRecord> record = ParseHistoryRecord(line);
    if (!record || record->adapterName != adapterName || SameSettings(record->settings, now) ||
        std::any_of(offers.begin(), offers.end(), [&](const HistoryRecord& offered) {
          return SameSettings(offered.settings, record->settings);
        })) {
      continue;
    }
    offers.push_back(std::move(*record));
  }
  return offers;
}

}  // namespace ipmod

#include "wayback/remote.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace ipmod {

namespace {

const char kDigits[] = "0123456789ABCDEF";

// Fields are parted by 'Z', items of a list by 'Y': neither is a hexadecimal digit.
void AddHex(Text& out, const Text& text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    out += kDigits[byte >> 4];
    out += kDigits[byte & 15];
  }
}

void AddList(Text& out, const std::vector<Text>& list) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i > 0) out += 'Y';
    AddHex(out, list[i]);
  }
  out += 'Z';
}

// The bytes of hexadecimal digits, added to `text`; false for anything else (an odd count, a
// zero byte, which no text holds).
bool FromHex(std::string_view hex, Text& text) {
  if (hex.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    unsigned byte = 0;
    for (const char c : hex.substr(i, 2)) {
      const char* digit = c == '\0' ? nullptr : std::strchr(kDigits, c);
      if (digit == nullptr) return false;
      byte = byte * 16 + static_cast<unsigned>(digit - kDigits);
    }
    if (byte == 0) return false;
    text += static_cast<char>(byte);
  }
  return true;
}

bool ListFromHex(std::string_view field, std::vector<Text>& list) {
  for (std::size_t begin = 0; begin < field.size();) {
    const std::size_t end = std::min(field.find('Y', begin), field.size());
    list.emplace_back();
    if (end == begin || !FromHex(field.substr(begin, end - begin), list.back())) return false;
    // An item parted off at the very end is an empty one.
    if (end + 1 == field.size()) return false;
    begin = end + 1;
  }
  return true;
}

}  // namespace

bool IsRemoteSession(const SessionFacts& facts) {
  const bool notTheConsole =
      facts.sessionId && facts.consoleSessionId && *facts.sessionId != *facts.consoleSessionId;
  return facts.remoteMetric || notTheConsole || facts.sshVariables;
}

uint32_t ConfirmSeconds(const std::optional<Text>& setting) {
  if (!setting || setting->empty() || setting->size() > 4) return kDefaultConfirmSeconds;
  uint32_t seconds = 0;
  for (const char c : *setting) {
    if (c < '0' || c > '9') return kDefaultConfirmSeconds;
    seconds = seconds * 10 + static_cast<uint32_t>(c - '0');
  }
  return seconds >= 10 && seconds <= 3600 ? seconds : kDefaultConfirmSeconds;
}

Text EncodeGuardOrder(const GuardOrder& order) {
  const StoredSettings& s = order.snapshot;
  Text out = s.dhcp ? "1Z" : "0Z";
  for (const std::vector<Text>* list :
       {&s.addresses, &s.masks, &s.gateways, &s.nameServers, &s.gatewayMetrics}) {
    AddList(out, *list);
  }
  AddHex(out, order.connectionName);
  out += 'Z';
  AddHex(out, order.adapterName);
  out += 'Z';
  out += ToText(static_cast<int32_t>(order.seconds));
  out += order.language == Language::kEnglish ? "ZE" : "ZC";
  out += order.snapshotInEffect ? "Z1" : "Z0";
  return out;
}

std::optional<GuardOrder> DecodeGuardOrder(std::string_view text) {
  constexpr std::size_t kFields = 11;
  std::string_view fields[kFields];
  std::size_t count = 0;
  for (std::size_t begin = 0; begin <= text.size() && count <= kFields; ++count) {
    const std::size_t end = std::min(text.find('Z', begin), text.size());
    if (count < kFields) fields[count] = text.substr(begin, end - begin);
    begin = end + 1;
  }
  GuardOrder order;
  StoredSettings& s = order.snapshot;
  std::vector<Text>* lists[] = {&s.addresses, &s.masks, &s.gateways, &s.nameServers,
                                &s.gatewayMetrics};
  if (count != kFields || (fields[0] != "0" && fields[0] != "1") ||
      (fields[9] != "C" && fields[9] != "E") || (fields[10] != "0" && fields[10] != "1") ||
      !FromHex(fields[6], order.connectionName) || !FromHex(fields[7], order.adapterName)) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < 5; ++i) {
    if (!ListFromHex(fields[i + 1], *lists[i])) return std::nullopt;
  }
  s.dhcp = fields[0] == "1";
  order.seconds = ConfirmSeconds(Text(fields[8]));
  if (ToText(static_cast<int32_t>(order.seconds)) != fields[8]) return std::nullopt;
  order.language = fields[9] == "E" ? Language::kEnglish : Language::kChinese;
  order.snapshotInEffect = fields[10] == "1";
  return order;
}

std::optional<GuardCall> GuardCallOf(const Text& commandLine) {
  // The switch follows the program's name, which may hold anything else (a folder named
  // "tools --guard x" too).
  const std::size_t nameEnd = !commandLine.empty() && commandLine[0] == '"'
                                  ? commandLine.find('"', 1)
                                  : commandLine.find(' ');
  const Text marker = " --guard ";
  if (nameEnd == Text::npos) return std::nullopt;
  const std::size_t at = nameEnd + (commandLine[nameEnd] == '"' ? 1 : 0);
  if (commandLine.compare(at, marker.size(), marker) != 0) return std::nullopt;
  const std::size_t base = at + marker.size();
  const std::size_t blank = commandLine.find(' ', base);
  // The base is the program's own "ipmod-guard-PID-TICKS": its events' names must fit.
  constexpr std::size_t kMostBase = 40;
  if (blank == Text::npos || blank - base > kMostBase) return std::nullopt;
  std::optional<GuardOrder> order = DecodeGuardOrder(commandLine.substr(blank + 1));
  if (!order) return std::nullopt;
  return GuardCall{commandLine.substr(base, blank - base), std::move(*order)};
}

}  // namespace ipmod

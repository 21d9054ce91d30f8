#include "dialogue/remote.h"

#include <algorithm>
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

std::optional<Text> FromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  const auto value = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  Text text;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = value(hex[i]);
    const int low = value(hex[i + 1]);
    if (high < 0 || low < 0 || (high == 0 && low == 0)) return std::nullopt;
    text += static_cast<char>(high * 16 + low);
  }
  return text;
}

std::optional<std::vector<Text>> ListFromHex(std::string_view field) {
  std::vector<Text> list;
  if (field.empty()) return list;
  for (std::size_t begin = 0;;) {
    const std::size_t end = std::min(field.find('Y', begin), field.size());
    std::optional<Text> item = FromHex(field.substr(begin, end - begin));
    if (!item || item->empty()) return std::nullopt;
    list.push_back(std::move(*item));
    if (end == field.size()) return list;
    begin = end + 1;
  }
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
  return out;
}

std::optional<GuardOrder> DecodeGuardOrder(std::string_view text) {
  std::vector<std::string_view> fields;
  for (std::size_t begin = 0;;) {
    const std::size_t end = text.find('Z', begin);
    fields.push_back(text.substr(begin, end == std::string_view::npos ? end : end - begin));
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
  if (fields.size() != 10 || (fields[0] != "0" && fields[0] != "1") ||
      (fields[9] != "C" && fields[9] != "E")) {
    return std::nullopt;
  }
  GuardOrder order;
  order.snapshot.dhcp = fields[0] == "1";
  std::vector<Text>* lists[] = {&order.snapshot.addresses, &order.snapshot.masks,
                                &order.snapshot.gateways, &order.snapshot.nameServers,
                                &order.snapshot.gatewayMetrics};
  for (std::size_t i = 0; i < 5; ++i) {
    std::optional<std::vector<Text>> list = ListFromHex(fields[i + 1]);
    if (!list) return std::nullopt;
    *lists[i] = std::move(*list);
  }
  std::optional<Text> name = FromHex(fields[6]);
  std::optional<Text> adapter = FromHex(fields[7]);
  if (!name || !adapter) return std::nullopt;
  order.connectionName = std::move(*name);
  order.adapterName = std::move(*adapter);
  const Text seconds(fields[8]);
  order.seconds = ConfirmSeconds(seconds);
  if (ToText(static_cast<int32_t>(order.seconds)) != seconds) return std::nullopt;
  order.language = fields[9] == "E" ? Language::kEnglish : Language::kChinese;
  return order;
}

}  // namespace ipmod

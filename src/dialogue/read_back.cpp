#include "dialogue/read_back.h"

#include <vector>

namespace ipmod {

namespace {

const char kUnreadable[] = "无法读取该连接的当前设置。";
const char kAutomaticAddress[] = "当前设置：自动获取IP地址";
const char kLiveAddress[] = "，IP：";
const char kStaticAddress[] = "当前设置：IP：";
const char kMask[] = "，子网掩码：";
const char kGateway[] = "，网关：";
const char kNone[] = "无";
const char kNotInEffect[] = "（未生效，正在使用：";
const char kNotInEffectEnd[] = "）";
const char kAutomaticDns[] = "当前DNS：自动获取";
const char kStaticDns[] = "当前DNS：";
const char kListSeparator[] = "，";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The address as a number, 0 for none (an empty or unreadable text, or 0.0.0.0).
uint32_t AddressValue(const Text& text) { return ParseIpv4(text).value_or(0); }

bool SameAddress(std::string_view a, std::string_view b) {
  const std::optional<uint32_t> x = ParseIpv4(a);
  return x && x == ParseIpv4(b);
}

// The first of them, or "无" when there is none.
const char* FirstOf(const std::vector<Text>& texts) {
  return texts.empty() ? kNone : texts.front().c_str();
}

const char* Shown(const Text& address) {
  return AddressValue(address) == 0 ? kNone : address.c_str();
}

bool HoldsAddress(const StoredSettings& stored, const Request& request) {
  for (std::size_t i = 0; i < stored.addresses.size() && i < stored.masks.size(); ++i) {
    if (SameAddress(stored.addresses[i], request.address) &&
        SameAddress(stored.masks[i], request.mask)) {
      return true;
    }
  }
  return false;
}

bool HoldsGateway(const StoredSettings& stored, const Request& request) {
  for (const Text& gateway : stored.gateways) {
    if (SameAddress(gateway, request.gateway)) return true;
  }
  return false;
}

// Whether the live address is not the one the stored settings give: the static address, or
// the lease's when DHCP has one.
bool LiveDiffers(const StoredSettings& stored, const LiveSettings& live) {
  if (stored.dhcp) {
    return AddressValue(stored.leaseAddress) != 0 &&
           AddressValue(stored.leaseAddress) != AddressValue(live.address);
  }
  const uint32_t address = stored.addresses.empty() ? 0 : AddressValue(stored.addresses.front());
  return address != AddressValue(live.address);
}

Text AddressLine(const StoredSettings& stored, const LiveSettings& live) {
  const bool differs = LiveDiffers(stored, live);
  Text line;
  if (stored.dhcp) {
    line = kAutomaticAddress;
    if (!differs && AddressValue(live.address) != 0) line.append(kLiveAddress).append(live.address);
  } else {
    line = kStaticAddress;
    line.append(FirstOf(stored.addresses))
        .append(kMask)
        .append(FirstOf(stored.masks))
        .append(kGateway)
        .append(FirstOf(stored.gateways));
  }
  if (differs) line.append(kNotInEffect).append(Shown(live.address)).append(kNotInEffectEnd);
  return line;
}

Text DnsLine(const StoredSettings& stored) {
  if (stored.nameServers.empty()) return kAutomaticDns;
  Text line = kStaticDns;
  for (std::size_t i = 0; i < stored.nameServers.size(); ++i) {
    if (i > 0) line.append(kListSeparator);
    line.append(stored.nameServers[i]);
  }
  return line;
}

}  // namespace

std::optional<uint32_t> ParseIpv4(std::string_view text) {
  std::size_t at = 0;
  std::size_t end = text.size();
  while (at < end && IsBlank(text[at])) ++at;
  while (end > at && IsBlank(text[end - 1])) --end;
  uint32_t value = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at >= end || text[at] != '.') return std::nullopt;
      ++at;
    }
    uint32_t number = 0;
    std::size_t digits = 0;
    while (at < end && text[at] >= '0' && text[at] <= '9' && digits < 4) {
      number = number * 10 + static_cast<uint32_t>(text[at] - '0');
      ++at;
      ++digits;
    }
    if (digits == 0 || digits > 3 || number > 255) return std::nullopt;
    value = (value << 8) | number;
  }
  if (at != end) return std::nullopt;
  return value;
}

ReadBack JudgeReadBack(const Request& request, const ConnectionSettings& settings) {
  ReadBack result;
  if (!settings.stored || !settings.live) {
    result.line = kUnreadable;
    return result;
  }
  const StoredSettings& stored = *settings.stored;
  const LiveSettings& live = *settings.live;
  result.readable = true;
  switch (request.kind) {
    case Request::kDhcpAddress:
    case Request::kStaticAddress: {
      const bool asked =
          request.kind == Request::kDhcpAddress
              ? stored.dhcp
              : !stored.dhcp && HoldsAddress(stored, request) && HoldsGateway(stored, request);
      const bool differs = LiveDiffers(stored, live);
      // A DHCP connection without a lease yet has no address to agree on; it waits for one.
      const bool leasePending = stored.dhcp && AddressValue(live.address) == 0;
      result.inEffect = asked && !differs;
      result.settling = asked && (differs || leasePending);
      result.line = AddressLine(stored, live);
      break;
    }
    case Request::kAutomaticDns:
      result.inEffect = stored.nameServers.empty();
      result.line = DnsLine(stored);
      break;
    case Request::kStaticDns:
      result.inEffect =
          !stored.nameServers.empty() && SameAddress(stored.nameServers.front(), request.server);
      result.line = DnsLine(stored);
      break;
  }
  return result;
}

}  // namespace ipmod

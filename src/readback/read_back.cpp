#include "readback/read_back.h"

#include <algorithm>
#include <vector>

#include "netconfig/netconfig.h"

namespace ipmod {

namespace {

// The line's words, in the program's languages.
struct LineTexts {
  const char* unreadable;
  const char* automaticAddress;
  const char* liveAddress;
  const char* staticAddress;
  const char* mask;
  const char* gateway;
  const char* none;
  const char* notInEffect;
  const char* notInEffectEnd;
  const char* automaticDns;
  const char* staticDns;
  const char* listSeparator;
  const char* noLease;
  const char* linkDown;
};

const LineTexts kLineTexts[] = {
    {"无法读取该连接的当前设置。", "当前设置：自动获取IP地址", "，IP：", "当前设置：IP：",
     "，子网掩码：", "，网关：", "无", "（未生效，正在使用：", "）", "当前DNS：自动获取",
     "当前DNS：", "，", "（未获得DHCP地址）", "（网络未连接，连接后生效）"},
    {"The connection's current settings cannot be read.", "Now: IP obtained automatically",
     ", IP: ", "Now: IP: ", ", mask: ", ", gateway: ", "none", " (not in effect, in use: ", ")",
     "DNS now: automatic", "DNS now: ", ", ", " (no DHCP address obtained)",
     " (not connected: takes effect once connected)"},
};

const LineTexts& In(Language language) { return kLineTexts[static_cast<int>(language)]; }

// The address as a number, 0 for none (an empty or unreadable text, or 0.0.0.0).
uint32_t AddressValue(std::string_view text) { return ParseIpv4(text).value_or(0); }

// The first of them, or the word for none.
const char* FirstOf(const std::vector<Text>& texts, const LineTexts& t) {
  return texts.empty() ? t.none : texts.front().c_str();
}

const char* Shown(const Text& address, const LineTexts& t) {
  return AddressValue(address) == 0 ? t.none : address.c_str();
}

// Whether the first of `stored` is `typed`, as addresses.
bool FirstIs(const std::vector<Text>& stored, std::string_view typed) {
  return !stored.empty() && SameAddress(stored.front(), typed);
}

// netsh's static command replaces every address and gateway with the ones given, so a change
// made leaves them first.
bool HoldsStatic(const StoredSettings& stored, const Request& request) {
  const bool gateway = MeansNoGateway(request.gateway)
                           ? std::none_of(stored.gateways.begin(), stored.gateways.end(),
                                          [](const Text& g) { return AddressValue(g) != 0; })
                           : FirstIs(stored.gateways, request.gateway);
  return !stored.dhcp && FirstIs(stored.addresses, request.address) &&
         FirstIs(stored.masks, request.mask) && gateway;
}

bool IsLive(const LiveSettings& live, uint32_t address) {
  if (address == 0) return false;
  return std::any_of(live.addresses.begin(), live.addresses.end(),
                     [&](const Text& a) { return AddressValue(a) == address; });
}

// The first live address, or the empty text when there is none.
Text FirstLive(const LiveSettings& live) {
  for (const Text& address : live.addresses) {
    if (AddressValue(address) != 0) return address;
  }
  return Text();
}

// A DHCP lease is a live address other than an automatic private one (169.254.0.0/16), which
// the system takes when no DHCP server answers.
std::optional<Text> Lease(const LiveSettings& live) {
  for (const Text& address : live.addresses) {
    const uint32_t value = AddressValue(address);
    if (value != 0 && (value & 0xFFFF0000u) != 0xA9FE0000u) return address;
  }
  return std::nullopt;
}

// Whether the static address stored first is not in use (with none stored: whether one is).
bool StaticNotLive(const StoredSettings& stored, const LiveSettings& live) {
  const uint32_t first = stored.addresses.empty() ? 0 : AddressValue(stored.addresses.front());
  return first == 0 ? !FirstLive(live).empty() : !IsLive(live, first);
}

// The address line's stored part: DHCP, or the first address, its mask and the first gateway.
Text StoredAddress(const StoredSettings& stored, const LineTexts& t) {
  if (stored.dhcp) return t.automaticAddress;
  return Text(t.staticAddress)
      .append(FirstOf(stored.addresses, t))
      .append(t.mask)
      .append(FirstOf(stored.masks, t))
      .append(t.gateway)
      .append(FirstOf(stored.gateways, t));
}

Text AddressLine(const StoredSettings& stored, const LiveSettings& live, const LineTexts& t) {
  Text line = StoredAddress(stored, t);
  if (stored.dhcp) {
    if (!live.linkUp) return line.append(t.linkDown);
    if (const std::optional<Text> lease = Lease(live)) {
      return line.append(t.liveAddress).append(*lease);
    }
    return line.append(t.liveAddress).append(Shown(FirstLive(live), t)).append(t.noLease);
  }
  if (!live.linkUp) return line.append(t.linkDown);
  if (StaticNotLive(stored, live)) {
    line.append(t.notInEffect).append(Shown(FirstLive(live), t)).append(t.notInEffectEnd);
  }
  return line;
}

Text DnsLine(const StoredSettings& stored, const LineTexts& t) {
  if (stored.nameServers.empty()) return t.automaticDns;
  Text line = t.staticDns;
  for (std::size_t i = 0; i < stored.nameServers.size(); ++i) {
    if (i > 0) line.append(t.listSeparator);
    line.append(stored.nameServers[i]);
  }
  return line;
}

}  // namespace

ReadBack JudgeReadBack(const Request& request, const ConnectionSettings& settings,
                       Language language) {
  const LineTexts& t = In(language);
  ReadBack result;
  if (!settings.stored || !settings.live) {
    result.line = t.unreadable;
    return result;
  }
  const StoredSettings& stored = *settings.stored;
  const LiveSettings& live = *settings.live;
  result.readable = true;
  switch (request.kind) {
    case Request::kDhcpAddress:
    case Request::kStaticAddress: {
      const bool dhcp = request.kind == Request::kDhcpAddress;
      const bool asked = dhcp ? stored.dhcp : HoldsStatic(stored, request);
      // A link that is down uses nothing yet: what is stored takes effect once it is up.
      const bool used = !live.linkUp || (dhcp ? Lease(live).has_value()
                                              : IsLive(live, AddressValue(request.address)));
      result.inEffect = asked && used;
      result.settling = asked && !used;
      result.line = AddressLine(stored, live, t);
      break;
    }
    case Request::kAutomaticDns:
      result.inEffect = stored.nameServers.empty();
      result.line = DnsLine(stored, t);
      break;
    case Request::kStaticDns:
      result.inEffect =
          !stored.nameServers.empty() && SameAddress(stored.nameServers.front(), request.server);
      result.line = DnsLine(stored, t);
      break;
  }
  return result;
}

ReadBack ReadBackSettled(AdapterSource& adapters, RegistryReader& registry, Clock& clock,
                         const Request& request, const Text& adapterName, WaitSigns waiting,
                         ConnectionSettings* settings, Language language) {
  // While the live state has not followed what is stored (a fresh address being checked for
  // conflicts, a lease on its way), the settings are read again this often, for at most this long.
  constexpr int32_t kSettlePollMs = 200;
  constexpr uint32_t kSettleLimitMs = 10000;
  ConnectionSettings read = ReadConnectionSettings(adapters, registry, adapterName);
  ReadBack readBack = JudgeReadBack(request, read, language);
  if (readBack.settling) {
    waiting(true);
    const uint32_t start = clock.Milliseconds();
    while (readBack.settling && clock.Milliseconds() - start + kSettlePollMs <= kSettleLimitMs) {
      clock.Wait(kSettlePollMs);
      read = ReadConnectionSettings(adapters, registry, adapterName);
      readBack = JudgeReadBack(request, read, language);
      waiting(false);
    }
  }
  if (settings != nullptr) *settings = std::move(read);
  return readBack;
}

std::vector<Text> SettingsLines(const ConnectionSettings& settings, Language language) {
  const LineTexts& t = In(language);
  if (!settings.stored || !settings.live) return {t.unreadable};
  return {AddressLine(*settings.stored, *settings.live, t), DnsLine(*settings.stored, t)};
}

std::vector<Text> StoredLines(const StoredSettings& stored, Language language) {
  const LineTexts& t = In(language);
  return {StoredAddress(stored, t), DnsLine(stored, t)};
}

}  // namespace ipmod

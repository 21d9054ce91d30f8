#include "wayback/restore.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace ipmod {

const RestoreTexts& RestoreTextsIn(Language language) {
  static const RestoreTexts kTexts[] = {
      {"设置未生效。", "已恢复修改前的设置。", "恢复失败：", "（DNS已恢复）", "（DNS未恢复）",
       "该连接的设置无法由命令恢复。"},
      {"The setting has not taken effect.", "The settings from before the change are restored.",
       "Restore failed: ", " (DNS restored)", " (DNS not restored)",
       "The connection's settings cannot be put back by commands."},
  };
  return kTexts[static_cast<int>(language)];
}

namespace {

// The metric stored for gateway `i`, or 1 where none is stored.
Text StoredMetric(const StoredSettings& settings, std::size_t i) {
  return i < settings.gatewayMetrics.size() ? settings.gatewayMetrics[i] : Text("1");
}

// The stored metric as a command line may carry it; nothing when it is no number.
std::optional<Text> Metric(const StoredSettings& snapshot, std::size_t i) {
  Text metric = StoredMetric(snapshot, i);
  if (!IsMetric(metric)) return std::nullopt;
  return metric;
}

bool SameMetrics(const StoredSettings& a, const StoredSettings& b) {
  for (std::size_t i = 0; i < a.gateways.size(); ++i) {
    if (StoredMetric(a, i) != StoredMetric(b, i)) return false;
  }
  return true;
}

// netsh interface ip <verb> name="NAME" <rest>
Text Netsh(std::string_view verb, const Text& name, std::string_view rest) {
  return "netsh interface ip " + Text(verb) + " name=\"" + name + "\" " + Text(rest);
}

bool AddAddressSteps(const StoredSettings& snapshot, const Text& name,
                     std::vector<RestoreStep>& steps) {
  if (snapshot.dhcp) {
    steps.push_back({Netsh("set address", name, "source=dhcp"), false});
    return true;
  }
  const auto plainAddresses = PlainAddresses(snapshot.addresses);
  const auto plainMasks = PlainAddresses(snapshot.masks, snapshot.addresses.size());
  const auto plainGateways = PlainAddresses(snapshot.gateways);
  if (snapshot.addresses.empty() || snapshot.masks.size() < snapshot.addresses.size() ||
      !plainAddresses || !plainMasks || !plainGateways) {
    return false;
  }
  const std::vector<Text>& addresses = *plainAddresses;
  const std::vector<Text>& masks = *plainMasks;
  const std::vector<Text>& gateways = *plainGateways;
  const Text first = addresses[0] + " " + masks[0] + " ";
  const std::optional<Text> firstMetric = Metric(snapshot, 0);
  if (!gateways.empty() && !firstMetric) return false;
  steps.push_back({Netsh("set address", name,
                         "static " + first +
                             (gateways.empty() ? Text("none") : gateways[0] + " " + *firstMetric)),
                   false});
  for (std::size_t i = 1; i < addresses.size(); ++i) {
    steps.push_back({Netsh("add address", name, addresses[i] + " " + masks[i]), false});
  }
  for (std::size_t i = 1; i < gateways.size(); ++i) {
    const std::optional<Text> metric = Metric(snapshot, i);
    if (!metric) return false;
    steps.push_back(
        {Netsh("add address", name, "gateway=" + gateways[i] + " gwmetric=" + *metric), false});
  }
  return true;
}

bool AddDnsSteps(const StoredSettings& snapshot, const Text& name,
                 std::vector<RestoreStep>& steps) {
  const auto plainServers = PlainAddresses(snapshot.nameServers);
  if (!plainServers) return false;
  const std::vector<Text>& servers = *plainServers;
  if (servers.empty()) {
    steps.push_back({Netsh("set dns", name, "source=dhcp"), true});
    return true;
  }
  steps.push_back({Netsh("set dns", name, "static " + servers[0]), true});
  for (std::size_t i = 1; i < servers.size(); ++i) {
    steps.push_back(
        {Netsh("add dns", name, servers[i] + " index=" + ToText(static_cast<int32_t>(i + 1))),
         true});
  }
  return true;
}

}  // namespace

Changes ChangesSince(const StoredSettings& snapshot, const StoredSettings& now) {
  Changes changes;
  if (snapshot.dhcp != now.dhcp) {
    changes.address = true;
  } else if (!snapshot.dhcp) {
    changes.address = !SameValues(snapshot.addresses, now.addresses) ||
                      !SameValues(snapshot.masks, now.masks) ||
                      !SameValues(snapshot.gateways, now.gateways) || !SameMetrics(snapshot, now);
  }
  changes.dns = !SameValues(snapshot.nameServers, now.nameServers);
  return changes;
}

std::optional<std::vector<RestoreStep>> RestoreSteps(const StoredSettings& snapshot,
                                                     Changes changes, const Text& name) {
  std::vector<RestoreStep> steps;
  if (changes.address && !AddAddressSteps(snapshot, name, steps)) return std::nullopt;
  if (changes.dns && !AddDnsSteps(snapshot, name, steps)) return std::nullopt;
  return steps;
}

bool CanPutBack(const StoredSettings& snapshot, const Text& name) {
  return IsSafeConnectionName(name) && RestoreSteps(snapshot, {true, true}, name).has_value();
}

RestoreOutcome PutBack(const WayBack& system, const StoredSettings& snapshot, bool snapshotInEffect,
                       const Text& adapterName, const std::vector<RestoreStep>& steps,
                       WaitSigns waiting, Language language) {
  const RestoreTexts& t = RestoreTextsIn(language);
  RestoreOutcome outcome;
  std::optional<CapturedRun> failed;  // the first step that failed
  bool addressFailed = false;
  bool dnsFailed = false;
  bool dnsSteps = false;
  for (const RestoreStep& step : steps) {
    bool& partFailed = step.dns ? dnsFailed : addressFailed;
    dnsSteps = dnsSteps || step.dns;
    if (partFailed) continue;
    CapturedRun run = system.commands.RunCaptured(step.command);
    outcome.commands.push_back(step.command);
    const bool warned = step.dns && UnreachableDnsWarning(run.OutputInProgramCodePage());
    if (!warned && !JudgeRun(run, nullptr, language)) {
      partFailed = true;
      if (!failed) failed = std::move(run);
    }
  }
  ConnectionSettings now;
  ReadBack address;
  if (snapshotInEffect) {
    address = ReadBackSettled(system.adapters, system.registry, system.clock,
                              RestoredAddress(snapshot), adapterName, waiting, &now, language);
  } else {
    now = ReadConnectionSettings(system.adapters, system.registry, adapterName);
  }
  const bool readable = now.stored && now.live;
  outcome.restored = readable ? (address.inEffect || !snapshotInEffect) &&
                                    !ChangesSince(snapshot, *now.stored).Any()
                              : !failed;
  if (!outcome.restored) {
    outcome.failure = t.notInEffect;
    if (failed) {
      ConsoleText printed = PrintedText(*failed);
      if (!printed.empty()) {
        outcome.failure = std::move(printed);
      } else if (!failed->started) {
        JudgeRun(*failed, &outcome.failure, language);  // the interpreter's own sentence
      }
    }
    if (addressFailed && dnsSteps) {
      const bool dnsBack = readable ? !ChangesSince(snapshot, *now.stored).dns : !dnsFailed;
      outcome.failure.Add(Text(dnsBack ? t.dnsRestored : t.dnsNotRestored));
    }
  }
  outcome.lines = SettingsLines(now, language);
  return outcome;
}

std::optional<Text> GuardRestore(const WayBack& system, const GuardOrder& order) {
  const Language language = order.language;
  const RestoreTexts& t = RestoreTextsIn(language);
  const ConnectionSettings now =
      ReadConnectionSettings(system.adapters, system.registry, order.adapterName);
  if (now.stored && !ChangesSince(order.snapshot, *now.stored).Any()) return std::nullopt;
  Text account = order.connectionName + "\r\n";
  // Why nothing can be run, when so.
  Text why;
  std::optional<std::vector<RestoreStep>> steps;
  if (!now.stored) {
    why = SettingsLines(now, language).front();
  } else if (!IsSafeConnectionName(order.connectionName)) {
    why = UnsafeNameRefusal(language);
  } else if (!(steps = RestoreSteps(order.snapshot, ChangesSince(order.snapshot, *now.stored),
                                    order.connectionName))) {
    why = t.unexpressible;
  }
  if (!steps) return account + t.failed + why + "\r\n";
  const RestoreOutcome outcome = PutBack(system, order.snapshot, order.snapshotInEffect,
                                         order.adapterName, *steps, WaitSigns(), language);
  for (const Text& command : outcome.commands) account += command + "\r\n";
  account += outcome.restored ? Text(t.restored) : t.failed + outcome.failure.Bytes();
  for (const Text& line : outcome.lines) account += "\r\n" + line;
  return account + "\r\n";
}

Request RestoredAddress(const StoredSettings& snapshot) {
  if (snapshot.dhcp) return {Request::kDhcpAddress};
  const auto first = [](const std::vector<Text>& texts) {
    return texts.empty() ? std::string_view() : std::string_view(texts.front());
  };
  return {Request::kStaticAddress, first(snapshot.addresses), first(snapshot.masks),
          first(snapshot.gateways)};
}

}  // namespace ipmod

// Recording fakes of the dialogue's services, for its unit tests and its fuzz target. They
// never assert; what the dialogue should not have done goes to `misuse`.
#pragma once

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "adapters/adapters.h"
#include "adapters/connection_settings.h"
#include "wayback/history.h"
#include "wayback/remote.h"
#include "netconfig/netconfig.h"
#include "runtime/console.h"
#include "runtime/registry.h"

namespace ipmod {

struct Write {
  std::optional<int32_t> column;
  std::optional<int32_t> row;
  bool restoreCursor;
  int32_t foreground;
  int32_t background;
  Text text;
  Text systemText;  // the pieces in the system's code page, joined
  ConsoleText pieces;
};

// Plays the operator: answers reads from a script, then reports the end of input.
class RecordingConsole : public Console {
 public:
  explicit RecordingConsole(std::vector<Text> lines) : lines_(lines.begin(), lines.end()) {}

  bool WriteText(std::optional<int32_t> column, std::optional<int32_t> row, bool restoreCursor,
                 int32_t foreground, int32_t background, const ConsoleText& text) override {
    Text systemText;
    for (const ConsoleText::Piece& piece : text.pieces()) {
      if (piece.codePage == kSystemCodePage) systemText += piece.bytes;
    }
    writes.push_back(
        {column, row, restoreCursor, foreground, background, text.Bytes(), systemText, text});
    events.push_back("write " + text.Bytes());
    return true;
  }

  std::optional<Text> ReadLine(std::optional<bool> echo) override {
    if (echo.has_value()) misuse.push_back("ReadLine with an echo setting");
    ++reads;
    if (lines_.empty()) {
      // A dialogue that keeps asking after the end of input would never end.
      if (++readsAtEnd > 10) throw std::runtime_error("reading on after the end of input");
      events.push_back("read at end");
      return std::nullopt;
    }
    Text line = lines_.front();
    lines_.pop_front();
    events.push_back("read " + line);
    return line;
  }

  // A script line of this text is no line: the operator says nothing for as long as is waited.
  static constexpr const char* kSilence = "<silence>";

  bool WaitForInput(uint32_t milliseconds) override {
    events.push_back("wait " + std::to_string(milliseconds));
    if (lines_.empty() || lines_.front() != kSilence) return true;
    lines_.pop_front();
    return false;
  }

  ConsoleFacts ReadConsoleFacts() override { return facts; }

  // Everything written, joined.
  Text Screen() const {
    Text all;
    for (const Write& w : writes) all += w.text;
    return all;
  }

  // The last write before the read-back line that ends a step: its message.
  const Write& Message() const {
    for (std::size_t i = writes.size(); i-- > 1;) {
      if (writes[i].text.rfind("\r\n", 0) == 0 && writes[i].foreground != kYellow) {
        return writes[i - 1];
      }
    }
    return writes.back();
  }

  int Count(const Text& text) const {
    int n = 0;
    for (const Write& w : writes) n += w.text == text;
    return n;
  }

  std::vector<Write> writes;
  std::vector<std::string> events;
  std::vector<std::string> misuse;  // calls the dialogue should never make
  int reads = 0;
  int readsAtEnd = 0;
  ConsoleFacts facts{true, 936, u"", false};  // a Chinese console

 private:
  std::deque<Text> lines_;
};

template <std::size_t N>
void Fill(std::array<unsigned char, N>& field, const char* text) {
  std::memcpy(field.data(), text, std::min(N, std::strlen(text)));
}

struct FakeAdapter {
  const char* guid;
  const char* name;  // nullptr: no name in the registry
  const char* ip;
};

// Time that passes only when the dialogue waits.
class FakeClock : public Clock {
 public:
  uint32_t Milliseconds() override { return now; }
  void Wait(int32_t milliseconds) override {
    waits.push_back(milliseconds);
    now += static_cast<uint32_t>(milliseconds);
  }
  uint32_t now = 0xFFFFF000u;  // wraps around during a wait
  std::vector<int32_t> waits;
};

// The machine's adapters as the system keeps them: the live state the adapter query reports,
// the connection names and the stored settings in the registry. A change made to it is seen by
// every later read; a live change may come only once the clock has reached a moment.
class FakeAdapters : public AdapterSource, public RegistryReader {
 public:
  explicit FakeAdapters(std::vector<FakeAdapter> adapters) {
    uint32_t index = 1;
    for (const FakeAdapter& a : adapters) {
      AdapterNode node;
      Fill(node.AdapterName, a.guid);
      Fill(node.IpAddress, a.ip);
      node.Index = index++;
      nodes_.push_back(node);
      if (a.name) names_[ConnectionNamePath(a.guid)] = a.name;
    }
  }

  std::optional<std::vector<AdapterNode>> ReadAdapters() override {
    if (pending_ && clock != nullptr && static_cast<int32_t>(clock->now - pendingAt_) >= 0) {
      SetLive(pending_->guid, pending_->address, pending_->mask, pending_->gateway);
      pending_.reset();
    }
    return nodes_;
  }
  std::optional<std::vector<AddressBytes>> ReadDnsServers(uint32_t) override {
    return std::nullopt;
  }
  std::optional<bool> ReadLinkUp(uint32_t index) override {
    for (const AdapterNode& node : nodes_) {
      if (node.Index == index) return down_.count(ToText(node.AdapterName)) == 0;
    }
    return std::nullopt;
  }
  Text ReadRegistryText(int32_t, const Text& path, std::optional<Text>) override {
    const auto found = names_.find(path);
    return found == names_.end() ? Text() : found->second;
  }
  std::optional<std::vector<RegistryValue>> ReadRegistryValues(
      int32_t root, const Text& keyPath, std::initializer_list<const char*> names) override {
    const auto key = keys_.find(keyPath);
    if (root != kLocalMachine || key == keys_.end()) return std::nullopt;
    std::vector<RegistryValue> values;
    for (const char* name : names) {
      const auto value = key->second.find(name);
      values.push_back(value == key->second.end() ? RegistryValue() : value->second);
    }
    return values;
  }

  // Whether the system keeps settings for the adapter: only then can a change be stored.
  bool HasSettings(const Text& guid) const { return keys_.count(InterfaceSettingsKey(guid)) > 0; }

  // The stored settings as the system writes them; an empty gateway is none. A lease is not
  // stored here: the system writes it when one arrives, never at the switch to DHCP.
  void StoreStatic(const Text& guid, const Text& ip, const Text& mask, const Text& gateway) {
    Values& key = keys_[InterfaceSettingsKey(guid)];
    key["EnableDHCP"] = {kRegDword, Text("\0\0\0\0", 4)};
    key["IPAddress"] = MultiString({ip});
    key["SubnetMask"] = MultiString({mask});
    key["DefaultGateway"] =
        MultiString(gateway.empty() ? std::vector<Text>() : std::vector<Text>{gateway});
  }
  // One more stored address after the others.
  void StoreAnother(const Text& guid, const Text& ip, const Text& mask) {
    Append(guid, "IPAddress", ip);
    Append(guid, "SubnetMask", mask);
  }
  void StoreDhcp(const Text& guid) {
    Values& key = keys_[InterfaceSettingsKey(guid)];
    key["EnableDHCP"] = {kRegDword, Text("\1\0\0\0", 4)};
    key["IPAddress"] = MultiString({"0.0.0.0"});
    key["SubnetMask"] = MultiString({"0.0.0.0"});
    key["DefaultGateway"] = MultiString({});
  }
  void StoreDns(const Text& guid, const Text& servers) {
    keys_[InterfaceSettingsKey(guid)]["NameServer"] = {kRegSz, servers + Text(1, '\0')};
  }
  // One more gateway after the others, with its metric.
  void StoreAnotherGateway(const Text& guid, const Text& gateway, const Text& metric) {
    Append(guid, "DefaultGateway", gateway);
    Append(guid, "DefaultGatewayMetric", metric);
  }
  // A DNS server put in at a 1-based place of the list.
  void InsertDns(const Text& guid, const Text& server, std::size_t place) {
    Values& key = keys_[InterfaceSettingsKey(guid)];
    const std::vector<Text> stored = RegistryStrings(key["NameServer"]);
    Text servers = stored.empty() ? Text() : stored.front();
    std::size_t at = 0;
    for (std::size_t n = 1; n < place && at != Text::npos; ++n) {
      at = servers.find(',', at);
      if (at != Text::npos) ++at;
    }
    if (at == Text::npos || servers.empty()) {
      servers += (servers.empty() ? "" : ",") + server;
    } else {
      servers.insert(at, server + ",");
    }
    StoreDns(guid, servers);
  }
  // The live state, at once or once the clock has gone on by `lagMs`.
  void SetLive(const Text& guid, const Text& ip, const Text& mask, const Text& gateway,
               uint32_t lagMs = 0) {
    if (lagMs > 0 && clock != nullptr) {
      pending_ = Live{guid, ip, mask, gateway};
      pendingAt_ = clock->now + lagMs;
      return;
    }
    for (AdapterNode& node : nodes_) {
      if (ToText(node.AdapterName) != guid) continue;
      node.IpAddress = {};
      node.IpMask = {};
      node.Gateway = {};
      node.LaterAddresses.clear();
      Fill(node.IpAddress, ip.c_str());
      Fill(node.IpMask, mask.c_str());
      Fill(node.Gateway, gateway.c_str());
    }
  }
  // One more live address after the others.
  void AddLive(const Text& guid, const Text& ip) {
    for (AdapterNode& node : nodes_) {
      if (ToText(node.AdapterName) != guid) continue;
      node.LaterAddresses.emplace_back();
      Fill(node.LaterAddresses.back(), ip.c_str());
    }
  }
  // A link that is down (a cable out) keeps what is stored but uses none of it: no address.
  void SetLinkUp(const Text& guid, bool up) {
    if (up) {
      down_.erase(guid);
    } else {
      down_.insert(guid);
      SetLive(guid, "0.0.0.0", "0.0.0.0", "");
    }
  }
  bool LinkUp(const Text& guid) const { return down_.count(guid) == 0; }
  void Remove(const Text& guid) {
    nodes_.erase(
        std::remove_if(nodes_.begin(), nodes_.end(),
                       [&](const AdapterNode& n) { return ToText(n.AdapterName) == guid; }),
        nodes_.end());
  }
  // The adapter whose connection has this name; empty when none has.
  Text GuidOf(const Text& name) const {
    for (const AdapterNode& node : nodes_) {
      const auto found = names_.find(ConnectionNamePath(ToText(node.AdapterName)));
      if (found != names_.end() && found->second == name) return ToText(node.AdapterName);
    }
    return Text();
  }

  FakeClock* clock = nullptr;

 private:
  struct Live {
    Text guid, address, mask, gateway;
  };
  // One more string at the end of a stored list.
  void Append(const Text& guid, const char* name, const Text& value) {
    RegistryValue& stored = keys_[InterfaceSettingsKey(guid)][name];
    std::vector<Text> list = RegistryStrings(stored);
    list.push_back(value);
    stored = MultiString(list);
  }
  static RegistryValue MultiString(const std::vector<Text>& strings) {
    Text data;
    for (const Text& s : strings) data += s + Text(1, '\0');
    return {kRegMultiSz, data + Text(1, '\0')};
  }

  std::vector<AdapterNode> nodes_;
  std::map<Text, Text> names_;
  using Values = std::map<Text, RegistryValue>;
  std::map<Text, Values> keys_;
  std::optional<Live> pending_;
  uint32_t pendingAt_ = 0;
  std::set<Text> down_;
};

// Records every command and answers with a scripted run. With a network, a command it is given
// changes it as netsh would: everything, only the stored settings, or (a success claimed)
// nothing.
class FakeCommands : public CommandRunner {
 public:
  enum Effect { kNothing, kStoredOnly, kEverything };

  CapturedRun RunCaptured(const Text& command) override {
    captured.push_back(command);
    if (console) console->events.push_back("captured " + command);
    if (captured.size() >= refuseFrom && captured.size() <= refuseTo) return refusal;
    Apply(command);
    return reply;
  }
  bool RunProgram(const Text& commandLine, bool wait, std::optional<int32_t> showMode,
                  std::optional<uint32_t>* exitCode) override {
    started.push_back(commandLine);
    if (!wait) misuse.push_back("RunProgram without waiting: " + commandLine);
    if (showMode != 2) misuse.push_back("RunProgram not shown normally: " + commandLine);
    if (console) console->events.push_back("started " + commandLine);
    if (exitCode != nullptr) *exitCode = programExitCode;
    if (programStarts) Apply(commandLine);
    return programStarts;
  }

  CapturedRun reply{"", true, 0};
  // From this captured command on (1-based) to `refuseTo`, nothing changes; the answer: `refusal`.
  std::size_t refuseFrom = SIZE_MAX;
  std::size_t refuseTo = SIZE_MAX;
  CapturedRun refusal{"拒绝访问。\r\n", true, 1};
  bool programStarts = true;
  std::optional<uint32_t> programExitCode = 0;
  std::vector<Text> captured;
  std::vector<Text> started;
  std::vector<std::string> misuse;  // calls the dialogue should never make
  RecordingConsole* console = nullptr;
  FakeAdapters* network = nullptr;
  Effect effect = kEverything;
  uint32_t liveLagMs = 0;      // how long the live state takes to follow
  Text lease = "192.0.2.200";  // what a DHCP switch gets; empty: no DHCP server answers

 private:
  // The netsh commands of the dialogue and of a restore, by their words: the connection's name
  // stands between the first two quotes, the values follow "static".
  void Apply(const Text& command) {
    if (network == nullptr || effect == kNothing) return;
    const std::size_t open = command.find('"');
    const std::size_t close = command.find('"', open + 1);
    if (close == Text::npos) return;
    const Text guid = network->GuidOf(command.substr(open + 1, close - open - 1));
    if (!network->HasSettings(guid)) return;
    std::vector<Text> values;
    const std::size_t at = command.find(" static ", close);
    for (std::size_t begin = at == Text::npos ? command.size() : at + 8; begin < command.size();) {
      std::size_t end = command.find(' ', begin);
      if (end == Text::npos) end = command.size();
      values.push_back(command.substr(begin, end - begin));
      begin = end + 1;
    }
    if (command.find(" add address ") != Text::npos) {
      const std::size_t gateway = command.find("gateway=", close);
      if (gateway != Text::npos) {
        const std::size_t metric = command.find(" gwmetric=", gateway);
        network->StoreAnotherGateway(guid, command.substr(gateway + 8, metric - gateway - 8),
                                     command.substr(metric + 10));
      } else {
        const std::size_t at = close + 2;
        const std::size_t blank = command.find(' ', at);
        network->StoreAnother(guid, command.substr(at, blank - at), command.substr(blank + 1));
        if (effect == kEverything) network->AddLive(guid, command.substr(at, blank - at));
      }
      return;
    }
    if (command.find(" add dns ") != Text::npos) {
      const std::size_t at = close + 2;
      const std::size_t index = command.find(" index=", at);
      network->InsertDns(guid, command.substr(at, index - at),
                         std::stoul(command.substr(index + 7)));
      return;
    }
    const bool address = command.find(" set address ") != Text::npos;
    // A link that is down takes the change once it is up again.
    const bool live = effect == kEverything && network->LinkUp(guid);
    if (address && values.size() >= 3) {
      const Text gateway = values[2] == "none" ? Text() : values[2];
      network->StoreStatic(guid, values[0], values[1], gateway);
      if (live) network->SetLive(guid, values[0], values[1], gateway, liveLagMs);
    } else if (address) {
      network->StoreDhcp(guid);
      // The static address goes at once; the lease, if any, comes later.
      if (live) network->SetLive(guid, "0.0.0.0", "0.0.0.0", "");
      if (live && !lease.empty()) {
        network->SetLive(guid, lease, "255.255.255.0", "192.0.2.1", liveLagMs);
      }
    } else {
      network->StoreDns(guid, values.empty() ? Text() : values[0]);
    }
  }
};

// The session the dialogue runs in, as given.
class FakeSession : public SessionSource {
 public:
  SessionFacts ReadSessionFacts() override { return facts; }
  SessionFacts facts;
};

// Records what the dialogue tells the guard (in `calls`, and among the console's events where it
// is given one); `fired` plays a guard whose deadline has passed.
class FakeGuard : public RemoteGuard {
 public:
  bool Start(const GuardOrder& order) override {
    calls.push_back("start " + std::to_string(order.seconds));
    if (startable) started = order;
    return startable;
  }
  std::optional<Text> AccountFile() override { return account; }
  void Postpone() override { calls.push_back("postpone"); }
  void TakeOver() override { Tell("take over"); }
  bool End() override { return Tell("end"), !fired; }
  bool startable = true;
  bool fired = false;
  std::optional<Text> account = Text("C:\\ipmod\\ipmod-restore.log");
  std::optional<GuardOrder> started;
  std::vector<std::string> calls;
  RecordingConsole* console = nullptr;

 private:
  void Tell(const std::string& call) {
    calls.push_back(call);
    if (console) console->events.push_back("guard " + call);
  }
};

// The history file as a text: a record added is merged in and seen by the next load.
class FakeHistory : public HistoryStore {
 public:
  Text Load() override { return file; }
  bool Add(HistoryRecord record, ConsoleText* why) override {
    if (!writable) {
      *why = ConsoleText().AddSystemText("拒绝访问。");
      return false;
    }
    record.time = time;
    file = MergeHistory(file, record);
    return true;
  }
  Text file;
  Text time = "2026-12-09 14:03";
  bool writable = true;
};

}  // namespace ipmod

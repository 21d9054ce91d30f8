// What a change asked of a connection, held against the settings read back after it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "adapters/connection_settings.h"
#include "ipv4/ipv4.h"
#include "netconfig/netconfig.h"
#include "runtime/text.h"

namespace ipmod {

// One change of the dialogue, with the values as the operator typed them.
struct Request {
  enum Kind { kDhcpAddress, kStaticAddress, kAutomaticDns, kStaticDns };
  Kind kind;
  std::string_view address = {};  // static address: address, mask and gateway
  std::string_view mask = {};
  std::string_view gateway = {};  // blanks alone: none
  std::string_view server = {};   // static DNS server
};

struct ReadBack {
  bool readable = false;  // the connection's settings could be read
  bool inEffect = false;  // they hold the state asked for, and what is live agrees
  bool settling = false;  // the state asked for is stored but the live state has not followed
  Text line;              // what to show of them, without line breaks
};

// Compares as IPv4 values:
// - DHCP address: DHCP on;
// - static address: DHCP off, and the first stored address, its mask and the first stored
//   gateway are the typed ones (a blank gateway: none stored), as netsh leaves them;
// - automatic DNS: no static DNS server stored;
// - static DNS: the server is the first static one stored.
// An address is in effect when, in addition, the typed address is among the live ones; DHCP
// when a live address is a lease (neither none nor automatic private, 169.254.0.0/16). Where the
// link is down nothing is live yet: what is stored is judged alone, without waiting, and the
// line says so. DNS servers are judged by what is stored.
// The line is in `language`.
ReadBack JudgeReadBack(const Request& request, const ConnectionSettings& settings,
                       Language language = Language::kChinese);

// What is told while the live state is waited for: `true` before the first wait, `false` after
// each read again. Refers to a callable that outlives it (a lambda of the caller's); the empty
// one tells nothing. Lighter than std::function, which the shipped program does without.
class WaitSigns {
 public:
  WaitSigns() = default;
  template <typename F>
  WaitSigns(F& signs)  // NOLINT: made from the caller's lambda where one is passed
      : call_([](void* f, bool first) { (*static_cast<F*>(f))(first); }), signs_(&signs) {}
  void operator()(bool first) const {
    if (call_ != nullptr) call_(signs_, first);
  }

 private:
  void (*call_)(void*, bool) = nullptr;
  void* signs_ = nullptr;
};

// Reads the adapter's settings and judges them. While the live state has not followed what is
// stored, they are read again every 200 ms, for at most 10 s: `waiting` is told `true` before
// the first wait and `false` after each read again. `settings` (when given) gets the last read.
ReadBack ReadBackSettled(AdapterSource& adapters, RegistryReader& registry, Clock& clock,
                         const Request& request, const Text& adapterName, WaitSigns waiting,
                         ConnectionSettings* settings = nullptr,
                         Language language = Language::kChinese);

// The connection's settings as the read-back shows them: the address line and the DNS line, or
// the line that says they cannot be read, alone.
std::vector<Text> SettingsLines(const ConnectionSettings& settings,
                                Language language = Language::kChinese);

// Settings as they were stored, with the same words: the address line (without what was live)
// and the DNS line.
std::vector<Text> StoredLines(const StoredSettings& stored, Language language = Language::kChinese);

}  // namespace ipmod

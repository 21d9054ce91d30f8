// The environment the command interpreter gets: this program's own, made so that the
// interpreter's search for netsh and cmd can only find the system directory's programs.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "netconfig/netconfig.h"

namespace ipmod {

namespace {

// An ASCII text as a string of either kind.
template <typename String>
String Ascii(const char* text) {
  return String(text, text + std::strlen(text));
}

// The name of an entry: up to its first "=" after the first unit (the system's per-drive
// entries such as "=C:=C:\dir" have names that begin with "=").
template <typename String>
String EntryName(const String& entry) {
  const std::size_t equals = entry.find('=', 1);
  return equals == String::npos ? entry : entry.substr(0, equals);
}

// Only ASCII letters have a case here: the system's own variables have ASCII names.
uint32_t Upper(uint32_t unit) { return unit >= 'a' && unit <= 'z' ? unit - ('a' - 'A') : unit; }

// Compared without case as the system does, unit by unit (bytes as unsigned).
template <typename String>
int CompareNames(const String& a, const String& b) {
  using Unit = std::make_unsigned_t<typename String::value_type>;
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    const uint32_t x = Upper(static_cast<Unit>(a[i]));
    const uint32_t y = Upper(static_cast<Unit>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

template <typename String>
String InterpreterEnvironment(const std::vector<String>& entries, const String& systemDirectory) {
  const String kPath = Ascii<String>("PATH");
  const String kNoDefault = Ascii<String>("NoDefaultCurrentDirectoryInExePath");
  std::vector<String> kept;
  bool hasPath = false;
  for (const String& entry : entries) {
    if (entry.empty()) continue;
    const String name = EntryName(entry);
    if (CompareNames(name, kNoDefault) == 0) continue;
    if (CompareNames(name, kPath) == 0) {
      hasPath = true;
      const String rest = entry.size() > name.size() ? entry.substr(name.size() + 1) : String();
      String path = name;
      path += '=';
      path += systemDirectory;
      if (!rest.empty()) {
        path += ';';
        path += rest;
      }
      kept.push_back(path);
    } else {
      kept.push_back(entry);
    }
  }
  if (!hasPath) {
    auto at = kept.begin();
    while (at != kept.end() && ((*at)[0] == '=' || CompareNames(EntryName(*at), kPath) < 0)) ++at;
    kept.insert(at, Ascii<String>("Path=") + systemDirectory);
  }
  String block;
  for (const String& entry : kept) {
    block += entry;
    block += typename String::value_type();
  }
  block += typename String::value_type();
  return block;
}

template std::string InterpreterEnvironment(const std::vector<std::string>&, const std::string&);
template std::u16string InterpreterEnvironment(const std::vector<std::u16string>&,
                                               const std::u16string&);

}  // namespace ipmod

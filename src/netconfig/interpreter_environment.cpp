// The environment the command interpreter gets: this program's own, made so that the
// interpreter's search for netsh and cmd can only find the system directory's programs.
#include <cctype>
#include <cstddef>
#include <string>
#include <vector>

#include "netconfig/netconfig.h"

namespace ipmod {

namespace {

// The name of an entry: up to its first "=" after the first byte (the system's per-drive
// entries such as "=C:=C:\dir" have names that begin with "=").
Text EntryName(const Text& entry) {
  const std::size_t equals = entry.find('=', 1);
  return equals == Text::npos ? entry : entry.substr(0, equals);
}

// Names are ASCII for the system's own variables; compared without case as the system does.
int CompareNames(const Text& a, const Text& b) {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    const int x = std::toupper(static_cast<unsigned char>(a[i]));
    const int y = std::toupper(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

std::string InterpreterEnvironment(const std::vector<Text>& entries, const Text& systemDirectory) {
  const Text kPath = "PATH";
  std::vector<Text> kept;
  bool hasPath = false;
  for (const Text& entry : entries) {
    if (entry.empty()) continue;
    const Text name = EntryName(entry);
    if (CompareNames(name, "NoDefaultCurrentDirectoryInExePath") == 0) continue;
    if (CompareNames(name, kPath) == 0) {
      hasPath = true;
      const Text rest = entry.size() > name.size() ? entry.substr(name.size() + 1) : Text();
      kept.push_back(name + "=" + systemDirectory + (rest.empty() ? "" : ";" + rest));
    } else {
      kept.push_back(entry);
    }
  }
  if (!hasPath) {
    auto at = kept.begin();
    while (at != kept.end() && ((*at)[0] == '=' || CompareNames(EntryName(*at), kPath) < 0)) ++at;
    kept.insert(at, "Path=" + systemDirectory);
  }
  std::string block;
  for (const Text& entry : kept) {
    block += entry;
    block += '\0';
  }
  block += '\0';
  return block;
}

}  // namespace ipmod

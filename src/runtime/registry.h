// Reading texts from the registry.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "runtime/text.h"

namespace ipmod {

// Root codes: 1 HKEY_CLASSES_ROOT, 2 HKEY_CURRENT_CONFIG, 3 HKEY_CURRENT_USER,
// 4 HKEY_LOCAL_MACHINE, 5 HKEY_USERS; any other code means HKEY_CURRENT_USER.
constexpr int32_t kLocalMachine = 4;

// A registry path is split by SplitAtLastBackslash (runtime/text.h): key before, value name
// after; a path without a backslash is all value name.

// The registry's value types, as the platform numbers them.
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;

// One value as the registry stores it; type 0 (REG_NONE) and no data for one that is not there.
struct RegistryValue {
  uint32_t type = 0;
  std::string data;  // the stored bytes, zero bytes included
};

class RegistryReader {
 public:
  virtual ~RegistryReader() = default;
  // A REG_SZ value as stored, a REG_EXPAND_SZ value expanded; anything else (missing key or
  // value, another type, a failed read) gives the default, or the empty text without one.
  virtual Text ReadRegistryText(int32_t root, const Text& path,
                                std::optional<Text> defaultText) = 0;
  // The values called `names` of the key `keyPath` as stored, one for each name in that order
  // (type 0 for one that is missing or cannot be read). Nothing when the key cannot be opened.
  virtual std::optional<std::vector<RegistryValue>> ReadRegistryValues(
      int32_t root, const Text& keyPath, std::initializer_list<const char*> names) = 0;
};

// The strings of a REG_MULTI_SZ value (a REG_SZ or REG_EXPAND_SZ value is one string), empty
// ones left out; no strings for a value of any other type.
std::vector<Text> RegistryStrings(const RegistryValue& value);

// The number of a REG_DWORD value; nothing for any other type or a value of the wrong size.
std::optional<uint32_t> RegistryNumber(const RegistryValue& value);

}  // namespace ipmod

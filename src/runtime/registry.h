// Reading texts from the registry.
#pragma once

#include <cstdint>
#include <optional>

#include "runtime/text.h"

namespace ipmod {

// Root codes: 1 HKEY_CLASSES_ROOT, 2 HKEY_CURRENT_CONFIG, 3 HKEY_CURRENT_USER,
// 4 HKEY_LOCAL_MACHINE, 5 HKEY_USERS; any other code means HKEY_CURRENT_USER.
constexpr int32_t kLocalMachine = 4;

// A registry path is split by SplitAtLastBackslash (runtime/text.h): key before, value name
// after; a path without a backslash is all value name.

class RegistryReader {
 public:
  virtual ~RegistryReader() = default;
  // A REG_SZ value as stored, a REG_EXPAND_SZ value expanded; anything else (missing key or
  // value, another type, a failed read) gives the default, or the empty text without one.
  virtual Text ReadRegistryText(int32_t root, const Text& path,
                                std::optional<Text> defaultText) = 0;
};

}  // namespace ipmod

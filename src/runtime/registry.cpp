#include "runtime/registry.h"

namespace ipmod {

std::vector<Text> RegistryStrings(const RegistryValue& value) {
  std::vector<Text> strings;
  if (value.type != kRegMultiSz && value.type != kRegSz && value.type != kRegExpandSz) {
    return strings;
  }
  // Each string ends with a zero byte, and the list with one more; a stored value need not
  // end either way.
  std::size_t begin = 0;
  while (begin < value.data.size()) {
    std::size_t end = value.data.find('\0', begin);
    if (end == std::string::npos) end = value.data.size();
    if (end > begin) strings.push_back(value.data.substr(begin, end - begin));
    if (value.type != kRegMultiSz) break;
    begin = end + 1;
  }
  return strings;
}

std::optional<uint32_t> RegistryNumber(const RegistryValue& value) {
  if (value.type != kRegDword || value.data.size() != 4) return std::nullopt;
  uint32_t number = 0;
  for (std::size_t i = 4; i-- > 0;) {
    number = (number << 8) | static_cast<unsigned char>(value.data[i]);
  }
  return number;
}

}  // namespace ipmod

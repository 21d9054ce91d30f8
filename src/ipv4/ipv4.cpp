#include "ipv4/ipv4.h"

#include <algorithm>

namespace ipmod {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

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

Text DottedIpv4(uint32_t address) {
  Text dotted;
  for (int shift = 24; shift >= 0; shift -= 8) {
    if (shift < 24) dotted += '.';
    dotted += ToText(static_cast<int32_t>((address >> shift) & 255));
  }
  return dotted;
}

bool SameAddress(std::string_view a, std::string_view b) {
  const std::optional<uint32_t> x = ParseIpv4(a);
  return x && x == ParseIpv4(b);
}

bool SameValue(const Text& a, const Text& b) {
  const std::optional<uint32_t> x = ParseIpv4(a);
  return x ? x == ParseIpv4(b) : a == b;
}

bool SameValues(const std::vector<Text>& a, const std::vector<Text>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), SameValue);
}

std::optional<std::vector<Text>> PlainAddresses(const std::vector<Text>& texts,
                                                std::size_t count) {
  std::vector<Text> addresses;
  for (std::size_t i = 0; i < texts.size() && i < count; ++i) {
    const std::optional<uint32_t> value = ParseIpv4(texts[i]);
    if (!value) return std::nullopt;
    addresses.push_back(DottedIpv4(*value));
  }
  return addresses;
}

bool IsMetric(std::string_view text) {
  return !text.empty() && text.size() <= 4 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace ipmod

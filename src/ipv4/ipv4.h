// IPv4 values as the system stores them and netsh takes them: dotted addresses and metrics.
// What the read-back, the way back and the history compare, show and put on a command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "runtime/text.h"

namespace ipmod {

// A dotted IPv4 address (four decimal parts of at most 255, blanks around it allowed) as a
// number; nothing for anything else.
std::optional<uint32_t> ParseIpv4(std::string_view text);

// The address in its plainest dotted form: "192.0.2.5", no blanks, no leading zeros.
Text DottedIpv4(uint32_t address);

// Both are addresses, and the same one.
bool SameAddress(std::string_view a, std::string_view b);

// The same address, or, where `a` is none, the same text.
bool SameValue(const Text& a, const Text& b);

// The same values in the same order, as SameValue compares them.
bool SameValues(const std::vector<Text>& a, const std::vector<Text>& b);

// The first `count` of `texts` (all of them by default) in their plainest dotted form, as a
// command line carries them; nothing when one is no address.
std::optional<std::vector<Text>> PlainAddresses(const std::vector<Text>& texts,
                                                std::size_t count = SIZE_MAX);

// A gateway's metric: a whole number of one to four digits, as netsh takes it; nothing else.
bool IsMetric(std::string_view text);

}  // namespace ipmod

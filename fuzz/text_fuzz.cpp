// The text primitives: every answer lies inside the input, and matches start on characters.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "fuzz_check.h"
#include "runtime/text.h"

using namespace ipmod;

namespace {

bool IsLead(char c) { return static_cast<unsigned char>(c) >= 0x80; }

char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool MatchesAt(const Text& text, const Text& search, std::size_t at, bool ignoreCase) {
  if (at + search.size() > text.size()) return false;
  for (std::size_t i = 0; i < search.size(); ++i) {
    const char a = text[at + i], b = search[i];
    if (ignoreCase ? Fold(a) != Fold(b) : a != b) return false;
  }
  return true;
}

// The character starts met when walking from `from`: a lead byte takes its next byte with it.
std::vector<bool> CharacterStarts(const Text& text, std::size_t from) {
  std::vector<bool> starts(text.size() + 1, false);
  for (std::size_t at = from; at < text.size(); at += IsLead(text[at]) ? 2 : 1) starts[at] = true;
  return starts;
}

// A walk from `from` that ends on a lead byte with nothing after it drops that byte.
Text LessLoneLead(const Text& text, std::size_t from) {
  std::size_t at = from;
  while (at + 1 < text.size()) at += IsLead(text[at]) ? 2 : 1;
  return at + 1 == text.size() && IsLead(text[at]) ? text.substr(0, at) : text;
}

void CheckFind(const Text& text, const Text& search, std::optional<int32_t> start, bool ic) {
  const int32_t n = TextLength(text), m = TextLength(search);
  const int32_t from = start ? std::max(*start - 1, 0) : 0;
  const int32_t first = FindText(text, search, start, ic);
  if (m == 0) {
    FUZZ_CHECK(first == ((from == 0 ? n > 0 : from < n) ? 1 : -1));
    return;
  }
  FUZZ_CHECK(first == -1 || (first >= from + 1 && first <= n - m + 1));
  if (first > 0) {
    FUZZ_CHECK(MatchesAt(text, search, first - 1, ic));
    FUZZ_CHECK(CharacterStarts(text, from)[first - 1]);
  }
  // Nothing on a character start before the first match.
  const std::vector<bool> starts = CharacterStarts(text, from);
  const int32_t end = first > 0 ? first - 1 : n;
  for (int32_t at = from; at < end; ++at)
    FUZZ_CHECK(!starts[at] || !MatchesAt(text, search, at, ic));

  const int32_t last = FindLastText(text, search, start, ic);
  FUZZ_CHECK(last == -1 || (last >= 1 && last + m - 1 <= (start ? *start - 1 : n)));
  if (last > 0) {
    FUZZ_CHECK(MatchesAt(text, search, last - 1, ic));
    FUZZ_CHECK(CharacterStarts(text, 0)[last - 1]);
  }
  if (!start) {
    // Both walk the whole text: one finds something exactly when the other does.
    FUZZ_CHECK((first == -1) == (last == -1));
    FUZZ_CHECK(last >= first);
  }
}

void CheckReplace(const Text& text, const Text& search, const Text& replacement,
                  std::optional<int32_t> start, bool caseSensitive) {
  if (text.empty() || search.empty()) {
    FUZZ_CHECK(ReplaceText(text, search, replacement, start, std::nullopt, caseSensitive) == text);
    return;
  }
  const int32_t from = start ? std::max(*start - 1, 0) : 0;
  if (from >= TextLength(text)) return;
  const Text walked = LessLoneLead(text, from);
  // Every occurrence put back as it was leaves the text; a walk that ends on a lone lead byte
  // (where it stands depends on the matches) drops that byte.
  const Text same = ReplaceText(text, search, search, start, std::nullopt, true);
  FUZZ_CHECK(same == text || (IsLead(text.back()) && same == text.substr(0, text.size() - 1)));
  const int32_t first = FindText(text, search, start, !caseSensitive);
  const Text once = ReplaceText(text, search, replacement, start, 1, caseSensitive);
  if (first == -1) {
    FUZZ_CHECK(once == walked);
    FUZZ_CHECK(ReplaceText(text, search, replacement, start, std::nullopt, caseSensitive) ==
               walked);
  } else {
    // One replacement: the bytes before the first match, the replacement, the rest unwalked.
    FUZZ_CHECK(once ==
               text.substr(0, first - 1) + replacement + text.substr(first - 1 + search.size()));
  }
  FUZZ_CHECK(ReplaceText(text, search, replacement, start, 0, caseSensitive) == text);
}

Text NoZeros(Text text) {
  text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const bool hasStart = in.ConsumeBool();
  const int32_t start = in.ConsumeIntegralInRange<int32_t>(-3, 300);
  const bool flag = in.ConsumeBool();
  const Text search = NoZeros(in.ConsumeRandomLengthString(16));
  const Text replacement = NoZeros(in.ConsumeRandomLengthString(16));
  const Text text = NoZeros(in.ConsumeRemainingBytesAsString());
  const std::optional<int32_t> startArg = hasStart ? std::optional<int32_t>(start) : std::nullopt;

  CheckFind(text, search, startArg, flag);
  CheckReplace(text, search, replacement, startArg, flag);

  const Text left = LeftText(text, start);
  FUZZ_CHECK(left ==
             text.substr(0, static_cast<std::size_t>(std::clamp(start, 0, TextLength(text)))));

  const int32_t number = ToInteger(text);
  FUZZ_CHECK(ToInteger(" \t" + text) == number);
  FUZZ_CHECK(ToInteger(ToText(number)) == number);
  // Digits are ASCII digits or full-width ones (A3 B0..B9); without either there is no number.
  if (std::none_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || static_cast<unsigned char>(c) == 0xA3;
      })) {
    FUZZ_CHECK(number == 0);
  }
  return 0;
}

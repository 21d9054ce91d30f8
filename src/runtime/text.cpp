#include "runtime/text.h"

#include <algorithm>

namespace ipmod {

namespace {

constexpr unsigned char kFirstDoubleByte = 0x80;

unsigned char ByteAt(const Text& text, std::size_t offset) {
  return static_cast<unsigned char>(text[offset]);
}

bool IsLeadByte(unsigned char byte) { return byte >= kFirstDoubleByte; }

bool IsWhiteSpace(char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' ||
         byte == '\r';
}

unsigned char FoldAsciiCase(unsigned char byte) {
  return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

// Whether `search` stands in `text` at `offset`; the caller has checked that it fits.
bool MatchesAt(const Text& text, std::size_t offset, const Text& search, bool ignoreCase) {
  for (std::size_t i = 0; i < search.size(); ++i) {
    unsigned char a = ByteAt(text, offset + i);
    unsigned char b = ByteAt(search, i);
    if (ignoreCase) {
      a = FoldAsciiCase(a);
      b = FoldAsciiCase(b);
    }
    if (a != b) return false;
  }
  return true;
}

// Offset of the character after the one at `offset`: a lead byte takes its second byte along.
std::size_t NextCharacter(const Text& text, std::size_t offset) {
  return offset + (IsLeadByte(ByteAt(text, offset)) ? 2 : 1);
}

// 0-based start offset of a search: start - 1, at least 0; 0 when left out.
std::size_t StartOffset(std::optional<int32_t> start) {
  if (!start || *start <= 1) return 0;
  return static_cast<std::size_t>(*start) - 1;
}

}  // namespace

Text ToText(int32_t value) {
  // Built from the unsigned magnitude so that INT32_MIN needs no special case.
  char digits[12];
  char* end = digits + sizeof(digits);
  char* p = end;
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--p = '-';
  return Text(p, end);
}

Text ToText(const unsigned char* bytes, std::size_t size) {
  if (bytes == nullptr) return Text();
  const unsigned char* end = std::find(bytes, bytes + size, 0);
  return Text(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(end - bytes));
}

Text ToText(const ByteBlock& bytes) { return ToText(bytes.data(), bytes.size()); }

int32_t ToInteger(const Text& text) {
  Text folded;
  folded.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char first = ByteAt(text, i);
    if (!IsLeadByte(first)) {
      folded.push_back(static_cast<char>(first));
      i += 1;
      continue;
    }
    if (i + 1 >= text.size()) break;  // A lead byte without its second byte is dropped.
    const unsigned char second = ByteAt(text, i + 1);
    if (first == 0xA3 && second >= 0xA1 && second <= 0xFE) {
      folded.push_back(static_cast<char>(second - 0x80));
    } else if (first == 0xA1 && second == 0xA1) {
      folded.push_back(' ');
    } else if (first == 0xA1 && second == 0xAB) {
      folded.push_back('~');
    } else if (first == 0xA1 && (second == 0xEE || second == 0xEF)) {
      folded.push_back('*');
    } else {
      folded.push_back(static_cast<char>(first));
      folded.push_back(static_cast<char>(second));
    }
    i += 2;
  }

  std::size_t i = 0;
  while (i < folded.size() && IsWhiteSpace(folded[i])) ++i;
  bool negative = false;
  if (i < folded.size() && (folded[i] == '+' || folded[i] == '-')) {
    negative = folded[i] == '-';
    ++i;
  }
  // Unsigned arithmetic: overflow wraps around in 32 bits instead of being undefined.
  uint32_t value = 0;
  for (; i < folded.size() && folded[i] >= '0' && folded[i] <= '9'; ++i) {
    value = value * 10u + static_cast<uint32_t>(folded[i] - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

Text ToHexText(int32_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  char digits[8];
  char* end = digits + sizeof(digits);
  char* p = end;
  uint32_t bits = static_cast<uint32_t>(value);
  do {
    *--p = kDigits[bits & 0xF];
    bits >>= 4;
  } while (bits != 0);
  return Text(p, end);
}

int32_t TextLength(const Text& text) { return static_cast<int32_t>(text.size()); }

Text LeftText(const Text& text, int32_t count) {
  if (count <= 0) return Text();
  return text.substr(0, std::min(text.size(), static_cast<std::size_t>(count)));
}

int32_t FindText(const Text& text, const Text& search, std::optional<int32_t> start,
                 bool ignoreCase) {
  const std::size_t begin = StartOffset(start);
  if (begin > 0 && begin >= text.size()) return -1;
  if (search.empty()) return begin < text.size() ? 1 : -1;
  for (std::size_t offset = begin; offset < text.size(); offset = NextCharacter(text, offset)) {
    if (text.size() - offset >= search.size() && MatchesAt(text, offset, search, ignoreCase)) {
      return static_cast<int32_t>(offset + 1);
    }
  }
  return -1;
}

int32_t FindLastText(const Text& text, const Text& search, std::optional<int32_t> start,
                     bool ignoreCase) {
  // Only occurrences lying wholly within the first `limit` bytes count.
  std::size_t limit = text.size();
  if (start) {
    if (*start <= 1) return -1;
    limit = std::min(limit, static_cast<std::size_t>(*start) - 1);
  }
  if (search.empty()) return limit > 0 ? 1 : -1;
  int32_t last = -1;
  for (std::size_t offset = 0; offset < limit; offset = NextCharacter(text, offset)) {
    if (limit - offset >= search.size() && MatchesAt(text, offset, search, ignoreCase)) {
      last = static_cast<int32_t>(offset + 1);
    }
  }
  return last;
}

Text ReplaceText(const Text& text, const Text& search, std::optional<Text> replacement,
                 std::optional<int32_t> start, std::optional<int32_t> count, bool caseSensitive) {
  const std::size_t begin = StartOffset(start);
  if (text.empty() || search.empty() || begin >= text.size() || (count && *count == 0)) {
    return text;
  }
  // A negative count never reaches 0 on the way down, so it is as good as unlimited.
  const bool limited = count && *count > 0;
  int32_t remaining = limited ? *count : 0;
  const Text& insert = replacement ? *replacement : Text();

  Text result(text, 0, begin);
  result.reserve(text.size());
  std::size_t offset = begin;
  while (offset < text.size()) {
    if (text.size() - offset >= search.size() && MatchesAt(text, offset, search, !caseSensitive)) {
      result += insert;
      offset += search.size();
      if (limited && --remaining == 0) break;
      continue;
    }
    if (IsLeadByte(ByteAt(text, offset))) {
      // A lead byte at the very end has no character to complete; the walk drops it.
      if (offset + 1 >= text.size()) return result;
      result.append(text, offset, 2);
      offset += 2;
    } else {
      result.push_back(text[offset]);
      offset += 1;
    }
  }
  result.append(text, offset, Text::npos);
  return result;
}

ByteBlock MakeZeroBytes(int32_t count) {
  if (count <= 0) return ByteBlock();
  return ByteBlock(static_cast<std::size_t>(count), 0);
}

Text BytesToText(const ByteBlock& bytes) { return ToText(bytes); }

PathParts SplitAtLastBackslash(const Text& path) {
  const int32_t position = FindLastText(path, "\\", std::nullopt, false);
  if (position < 0) return PathParts{Text(), path};
  const std::size_t at = static_cast<std::size_t>(position) - 1;
  return PathParts{path.substr(0, at), path.substr(at + 1)};
}

}  // namespace ipmod

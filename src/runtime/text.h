// Texts, numbers and byte blocks: the small value operations every routine builds on.
//
// Positions are 1-based byte positions, searches answer -1 when nothing is found and lengths
// count bytes. A byte of 0x80 or above starts a two-byte character; the searches and the
// replacement step over such pairs as one unit, so a match never starts on a second byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ipmod {

// An owned byte string in the system ANSI code page (936 on the target systems), holding no
// zero bytes. The empty text is the "absent" text.
using Text = std::string;

// A counted byte buffer handed to the platform.
using ByteBlock = std::vector<unsigned char>;

// Signed decimal: "-5", "0", "2147483647".
Text ToText(int32_t value);
// The bytes up to the first zero byte, or all of them when there is none.
Text ToText(const unsigned char* bytes, std::size_t size);
template <std::size_t N>
Text ToText(const std::array<unsigned char, N>& bytes) {
  return ToText(bytes.data(), N);
}
Text ToText(const ByteBlock& bytes);

// Folds full-width forms (GBK 0xA3 pairs, ideographic space, "~" and "*") to ASCII, then reads
// an optionally signed decimal number after leading white space. Never fails: no digits give
// 0 and overflow wraps around in 32 bits.
int32_t ToInteger(const Text& text);

// Upper-case hexadecimal without prefix or leading zeros; negative values in eight digits.
Text ToHexText(int32_t value);

int32_t TextLength(const Text& text);

// The first min(count, length) bytes, even when that splits a double-byte character;
// the empty text when count <= 0.
Text LeftText(const Text& text, int32_t count);

// 1-based position of the first occurrence of `search` at or after `start` (left out or
// below 1: the whole text), or -1. ignoreCase folds ASCII letters only.
int32_t FindText(const Text& text, const Text& search, std::optional<int32_t> start,
                 bool ignoreCase);

// 1-based position of the last occurrence; with `start`, only occurrences lying wholly in
// the first start - 1 bytes count.
int32_t FindLastText(const Text& text, const Text& search, std::optional<int32_t> start,
                     bool ignoreCase);

// Replaces occurrences of `search` at or after `start` by `replacement` (left out: nothing),
// at most `count` times (left out or negative: all). Bytes before `start` are kept as they are.
Text ReplaceText(const Text& text, const Text& search, std::optional<Text> replacement,
                 std::optional<int32_t> start, std::optional<int32_t> count, bool caseSensitive);

// Bitwise OR of all arguments.
constexpr int32_t BitOr(int32_t value) { return value; }
template <typename... Rest>
constexpr int32_t BitOr(int32_t first, int32_t second, Rest... rest) {
  return BitOr(first | second, rest...);
}

// `count` zero bytes; the empty block when count <= 0.
ByteBlock MakeZeroBytes(int32_t count);

// The block's bytes as text, up to the first zero byte.
Text BytesToText(const ByteBlock& bytes);

// A path split at its last backslash that is not the second byte of a double-byte character:
// `head` before it, `tail` after it. Without a backslash, head is empty and tail is the path.
struct PathParts {
  Text head;
  Text tail;
};
PathParts SplitAtLastBackslash(const Text& path);

}  // namespace ipmod

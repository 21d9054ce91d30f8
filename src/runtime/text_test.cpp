#include "runtime/text.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <optional>

namespace ipmod {
namespace {

// GBK bytes used below. "盶" is B1 5C: its second byte is a backslash. "确定" is C8 B7 B6 A8.
// 0x81 0x41 is a GBK character whose second byte is an ASCII "A".
const Text kQueDing = "\xC8\xB7\xB6\xA8";
const Text kPenWithBackslash = "\xB1\x5C";
const Text kPairEndingInA = "\x81\x41";

TEST(ToTextTest, IntegersInSignedDecimal) {
  const struct {
    int32_t value;
    const char* expected;
  } cases[] = {
      {0, "0"},
      {7, "7"},
      {-5, "-5"},
      {10, "10"},
      {2147483647, "2147483647"},
      {INT32_MIN, "-2147483648"},
      {-1000, "-1000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToText(c.value), c.expected) << "value " << c.value;
  }
}

TEST(ToTextTest, ByteArraysStopAtTheFirstZeroByte) {
  const std::array<unsigned char, 6> withZero = {'e', 't', 'h', 0, 'x', 'y'};
  const std::array<unsigned char, 3> full = {'a', 'b', 'c'};
  const std::array<unsigned char, 4> leadingZero = {0, 'a', 'b', 0};
  const std::array<unsigned char, 5> gbk = {0xC8, 0xB7, 0xB6, 0xA8, 0};
  EXPECT_EQ(ToText(withZero), "eth");
  EXPECT_EQ(ToText(full), "abc");
  EXPECT_EQ(ToText(leadingZero), "");
  EXPECT_EQ(ToText(gbk), kQueDing);

  const struct {
    ByteBlock block;
    Text expected;
  } blocks[] = {
      {{'o', 'k', 0, 'z'}, "ok"},
      {{'o', 'k'}, "ok"},
      {{0, 'z'}, ""},
      {{0xB1, 0x5C, '\\', 0}, kPenWithBackslash + "\\"},
      {{}, ""},
  };
  for (const auto& c : blocks) {
    EXPECT_EQ(ToText(c.block), c.expected) << "block of " << c.block.size();
    EXPECT_EQ(BytesToText(c.block), c.expected) << "block of " << c.block.size();
  }
}

TEST(ToIntegerTest, ParsesLikeTheOperatorTypesIt) {
  const struct {
    Text text;
    int32_t expected;
  } cases[] = {
      {"  -17x", -17},
      {"+5", 5},
      {"- 5", 0},
      {"12abc", 12},
      {"abc", 0},
      {"\n", 0},
      {"", 0},
      {"3\n", 3},
      {"3 4", 3},
      {"00012", 12},
      {"--5", 0},
      {"+-5", 0},
      {"\t\v\f\r\n 8", 8},
      {"x8", 0},
      {"2147483647", INT32_MAX},
      {"-2147483647", -INT32_MAX},
      // Overflow wraps around in 32 bits.
      {"2147483648", INT32_MIN},
      {"-2147483648", INT32_MIN},
      {"4294967297", 1},
      {"4294967295", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToInteger(c.text), c.expected) << '"' << c.text << '"';
  }
}

TEST(ToIntegerTest, FoldsFullWidthForms) {
  const struct {
    Text text;
    int32_t expected;
  } cases[] = {
      // Digits written as \x3N where they follow an escape.
      {"\xA3\xB4\xA3\xB2", 42},     // full-width 4 2
      {"\xA3\xB0\xA3\xB9", 9},      // full-width 0 9
      {"1\xA3\xB2", 12},            // ASCII and full-width mixed
      {"\xA3\xAD\xA3\xB7", -7},     // full-width minus
      {"\xA3\xAB\x33", 3},          // full-width plus, 3
      {"\xA1\xA1\xA1\xA1\x39", 9},  // ideographic spaces are white space
      {"\xA1\xA1\xA3\xAD\xA3\xB1\xA3\xB6", -16},
      {"\xA3\xA0\x35", 0},  // A3 A0 is no full-width form: kept
      {"\xB1\xED\x35", 0},  // any other pair stays what it is
      {"5\xB1\xED", 5},
      {"\xA3", 0},  // a lone lead byte is dropped
      {"7\xA3\xB2\xA3", 72},
      {"\xA3\xB2\xB1\x33", 2},  // B1 33 is a pair, not a 3
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToInteger(c.text), c.expected) << testing::PrintToString(c.text);
  }
}

TEST(ToHexTextTest, UpperCaseWithoutLeadingZeros) {
  const struct {
    int32_t value;
    const char* expected;
  } cases[] = {
      {0, "0"},
      {10, "A"},
      {255, "FF"},
      {0x0C, "C"},
      {0x1234ABCD, "1234ABCD"},
      {0x7FFFFFFF, "7FFFFFFF"},
      {-1, "FFFFFFFF"},
      {INT32_MIN, "80000000"},
      {-16, "FFFFFFF0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToHexText(c.value), c.expected) << "value " << c.value;
  }
}

TEST(LeftTextTest, CountsBytesNotCharacters) {
  const struct {
    Text text;
    int32_t count;
    Text expected;
  } cases[] = {
      {kQueDing, 3, "\xC8\xB7\xB6"},
      {kQueDing, 4, kQueDing},
      {kQueDing, 1, "\xC8"},
      {"abc", 10, "abc"},
      {"abc", INT32_MAX, "abc"},
      {"abc", 0, ""},
      {"abc", -1, ""},
      {"abc", INT32_MIN, ""},
      {"", 5, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LeftText(c.text, c.count), c.expected)
        << testing::PrintToString(c.text) << " count " << c.count;
  }
  EXPECT_EQ(TextLength(kQueDing), 4);
  EXPECT_EQ(TextLength(""), 0);
}

struct FindCase {
  Text text;
  Text search;
  std::optional<int32_t> start;
  bool ignoreCase;
  int32_t expected;
};

void ExpectFind(const FindCase& c) {
  EXPECT_EQ(FindText(c.text, c.search, c.start, c.ignoreCase), c.expected)
      << "text " << testing::PrintToString(c.text) << " search " << testing::PrintToString(c.search)
      << " start " << (c.start ? std::to_string(*c.start) : "none") << " ignoreCase "
      << c.ignoreCase;
}

TEST(FindTextTest, MatchesOnlyOnCharacterBoundaries) {
  const FindCase cases[] = {
      {kPenWithBackslash, "\\", std::nullopt, false, -1},
      {"a\\", "\\", std::nullopt, false, 2},
      {kPenWithBackslash + "\\", "\\", std::nullopt, false, 3},
      {kPairEndingInA, "A", std::nullopt, false, -1},
      {kPairEndingInA, "a", std::nullopt, true, -1},
      {kPairEndingInA + "A", "A", std::nullopt, false, 3},
      {"xA", "A", std::nullopt, false, 2},
      {kQueDing, "\xB7\xB6", std::nullopt, false, -1},  // spans the two characters
      {kQueDing, "\xB6\xA8", std::nullopt, false, 3},
      {kQueDing, "\xB7", std::nullopt, false, -1},
      {"\xB7", "\xB7", std::nullopt, false, 1},
      {"ok " + kQueDing + "\r\n", kQueDing, std::nullopt, false, 4},
      // A lead byte at the very end is still looked at.
      {"a\xB1", "\xB1", std::nullopt, false, 2},
  };
  for (const auto& c : cases) ExpectFind(c);
}

TEST(FindTextTest, StartPositions) {
  const Text ten = "abcabcabca";
  const FindCase cases[] = {
      {ten, "b", 3, false, 5},  // counted from the first byte of the whole text
      {ten, "b", 2, false, 2},
      {ten, "a", 10, false, 10},
      {ten, "a", 11, false, -1},
      {ten, "a", 12, false, -1},
      {ten, "a", INT32_MAX, false, -1},
      {ten, "b", 0, false, 2},
      {ten, "b", -5, false, 2},
      {ten, "b", 1, false, 2},
      {ten, "b", INT32_MIN, false, 2},
      {ten, "ca", 9, false, 9},
      {ten, "cab", 9, false, -1},  // fewer bytes left than the search has
      // A start inside a pair begins the walk there.
      {kQueDing, "\xB7\xB6", 2, false, 2},
      {kQueDing + "\xB7\xB6", "\xB7\xB6", 3, false, 5},
  };
  for (const auto& c : cases) ExpectFind(c);
}

TEST(FindTextTest, EmptySearchAndEmptyText) {
  const FindCase cases[] = {
      {"abc", "", std::nullopt, false, 1},
      {"abc", "", 3, false, 1},  // the start is not added
      {"abc", "", 4, false, -1},
      {"", "", std::nullopt, false, -1},
      {"", "a", std::nullopt, false, -1},
      {"", "a", 1, false, -1},
      {"ab", "abc", std::nullopt, false, -1},
  };
  for (const auto& c : cases) ExpectFind(c);
}

TEST(FindTextTest, IgnoreCaseFoldsAsciiLettersOnly) {
  const FindCase cases[] = {
      {"ABC", "b", std::nullopt, true, 2},  {"ABC", "b", std::nullopt, false, -1},
      {"abc", "BC", std::nullopt, true, 2}, {"Netsh OK", "ok", std::nullopt, true, 7},
      {"@", "`", std::nullopt, true, -1},  // 0x40 and 0x60 are not letters
      {"[", "{", std::nullopt, true, -1},   {"\xC1\xA1", "\xE1\xA1", std::nullopt, true, -1},
  };
  for (const auto& c : cases) ExpectFind(c);
}

TEST(FindLastTextTest, LastOccurrence) {
  const Text lines = "a\r\nb\r\n";
  const struct {
    Text text;
    Text search;
    std::optional<int32_t> start;
    bool ignoreCase;
    int32_t expected;
  } cases[] = {
      {lines, "\r\n", std::nullopt, false, 5},
      {"abc", "\r\n", std::nullopt, false, -1},
      {"\r\n", "\r\n", std::nullopt, false, 1},
      // With a start, only occurrences wholly within the first start - 1 bytes count.
      {lines, "\r\n", 7, false, 5},
      {lines, "\r\n", 6, false, 2},
      {lines, "\r\n", 4, false, 2},
      {lines, "\r\n", 3, false, -1},
      {lines, "\r\n", 1, false, -1},
      {lines, "\r\n", 0, false, -1},
      {lines, "\r\n", -4, false, -1},
      {lines, "\r\n", 100, false, 5},
      // Double-byte boundaries.
      {"\\" + kPenWithBackslash, "\\", std::nullopt, false, 1},
      {kPenWithBackslash + "\\", "\\", std::nullopt, false, 3},
      {kPenWithBackslash, "\\", std::nullopt, false, -1},
      {kQueDing + kQueDing, "\xA8\xC8", std::nullopt, false, -1},
      {kQueDing + kQueDing, kQueDing, std::nullopt, false, 5},
      // Empty search.
      {"abc", "", std::nullopt, false, 1},
      {"abc", "", 2, false, 1},
      {"abc", "", 1, false, -1},
      {"", "", std::nullopt, false, -1},
      // Case.
      {"aXbx", "X", std::nullopt, true, 4},
      {"aXbx", "X", std::nullopt, false, 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindLastText(c.text, c.search, c.start, c.ignoreCase), c.expected)
        << "text " << testing::PrintToString(c.text) << " search "
        << testing::PrintToString(c.search) << " start "
        << (c.start ? std::to_string(*c.start) : "none");
  }
}

struct ReplaceCase {
  Text text;
  Text search;
  std::optional<Text> replacement;
  std::optional<int32_t> start;
  std::optional<int32_t> count;
  bool caseSensitive;
  Text expected;
};

void ExpectReplace(const ReplaceCase& c) {
  EXPECT_EQ(ReplaceText(c.text, c.search, c.replacement, c.start, c.count, c.caseSensitive),
            c.expected)
      << "text " << testing::PrintToString(c.text) << " search " << testing::PrintToString(c.search)
      << " replacement " << (c.replacement ? testing::PrintToString(*c.replacement) : "none")
      << " start " << (c.start ? std::to_string(*c.start) : "none") << " count "
      << (c.count ? std::to_string(*c.count) : "none");
}

TEST(ReplaceTextTest, StartAndCount) {
  const Text lines = "a\r\nb\r\n";
  const ReplaceCase cases[] = {
      // Count 1 from start p: the first occurrence at or after p only; earlier bytes stay.
      {lines, "\r\n", Text(), 3, 1, true, "a\r\nb"},
      {lines, "\r\n", Text(), 2, 1, true, "ab\r\n"},
      {lines, "\r\n", Text(), 5, 1, true, "a\r\nb"},
      {lines, "\r\n", Text(), 6, 1, true, lines},
      {lines, "\n", Text(), 6, 1, true, "a\r\nb\r"},
      {lines, "\r\n", Text(), 7, 1, true, lines},  // start past the end
      {lines, "\r\n", Text(), INT32_MAX, std::nullopt, true, lines},
      {lines, "\r\n", Text(), 0, 1, true, "ab\r\n"},
      {lines, "\r\n", Text(), -3, 1, true, "ab\r\n"},
      {lines, "\r\n", Text(), INT32_MIN, std::nullopt, true, "ab"},
      {lines, "\r\n", Text(), std::nullopt, 0, true, lines},
      {lines, "\r\n", Text(), std::nullopt, std::nullopt, true, "ab"},
      {lines, "\r\n", Text(), std::nullopt, -1, true, "ab"},
      {lines, "\r\n", Text(), std::nullopt, INT32_MIN, true, "ab"},
      {"x-x-x-x", "x", "y", std::nullopt, 2, true, "y-y-x-x"},
      {"x-x-x-x", "x", "y", 2, 2, true, "x-y-y-x"},
      {"x-x-x-x", "x", "y", std::nullopt, 9, true, "y-y-y-y"},
  };
  for (const auto& c : cases) ExpectReplace(c);
}

TEST(ReplaceTextTest, ReplacementAndEmptyArguments) {
  const ReplaceCase cases[] = {
      {"a-b-c", "-", std::nullopt, std::nullopt, std::nullopt, true, "abc"},
      {"a-b-c", "-", Text(), std::nullopt, std::nullopt, true, "abc"},
      {"a-b-c", "-", " -- ", std::nullopt, std::nullopt, true, "a -- b -- c"},
      {"aaaa", "aa", "a", std::nullopt, std::nullopt, true, "aa"},  // no rescan of output
      {"abc", "", "x", std::nullopt, std::nullopt, true, "abc"},
      {"", "a", "x", std::nullopt, std::nullopt, true, ""},
      {"abc", "abcd", "x", std::nullopt, std::nullopt, true, "abc"},
      {"abc", "abc", "x", std::nullopt, std::nullopt, true, "x"},
  };
  for (const auto& c : cases) ExpectReplace(c);
}

TEST(ReplaceTextTest, CaseSensitivity) {
  const ReplaceCase cases[] = {
      {"aAa", "a", "x", std::nullopt, std::nullopt, false, "xxx"},
      {"aAa", "a", "x", std::nullopt, std::nullopt, true, "xAx"},
      {"aAa", "A", "x", std::nullopt, std::nullopt, false, "xxx"},
      {"[{", "{", "x", std::nullopt, std::nullopt, false, "[x"},
  };
  for (const auto& c : cases) ExpectReplace(c);
}

TEST(ReplaceTextTest, DoubleByteStepping) {
  const ReplaceCase cases[] = {
      {kPenWithBackslash + "\\", "\\", "/", std::nullopt, std::nullopt, true,
       kPenWithBackslash + "/"},
      {kPairEndingInA + "A", "A", "b", std::nullopt, std::nullopt, false, kPairEndingInA + "b"},
      {kQueDing, "\xB7\xB6", "x", std::nullopt, std::nullopt, true, kQueDing},
      {kQueDing + "\r\n", kQueDing, "ok", std::nullopt, std::nullopt, true, "ok\r\n"},
      {kQueDing + kQueDing, "\xB6\xA8", Text(), std::nullopt, 1, true, "\xC8\xB7" + kQueDing},
      // A lead byte that the walk reaches as the last byte of the text is dropped...
      {"ab\xB1", "x", "y", std::nullopt, std::nullopt, true, "ab"},
      {"xb\xB1", "x", "y", std::nullopt, std::nullopt, true, "yb"},
      // ...but one left unwalked after the last counted replacement stays.
      {"xa\xB1", "x", "y", std::nullopt, 1, true, "ya\xB1"},
      {"\xB1", "x", "y", std::nullopt, std::nullopt, true, ""},
      // A search that is that lone byte still matches it.
      {"a\xB1", "\xB1", "z", std::nullopt, std::nullopt, true, "az"},
  };
  for (const auto& c : cases) ExpectReplace(c);
}

TEST(MakeZeroBytesTest, CountsAtOrBelowZeroGiveAnEmptyBlock) {
  EXPECT_TRUE(MakeZeroBytes(0).empty());
  EXPECT_TRUE(MakeZeroBytes(-1).empty());
  EXPECT_TRUE(MakeZeroBytes(INT32_MIN).empty());
  EXPECT_EQ(MakeZeroBytes(1), ByteBlock(1, 0));
  EXPECT_EQ(MakeZeroBytes(640), ByteBlock(640, 0));
}

TEST(SplitAtLastBackslashTest, SplitsOnlyAtRealBackslashes) {
  const struct {
    Text path;
    Text head;
    Text tail;
  } cases[] = {
      {"C:\\tools\\ipmod.exe", "C:\\tools", "ipmod.exe"},
      {"ipmod.exe", "", "ipmod.exe"},
      {"", "", ""},
      {"\\ipmod.exe", "", "ipmod.exe"},
      {"C:\\tools\\", "C:\\tools", ""},
      {"C:\\" + kPenWithBackslash, "C:", kPenWithBackslash},
      {"C:\\" + kPenWithBackslash + "\\a.exe", "C:\\" + kPenWithBackslash, "a.exe"},
      {kPenWithBackslash, "", kPenWithBackslash},
      {"Network\\{4D36E972}\\" + kQueDing + "\\Connection\\Name",
       "Network\\{4D36E972}\\" + kQueDing + "\\Connection", "Name"},
  };
  for (const auto& c : cases) {
    const PathParts parts = SplitAtLastBackslash(c.path);
    EXPECT_EQ(parts.head, c.head) << testing::PrintToString(c.path);
    EXPECT_EQ(parts.tail, c.tail) << testing::PrintToString(c.path);
  }
}

}  // namespace
}  // namespace ipmod

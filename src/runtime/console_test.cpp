#include "runtime/console.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace ipmod {
namespace {

TEST(ConsoleAttributeTest, EachColourCodeHasItsOwnForegroundAndBackground) {
  const struct {
    int32_t code;
    uint16_t foreground;
    uint16_t background;
  } cases[] = {
      {kBlack, 0x00, 0x00},
      {kRed, 0x04, 0x40},
      {kGreen, 0x02, 0x20},
      {kYellow, 0x06, 0x60},
      {kBlue, 0x01, 0x10},
      {kMagenta, 0x05, 0x50},
      {kCyan, 0x03, 0x30},
      {kWhite, 0x07, 0x70},
      {kGrey, 0x08, 0x80},
      {kBrightRed, 0x0C, 0xC0},
      {kBrightGreen, 0x0A, 0xA0},
      {kBrightYellow, 0x0E, 0xE0},
      {kBrightBlue, 0x09, 0x90},
      {kBrightMagenta, 0x0D, 0xD0},
      {kBrightCyan, 0x0B, 0xB0},
      {kBrightWhite, 0x0F, 0xF0},
      // Unknown codes give white.
      {0, 0x07, 0x70},
      {17, 0x07, 0x70},
      {-1, 0x07, 0x70},
      {INT32_MIN, 0x07, 0x70},
      {0xFFFF, 0x07, 0x70},
      {0x7FFFFFFF, 0x07, 0x70},
      // Only the low 16 bits of a code count.
      {0x10002, 0x04, 0x40},
      {0x10004, 0x06, 0x60},
      {static_cast<int32_t>(0xFFFF000A), 0x0C, 0xC0},
      {0x7FFF0010, 0x0F, 0xF0},
      {0x10000, 0x07, 0x70},
  };
  for (const auto& c : cases) {
    // Black contributes no bits, so each half can be read on its own.
    EXPECT_EQ(ConsoleAttribute(c.code, kBlack), c.foreground) << "foreground code " << c.code;
    EXPECT_EQ(ConsoleAttribute(kBlack, c.code), c.background) << "background code " << c.code;
  }
}

TEST(ConsoleAttributeTest, CombinesForegroundAndBackground) {
  const struct {
    int32_t foreground;
    int32_t background;
    uint16_t expected;
  } cases[] = {
      {kYellow, kBlack, 0x06},      {kRed, kBlack, 0x04},
      {kBrightWhite, kBlue, 0x1F},  {kRed, kRed, 0x44},
      {kBlack, kBrightWhite, 0xF0}, {0, 0, 0x77},
      {kGreen, 17, 0x72},           {17, kGrey, 0x87},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ConsoleAttribute(c.foreground, c.background), c.expected)
        << "foreground " << c.foreground << " background " << c.background;
  }
}

TEST(TrimLineEndTest, CutsControlBytesAtTheEndButNeverTheFirstByte) {
  const struct {
    Text line;
    Text expected;
  } cases[] = {
      {"\n", "\n"},  // an empty line
      {"abc\n", "abc"},
      {"abc", "abc"},
      {"ab\t\n", "ab"},
      {"ab \n", "ab "},
      {"a\r\n", "a"},
      {"\r\n", "\r"},
      {"a\r\r\n", "a"},
      {"\n\n\n", "\n"},
      {"\t\r\n", "\t"},
      {"", ""},
      {"a", "a"},
      {"\x01", "\x01"},
      {"a\x1F\n", "a"},
      {"a\x7F\n", "a\x7F"},
      {"\ta\t", "\ta"},
      {"a\tb\n", "a\tb"},  // only the end is cut
      {"0\n", "0"},
      // Bytes of 0x80 and above count as text, so a double-byte character stays whole.
      {"\xC8\xB7\xB6\xA8\n", "\xC8\xB7\xB6\xA8"},
      {"\xC8\xB7\xB6\xA8", "\xC8\xB7\xB6\xA8"},
      {"\x80\n", "\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TrimLineEnd(c.line), c.expected) << testing::PrintToString(c.line);
  }
}

TEST(BeginsALineTest, OnlyAKeyPressedThatTypesACharacter) {
  EXPECT_TRUE(BeginsALine({true, true, u'y'}));
  EXPECT_TRUE(BeginsALine({true, true, u'\r'}));   // Enter
  EXPECT_FALSE(BeginsALine({true, false, u'y'}));  // let go
  EXPECT_FALSE(BeginsALine({true, true, 0}));      // Shift, an arrow, the Alt of Alt+Tab
  EXPECT_FALSE(BeginsALine({false, false, 0}));    // the mouse, a focus change
}

TEST(ChooseLanguageTest, ChineseWhereTheConsoleCanDrawIt) {
  const struct {
    const char* label;
    ConsoleFacts facts;
    Language language;
  } cases[] = {
      {"redirected", {false, 437, u"Consolas", false}, Language::kChinese},
      {"GBK console", {true, 936, u"Consolas", false}, Language::kChinese},
      {"437, Latin font", {true, 437, u"Consolas", false}, Language::kEnglish},
      {"65001, Lucida", {true, 65001, u"Lucida Console", false}, Language::kEnglish},
      {"437, face unknown", {true, 437, u"", false}, Language::kEnglish},
      {"437, NSimSun", {true, 437, u"NSimSun", false}, Language::kChinese},
      {"437, \u65B0\u5B8B\u4F53", {true, 437, u"\u65B0\u5B8B\u4F53", false}, Language::kChinese},
      {"65001, Microsoft YaHei in other case",
       {true, 65001, u"microsoft yahei", false},
       Language::kChinese},
      {"437, MS Gothic", {true, 437, u"MS Gothic", false}, Language::kChinese},
      {"437, a face that only begins like one",
       {true, 437, u"SimSun-Latin", false},
       Language::kEnglish},
      {"Windows Terminal", {true, 437, u"Cascadia Mono", true}, Language::kChinese},
  };
  for (const auto& c : cases) EXPECT_EQ(ChooseLanguage(c.facts), c.language) << c.label;
}

}  // namespace
}  // namespace ipmod

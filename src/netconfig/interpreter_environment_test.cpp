#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "netconfig/netconfig.h"

namespace ipmod {
namespace {

const Text kSystem = "C:\\windows\\system32";

// The block's entries, checking that it ends with an empty one.
template <typename String>
std::vector<String> Entries(const String& block) {
  std::vector<String> entries;
  EXPECT_GE(block.size(), 2u);
  EXPECT_EQ(block.substr(block.size() - 2), String(2, '\0')) << "the block is not ended";
  for (std::size_t at = 0; at < block.size() - 1;) {
    const std::size_t end = block.find('\0', at);
    entries.push_back(block.substr(at, end - at));
    at = end + 1;
  }
  return entries;
}

// Each byte as one UTF-16 unit of the same value: the wide form of the same entries.
std::u16string Widened(const Text& bytes) {
  std::u16string wide;
  for (const unsigned char byte : bytes) wide += static_cast<char16_t>(byte);
  return wide;
}

std::vector<std::u16string> Widened(const std::vector<Text>& texts) {
  std::vector<std::u16string> wide;
  for (const Text& text : texts) wide.push_back(Widened(text));
  return wide;
}

// Every case holds for the environment as bytes and as UTF-16 units alike.
TEST(InterpreterEnvironmentTest, PathBeginsWithTheSystemDirectoryAndNothingElseChanges) {
  const struct {
    std::vector<Text> entries;
    std::vector<Text> expected;
  } cases[] = {
      // Drive entries stay first, every other variable stays in its place.
      {{"=C:=C:\\app", "ALLUSERSPROFILE=C:\\ProgramData", "Path=C:\\tools;C:\\windows",
        "TEMP=C:\\temp"},
       {"=C:=C:\\app", "ALLUSERSPROFILE=C:\\ProgramData",
        "Path=C:\\windows\\system32;C:\\tools;C:\\windows", "TEMP=C:\\temp"}},
      // The variable that stops the search in the current directory goes, in any case.
      {{"NoDefaultCurrentDirectoryInExePath=1", "PATH=C:\\tools",
        "nodefaultcurrentdirectoryinexepath=", "X=NoDefaultCurrentDirectoryInExePath"},
       {"PATH=C:\\windows\\system32;C:\\tools", "X=NoDefaultCurrentDirectoryInExePath"}},
      // A name that only begins like it is another variable.
      {{"NoDefaultCurrentDirectoryInExePathX=1", "PATH="},
       {"NoDefaultCurrentDirectoryInExePathX=1", "PATH=C:\\windows\\system32"}},
      // No PATH: one is added among the named entries in name order.
      {{"=C:=C:\\app", "=D:=D:\\", "COMSPEC=C:\\windows\\system32\\cmd.exe", "TEMP=C:\\temp"},
       {"=C:=C:\\app", "=D:=D:\\", "COMSPEC=C:\\windows\\system32\\cmd.exe",
        "Path=C:\\windows\\system32", "TEMP=C:\\temp"}},
      {{"=C:=C:\\app"}, {"=C:=C:\\app", "Path=C:\\windows\\system32"}},
      {{}, {"Path=C:\\windows\\system32"}},
      {{"pathext=.COM;.EXE"}, {"Path=C:\\windows\\system32", "pathext=.COM;.EXE"}},
      // GBK bytes in values pass unchanged.
      {{"Path=C:\\\xB9\xA4\xBE\xDF", "USER=\xD5\xC5\xC8\xFD"},
       {"Path=C:\\windows\\system32;C:\\\xB9\xA4\xBE\xDF", "USER=\xD5\xC5\xC8\xFD"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Entries(InterpreterEnvironment(c.entries, kSystem)), c.expected)
        << testing::PrintToString(c.entries);
    EXPECT_EQ(Entries(InterpreterEnvironment(Widened(c.entries), Widened(kSystem))),
              Widened(c.expected))
        << "wide: " << testing::PrintToString(c.entries);
  }
}

// Characters no code page holds pass unchanged, in values, names and the system directory; only
// ASCII letters compare without case.
TEST(InterpreterEnvironmentTest, WideEntriesKeepEveryCharacter) {
  const std::u16string system = u"C:\\\u0E27\u0E34\u0E19\\system32";
  const struct {
    std::vector<std::u16string> entries;
    std::vector<std::u16string> expected;
  } cases[] = {
      {{u"Path=C:\\\u0E01;C:\\\u5DE5\u5177", u"TEMP=C:\\Users\\\u0E01\u0E02\\Temp",
        u"\u0E01=\U0001F600"},
       {u"Path=" + system + u";C:\\\u0E01;C:\\\u5DE5\u5177", u"TEMP=C:\\Users\\\u0E01\u0E02\\Temp",
        u"\u0E01=\U0001F600"}},
      // Full-width letters are other names: neither PATH nor the variable that is dropped.
      {{u"\uFF30\uFF21\uFF34\uFF28=C:\\x", u"NoDefaultCurrentDirectoryInExePat\uFF28=1"},
       {u"Path=" + system, u"\uFF30\uFF21\uFF34\uFF28=C:\\x",
        u"NoDefaultCurrentDirectoryInExePat\uFF28=1"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Entries(InterpreterEnvironment(c.entries, system)), c.expected);
  }
}

}  // namespace
}  // namespace ipmod

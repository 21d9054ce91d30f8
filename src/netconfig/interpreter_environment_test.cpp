#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "netconfig/netconfig.h"

namespace ipmod {
namespace {

const Text kSystem = "C:\\windows\\system32";

// The block's entries, checking that it ends with an empty one.
std::vector<Text> Entries(const std::string& block) {
  std::vector<Text> entries;
  EXPECT_GE(block.size(), 2u);
  EXPECT_EQ(block.substr(block.size() - 2), std::string(2, '\0')) << "the block is not ended";
  for (std::size_t at = 0; at < block.size() - 1;) {
    const std::size_t end = block.find('\0', at);
    entries.push_back(block.substr(at, end - at));
    at = end + 1;
  }
  return entries;
}

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
  }
}

}  // namespace
}  // namespace ipmod

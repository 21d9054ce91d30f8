#include "runtime/runtime_error.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/runtime_error_system.h"

namespace ipmod {
namespace {

// The fixed pieces of a report, as the operator sees them.
const std::string kFirstLine = "运行时出错!\r\n";
const std::string kCodeLine = "\r\n错误代码：";
const std::string kMessageLine = "\r\n错误信息：";
const std::string kPlaceLine =
    "\r\n运行时错误相关信息值(在IDE中打开对应源程序后执行\"运行->"
    "到运行时错误相关位置\"菜单功能查看): ";

std::string Place(const std::string& unit, const std::string& position) {
  return kPlaceLine + unit + ", " + position + "\r\n";
}

std::string ToString(const RuntimeErrorMessage& message) {
  return std::string(message.c_str(), message.size());
}

TEST(RuntimeErrorMessageTest, GbkBytesOfTheFixedLines) {
  const RuntimeErrorMessage message(4, RuntimeErrorCodeText(4), 1, 2);
  // 运行时出错! then an empty line and 错误代码： with its full-width colon (A3 BA).
  const std::string start =
      "\xD4\xCB\xD0\xD0\xCA\xB1\xB3\xF6\xB4\xED!\r\n"
      "\r\n\xB4\xED\xCE\xF3\xB4\xFA\xC2\xEB\xA3\xBA"
      "4\r\n"
      "\r\n\xB4\xED\xCE\xF3\xD0\xC5\xCF\xA2\xA3\xBA";
  EXPECT_EQ(ToString(message).substr(0, start.size()), start);
}

TEST(RuntimeErrorMessageTest, LinesByCodeMessageAndPlace) {
  const struct {
    int32_t code;
    const char* message;
    int32_t unit;
    int32_t position;
    std::string expected;
  } cases[] = {
      {4, "数组成员引用下标必须大于等于1", 7, -3,
       kFirstLine + kCodeLine + "4\r\n" + kMessageLine + "数组成员引用下标必须大于等于1\r\n" +
           Place("7", "-3")},
      {1, "数组成员引用下标超出定义范围", 0, 0,
       kFirstLine + kCodeLine + "1\r\n" + kMessageLine + "数组成员引用下标超出定义范围\r\n" +
           Place("0", "0")},
      {0, "分配 16 字节内存失败!", 0, 0,
       kFirstLine + kMessageLine + "分配 16 字节内存失败!\r\n" + Place("0", "0")},
      {-12, "", INT32_MIN, INT32_MAX,
       kFirstLine + kCodeLine + "-12\r\n" + Place("-2147483648", "2147483647")},
      {0, "", 5, 6, kFirstLine + Place("5", "6")},
      {0, nullptr, 5, 6, kFirstLine + Place("5", "6")},
      {99, "%s %d", 1, 1,
       kFirstLine + kCodeLine + "99\r\n" + kMessageLine + "%s %d\r\n" + Place("1", "1")},
  };
  for (const auto& c : cases) {
    const RuntimeErrorMessage message(c.code, c.message, c.unit, c.position);
    EXPECT_EQ(ToString(message), c.expected) << "code " << c.code;
    EXPECT_EQ(std::strlen(message.c_str()), message.size()) << "code " << c.code;
  }
}

TEST(RuntimeErrorMessageTest, LongMessageIsCutOnACharacterBoundaryAndKeepsThePlace) {
  std::string pairs;
  for (int i = 0; i < 1500; ++i) pairs += "\xC8\xB7";
  // One of the two prefixes makes a plain byte cut fall inside a pair.
  for (const std::string prefix : {"", "a"}) {
    const std::string text = prefix + pairs;
    const RuntimeErrorMessage message(4, text.c_str(), 11, 22);
    const std::string shown = ToString(message);
    const std::string place = Place("11", "22");
    const std::string head = kFirstLine + kCodeLine + "4\r\n" + kMessageLine;

    ASSERT_LT(shown.size(), 1536u);
    EXPECT_EQ(std::strlen(message.c_str()), message.size());
    ASSERT_GT(shown.size(), head.size() + place.size() + 2) << "prefix " << prefix;
    EXPECT_EQ(shown.substr(0, head.size()), head);
    EXPECT_EQ(shown.substr(shown.size() - place.size() - 2), "\r\n" + place) << "prefix " << prefix;
    const std::string kept =
        shown.substr(head.size(), shown.size() - head.size() - place.size() - 2);
    EXPECT_GT(kept.size(), 1000u);
    EXPECT_EQ(kept, text.substr(0, kept.size()));
    EXPECT_EQ((kept.size() - prefix.size()) % 2, 0u) << "a pair was cut, prefix " << prefix;
  }
}

TEST(RuntimeErrorCodeTextTest, TheTableOfCodes) {
  const struct {
    int32_t code;
    const char* expected;
  } cases[] = {
      {1, "数组成员引用下标超出定义范围"},
      {2, "未得到所需要的数值型数据"},
      {3, "引用数组成员时维数不为1且不等于该数组目前所具有的维数"},
      {4, "数组成员引用下标必须大于等于1"},
      {5, "数据或数组类型不匹配"},
      {6, "调用DLL命令后发现堆栈错误"},
      {7, "子语句参数未返回数据或者返回了非系统基本类型或数组型数据"},
      {8, "被比较数据只能使用等于或不等于命令比较"},
      {9, "“多项选择”命令的索引值参数小于零或超出了所提供参数表范围"},
      {10, "“重定义数组”命令的数组维定义参数值必须大于零或单维时大于等于零"},
      {11, "所提供参数的数据类型不符合要求"},
      {0, ""},
      {12, ""},
      {-1, ""},
      {INT32_MIN, ""},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(RuntimeErrorCodeText(c.code), c.expected) << "code " << c.code;
  }
}

// A report caught by the test: its message, carried out of the handler by an exception.
struct ReportRaised {
  std::string message;
};

void ThrowReport(const RuntimeErrorMessage& message) { throw ReportRaised{ToString(message)}; }

// Puts the throwing handler in for the life of a test and the previous one back afterwards.
class CaughtReports : public testing::Test {
 protected:
  void SetUp() override { previous_ = SetRuntimeErrorHandler(&ThrowReport); }
  void TearDown() override { SetRuntimeErrorHandler(previous_); }

  template <typename Action>
  static std::string ReportOf(Action action) {
    try {
      action();
    } catch (const ReportRaised& raised) {
      return raised.message;
    }
    ADD_FAILURE() << "no report was raised";
    return std::string();
  }

 private:
  RuntimeErrorHandler previous_ = nullptr;
};

TEST_F(CaughtReports, CodeReportsTakeTheirMessageFromTheTable) {
  EXPECT_EQ(ReportOf([] { RuntimeErrorReport(4, 3, 1200); }),
            kFirstLine + kCodeLine + "4\r\n" + kMessageLine + "数组成员引用下标必须大于等于1\r\n" +
                Place("3", "1200"));
  EXPECT_EQ(ReportOf([] { RuntimeErrorReport(6, -1, 0); }),
            kFirstLine + kCodeLine + "6\r\n" + kMessageLine + "调用DLL命令后发现堆栈错误\r\n" +
                Place("-1", "0"));
  EXPECT_EQ(ReportOf([] { RuntimeErrorReport(42, 1, 2); }),
            kFirstLine + kCodeLine + "42\r\n" + Place("1", "2"));
}

TEST_F(CaughtReports, TextReportsHaveNoCodeAndPlaceZero) {
  EXPECT_EQ(ReportOf([] { RuntimeErrorReport("“欲取出数据的类型”参数值无效"); }),
            kFirstLine + kMessageLine + "“欲取出数据的类型”参数值无效\r\n" + Place("0", "0"));
}

TEST_F(CaughtReports, OutOfMemoryNamesTheRequestedSize) {
  const struct {
    std::size_t size;
    std::string shown;
  } cases[] = {
      {123456, "123456"},
      {0, "0"},
      {0xFFFFFFFFu, "4294967295"},  // unsigned, not -1
      {SIZE_MAX, std::to_string(SIZE_MAX)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(
        ReportOf([&] { ReportOutOfMemory(c.size); }),
        kFirstLine + kMessageLine + "分配 " + c.shown + " 字节内存失败!\r\n" + Place("0", "0"))
        << "size " << c.size;
  }
}

TEST_F(CaughtReports, ElementAtChecksTheIndexBeforeTheAccess) {
  std::vector<int> items = {10, 20, 30};
  const CheckSite site{9, 77};
  const std::string tooLow = kFirstLine + kCodeLine + "4\r\n" + kMessageLine +
                             "数组成员引用下标必须大于等于1\r\n" + Place("9", "77");
  const std::string tooHigh = kFirstLine + kCodeLine + "1\r\n" + kMessageLine +
                              "数组成员引用下标超出定义范围\r\n" + Place("9", "77");
  const struct {
    int32_t index;
    const std::string& expected;
  } cases[] = {
      {0, tooLow}, {-1, tooLow}, {INT32_MIN, tooLow}, {4, tooHigh}, {INT32_MAX, tooHigh},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReportOf([&] { ElementAt(items, c.index, site); }), c.expected)
        << "index " << c.index;
  }

  std::vector<int> empty;
  EXPECT_EQ(ReportOf([&] { ElementAt(empty, 1, site); }), tooHigh);

  EXPECT_EQ(ElementAt(items, 1, site), 10);
  EXPECT_EQ(ElementAt(items, 3, site), 30);
  ElementAt(items, 2, site) = 25;
  EXPECT_EQ(items[1], 25);
}

TEST(RuntimeErrorHandlerTest, SetReturnsThePreviousAndNullRestoresTheSystemHandler) {
  const RuntimeErrorHandler original = SetRuntimeErrorHandler(&ThrowReport);
  EXPECT_EQ(original, &ShowRuntimeErrorAndExit);
  EXPECT_EQ(SetRuntimeErrorHandler(nullptr), &ThrowReport);
  EXPECT_EQ(SetRuntimeErrorHandler(original), &ShowRuntimeErrorAndExit);
}

TEST(RuntimeErrorDeathTest, SystemHandlerWritesTheMessageAndExitsWith255) {
  EXPECT_EXIT(
      {
        SetRuntimeErrorHandler(nullptr);
        RuntimeErrorReport(4, 3, 9);
      },
      testing::ExitedWithCode(255), "IDE.*\\): 3, 9");
}

void ReturningHandler(const RuntimeErrorMessage&) {}

TEST(RuntimeErrorDeathTest, AHandlerThatReturnsAbortsTheProcess) {
  EXPECT_EXIT(
      {
        SetRuntimeErrorHandler(&ReturningHandler);
        RuntimeErrorReport(1, 0, 0);
      },
      testing::KilledBySignal(SIGABRT), "");
}

}  // namespace
}  // namespace ipmod

#include "runtime/runtime_error.h"

#include <cstdlib>
#include <cstring>

#include "runtime/runtime_error_system.h"

namespace ipmod {

namespace {

// Indexed by code - 1.
constexpr const char* kCodeTexts[] = {
    "数组成员引用下标超出定义范围",
    "未得到所需要的数值型数据",
    "引用数组成员时维数不为1且不等于该数组目前所具有的维数",
    "数组成员引用下标必须大于等于1",
    "数据或数组类型不匹配",
    "调用DLL命令后发现堆栈错误",
    "子语句参数未返回数据或者返回了非系统基本类型或数组型数据",
    "被比较数据只能使用等于或不等于命令比较",
    "“多项选择”命令的索引值参数小于零或超出了所提供参数表范围",
    "“重定义数组”命令的数组维定义参数值必须大于零或单维时大于等于零",
    "所提供参数的数据类型不符合要求",
};

constexpr char kPlaceLineStart[] =
    "\r\n运行时错误相关信息值(在IDE中打开对应源程序后执行\"运行->"
    "到运行时错误相关位置\"菜单功能查看): ";

RuntimeErrorHandler g_handler = &ShowRuntimeErrorAndExit;

// How many bytes of `text` fit into `limit` without cutting a double-byte character in two.
std::size_t ClippedLength(const char* text, std::size_t limit) {
  std::size_t length = 0;
  while (text[length] != '\0') {
    const bool pair = static_cast<unsigned char>(text[length]) >= 0x80 && text[length + 1] != '\0';
    const std::size_t step = pair ? 2 : 1;
    if (length + step > limit) break;
    length += step;
  }
  return length;
}

// A zero-terminated text in a fixed array: the report must not allocate, since it also
// reports that allocation failed. What does not fit is cut off.
template <std::size_t N>
class FixedText {
 public:
  void Append(const char* text) {
    const std::size_t length = ClippedLength(text, N - 1 - size_);
    std::memcpy(data_ + size_, text, length);
    size_ += length;
    data_[size_] = '\0';
  }
  const char* c_str() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  char data_[N] = {};
  std::size_t size_ = 0;
};

// Decimal digits of a magnitude, with a minus sign when asked, in `buffer`.
const char* FormatDecimal(unsigned long long magnitude, bool negative, char (&buffer)[24]) {
  char* p = buffer + sizeof(buffer);
  *--p = '\0';
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) *--p = '-';
  return p;
}

const char* FormatSigned(int32_t value, char (&buffer)[24]) {
  const unsigned long long magnitude =
      static_cast<unsigned long long>(value < 0 ? -static_cast<long long>(value) : value);
  return FormatDecimal(magnitude, value < 0, buffer);
}

}  // namespace

RuntimeErrorMessage::RuntimeErrorMessage(int32_t code, const char* message, int32_t unit,
                                         int32_t position) {
  text_[0] = '\0';
  char number[24];

  FixedText<256> place;
  place.Append(kPlaceLineStart);
  place.Append(FormatSigned(unit, number));
  place.Append(", ");
  place.Append(FormatSigned(position, number));
  place.Append("\r\n");

  Append("运行时出错!\r\n");
  if (code != 0) {
    Append("\r\n错误代码：");
    Append(FormatSigned(code, number));
    Append("\r\n");
  }
  if (message != nullptr && message[0] != '\0') {
    static constexpr char kMessageStart[] = "\r\n错误信息：";
    static constexpr char kMessageEnd[] = "\r\n";
    Append(kMessageStart);
    // A long message is cut so that its line end and the place line still fit.
    const std::size_t reserved = (sizeof(kMessageEnd) - 1) + place.size();
    const std::size_t left = sizeof(text_) - 1 - size_;
    const std::size_t room = left > reserved ? left - reserved : 0;
    const std::size_t length = ClippedLength(message, room);
    std::memcpy(text_ + size_, message, length);
    size_ += length;
    text_[size_] = '\0';
    Append(kMessageEnd);
  }
  Append(place.c_str());
}

void RuntimeErrorMessage::Append(const char* text) {
  const std::size_t length = ClippedLength(text, sizeof(text_) - 1 - size_);
  std::memcpy(text_ + size_, text, length);
  size_ += length;
  text_[size_] = '\0';
}

const char* RuntimeErrorCodeText(int32_t code) {
  constexpr int32_t kCount = static_cast<int32_t>(sizeof(kCodeTexts) / sizeof(kCodeTexts[0]));
  if (code < 1 || code > kCount) return "";
  return kCodeTexts[code - 1];
}

RuntimeErrorHandler SetRuntimeErrorHandler(RuntimeErrorHandler handler) {
  const RuntimeErrorHandler previous = g_handler;
  g_handler = handler != nullptr ? handler : &ShowRuntimeErrorAndExit;
  return previous;
}

namespace {

[[noreturn]] void Raise(int32_t code, const char* message, int32_t unit, int32_t position) {
  const RuntimeErrorMessage report(code, message, unit, position);
  g_handler(report);
  // A handler must not come back; there is no caller that could go on from here.
  std::abort();
}

}  // namespace

void RuntimeErrorReport(int32_t code, int32_t unit, int32_t position) {
  Raise(code, RuntimeErrorCodeText(code), unit, position);
}

void RuntimeErrorReport(const char* message) { Raise(0, message, 0, 0); }

void ReportOutOfMemory(std::size_t size) {
  char number[24];
  FixedText<64> message;
  message.Append("分配 ");
  message.Append(FormatDecimal(size, false, number));
  message.Append(" 字节内存失败!");
  Raise(0, message.c_str(), 0, 0);
}

}  // namespace ipmod

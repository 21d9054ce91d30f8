// The one fatal-error path: a message box titled "错误" and exit code -1.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/text.h"

namespace ipmod {

// The message of a runtime error report, built without allocating (it also serves the
// allocation-failure report).
class RuntimeErrorMessage {
 public:
  // code 0 shows no code line; an empty message shows no message line.
  RuntimeErrorMessage(int32_t code, const char* message, int32_t unit, int32_t position);

  const char* c_str() const { return text_; }
  std::size_t size() const { return size_; }

 private:
  void Append(const char* text);
  char text_[1536];
  std::size_t size_ = 0;
};

// The table text of a runtime error code, or "" for a code it does not know.
const char* RuntimeErrorCodeText(int32_t code);

// What a runtime error report does once its message is built. The system's handler shows
// the message box and ends the process with -1; tests put their own in. A handler must not
// return; if it does, the process is aborted.
using RuntimeErrorHandler = void (*)(const RuntimeErrorMessage& message);

// Installs `handler` (nullptr: the system's) and returns the one it replaces.
RuntimeErrorHandler SetRuntimeErrorHandler(RuntimeErrorHandler handler);

// Raises the report for a code of the table, with the check site's unit and position.
[[noreturn]] void RuntimeErrorReport(int32_t code, int32_t unit, int32_t position);
// Raises the report with a message text (code 0, place 0, 0).
[[noreturn]] void RuntimeErrorReport(const char* message);
// "分配 %d 字节内存失败!" with the requested byte count.
[[noreturn]] void ReportOutOfMemory(std::size_t size);

// Identifies one checked place in the program for the report's place line.
struct CheckSite {
  int32_t unit;
  int32_t position;
};

// 1-based element access that raises code 4 for an index below 1 and code 1 for an index
// past the end, before anything is touched.
template <typename Container>
auto& ElementAt(Container& items, int32_t index, CheckSite site) {
  const int64_t offset = static_cast<int64_t>(index) - 1;
  if (offset < 0) RuntimeErrorReport(4, site.unit, site.position);
  if (offset >= static_cast<int64_t>(items.size())) RuntimeErrorReport(1, site.unit, site.position);
  return items[static_cast<std::size_t>(offset)];
}

}  // namespace ipmod

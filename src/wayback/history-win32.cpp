// The history file: read for the offer, rewritten under a lock that serialises the merges of
// programs running at once.
#include "wayback/history-win32.h"

#include <windows.h>

#include "runtime/win32_handle.h"

namespace ipmod {

namespace {

const char kHistoryFile[] = "ipmod-history.txt";

// The most of a file past kHistoryLimit that a merge keeps as it is; a larger file is not
// rewritten.
constexpr DWORD kMostKeptBeyond = 1024 * 1024;

// While another program holds the file for its merge, it is tried again this often, this long.
constexpr DWORD kRetryMs = 50;
constexpr int kTries = 100;

// The file beside the program; the empty text when the program's path does not fit.
Text HistoryPath() {
  char path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return Text();
  return SplitAtLastBackslash(Text(path, length)).head + "\\" + kHistoryFile;
}

// The system's sentence for an error, in its code page, without the line break it ends with.
ConsoleText SystemReason(DWORD error) {
  char* message = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&message), 0, nullptr);
  Text reason = length > 0 ? Text(message, length) : "0x" + ToHexText(static_cast<int32_t>(error));
  if (message != nullptr) ::LocalFree(message);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
  return ConsoleText().AddSystemText(std::move(reason));
}

// Opens the file as asked, trying again while another program holds it.
ScopedHandle Open(const Text& path, DWORD access, DWORD share, DWORD disposition) {
  for (int tries = 1;; ++tries) {
    ScopedHandle file(::CreateFileA(path.c_str(), access, share, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file || tries == kTries) return file;
    const DWORD error = ::GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) return file;
    ::Sleep(kRetryMs);
  }
}

// The file's first kHistoryLimit bytes, less a line cut off there; nothing when it cannot be
// read.
std::optional<Text> ReadHead(HANDLE file) {
  Text text(kHistoryLimit, '\0');
  DWORD total = 0;
  for (DWORD got = 1; got > 0 && total < kHistoryLimit; total += got) {
    if (!::ReadFile(file, &text[total], static_cast<DWORD>(kHistoryLimit - total), &got, nullptr)) {
      return std::nullopt;
    }
  }
  text.resize(total);
  if (total == kHistoryLimit) text.resize(text.rfind('\n') + 1);  // npos + 1: nothing
  return text;
}

// What the file holds after its first `head` bytes, as it is: what a merge writes back after its
// own lines. Nothing when it cannot be read, or is too much to keep.
std::optional<Text> ReadRest(HANDLE file, DWORD head) {
  const DWORD size = ::GetFileSize(file, nullptr);
  if (size == INVALID_FILE_SIZE) return std::nullopt;
  if (size <= head) return Text();
  if (size - head > kMostKeptBeyond) {
    ::SetLastError(ERROR_FILE_TOO_LARGE);
    return std::nullopt;
  }
  Text rest(size - head, '\0');
  DWORD got = 0;
  if (::SetFilePointer(file, static_cast<LONG>(head), nullptr, FILE_BEGIN) ==
          INVALID_SET_FILE_POINTER ||
      !::ReadFile(file, &rest[0], static_cast<DWORD>(rest.size()), &got, nullptr)) {
    return std::nullopt;
  }
  rest.resize(got);
  return rest;
}

}  // namespace

Text FileHistory::Load() {
  const Text path = HistoryPath();
  if (path.empty()) return Text();
  // Never in a writer's way: a merge that runs meanwhile only changes what is offered.
  ScopedHandle file = Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  if (!file) return Text();
  return ReadHead(file.get()).value_or(Text());
}

bool FileHistory::Add(HistoryRecord record, ConsoleText* why) {
  const Text path = HistoryPath();
  if (path.empty()) {
    *why = SystemReason(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  ScopedHandle file = Open(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
  std::optional<Text> text, rest;
  if (file) text = ReadHead(file.get());
  if (text) rest = ReadRest(file.get(), static_cast<DWORD>(text->size()));
  if (!text || !rest) {
    *why = SystemReason(::GetLastError());
    return false;
  }
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  char stamp[32];
  const int length = ::wsprintfA(stamp, "%04u-%02u-%02u %02u:%02u", now.wYear, now.wMonth, now.wDay,
                                 now.wHour, now.wMinute);
  record.time.assign(stamp, length);
  // Past the part read, the file is kept as it is.
  const Text merged = MergeHistory(*text, record) + *rest;
  DWORD written = 0;
  if (::SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !::WriteFile(file.get(), merged.data(), static_cast<DWORD>(merged.size()), &written,
                   nullptr) ||
      written != merged.size() || !::SetEndOfFile(file.get())) {
    *why = SystemReason(::GetLastError());
    return false;
  }
  return true;
}

}  // namespace ipmod

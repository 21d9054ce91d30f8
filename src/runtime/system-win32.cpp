// Registry, processes, messages, system version and system libraries on Windows.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "runtime/runtime_error.h"
#include "runtime/system.h"
#include "runtime/win32_handle.h"

namespace ipmod {
namespace {

bool IsLeadByte(char byte) { return static_cast<unsigned char>(byte) >= 0x80; }
bool IsBlank(char byte) { return byte == ' ' || byte == '\t'; }

bool IsFile(const Text& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The program part of a command line as the system reads it: the quoted text after a leading
// quote, else everything up to the first blank.
Text FirstWord(const Text& commandLine) {
  std::size_t at = 0;
  while (at < commandLine.size() && IsBlank(commandLine[at])) ++at;
  const bool quoted = at < commandLine.size() && commandLine[at] == '"';
  if (quoted) ++at;
  Text word;
  while (at < commandLine.size()) {
    const char byte = commandLine[at];
    if (quoted ? byte == '"' : IsBlank(byte)) break;
    if (IsLeadByte(byte) && at + 1 < commandLine.size()) {
      word.append(commandLine, at, 2);
      at += 2;
    } else {
      word += byte;
      ++at;
    }
  }
  return word;
}

// Whether a (double-byte aware) character of `word` is a path separator or a drive colon.
bool HasPathPart(const Text& word) {
  for (std::size_t at = 0; at < word.size(); ++at) {
    if (IsLeadByte(word[at])) {
      ++at;
    } else if (word[at] == '\\' || word[at] == '/' || word[at] == ':') {
      return true;
    }
  }
  return false;
}

// The program file to start for `commandLine`: empty to let the system read it from the
// command line (the first word names a path), the system directory's file for a bare name, or
// nullopt when there is nothing that may be started. A bare name is never looked for in the
// program's or the current directory, where anybody could have put a file of that name.
std::optional<Text> ApplicationFor(const Text& commandLine) {
  const Text word = FirstWord(commandLine);
  if (word.empty()) return std::nullopt;
  if (HasPathPart(word)) return Text();
  const Text path = SystemFilePath(word.find('.') == Text::npos ? word + ".exe" : word);
  if (path.empty() || !IsFile(path)) return std::nullopt;
  return path;
}

// The libraries BindSystemRoutine has loaded, each once, kept for the whole run; used from the
// main thread only. A handful at most, so a list does.
std::vector<std::pair<Text, ScopedModule>> boundLibraries;

HKEY RootKey(int32_t root) {
  switch (root) {
    case 1:
      return HKEY_CLASSES_ROOT;
    case 2:
      return HKEY_CURRENT_CONFIG;
    case 4:
      return HKEY_LOCAL_MACHINE;
    case 5:
      return HKEY_USERS;
    default:
      return HKEY_CURRENT_USER;
  }
}

// Environment references of `text` expanded, or nullopt when the system cannot expand them.
std::optional<Text> ExpandEnvironment(const Text& text) {
  DWORD size = ::ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
  // The ANSI form may ask for more once it has seen the double-byte text: try again then.
  for (int attempt = 0; attempt < 2 && size != 0; ++attempt) {
    std::vector<char> expanded(size + 1, '\0');
    const DWORD needed = ::ExpandEnvironmentStringsA(text.c_str(), expanded.data(), size + 1);
    if (needed == 0) return std::nullopt;
    if (needed <= size + 1) return Text(expanded.data());
    size = needed;
  }
  return std::nullopt;
}

}  // namespace

Text SystemRegistry::ReadRegistryText(int32_t root, const Text& path,
                                      std::optional<Text> defaultText) {
  const PathParts parts = SplitAtLastBackslash(path);
  if (const std::optional<std::vector<RegistryValue>> values =
          ReadRegistryValues(root, parts.head, {parts.tail.c_str()})) {
    // Up to the first zero byte: a stored value need not end with one.
    const Text text = values->front().data.c_str();
    if (values->front().type == kRegSz) return text;
    if (values->front().type == kRegExpandSz) {
      if (std::optional<Text> expanded = ExpandEnvironment(text)) return std::move(*expanded);
    }
  }
  return defaultText ? std::move(*defaultText) : Text();
}

std::optional<std::vector<RegistryValue>> SystemRegistry::ReadRegistryValues(
    int32_t root, const Text& keyPath, std::initializer_list<const char*> names) {
  ScopedRegistryKey key;
  if (::RegOpenKeyExA(RootKey(root), keyPath.c_str(), 0, KEY_READ, key.receive()) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::vector<RegistryValue> values;
  for (const char* name : names) {
    RegistryValue& value = values.emplace_back();
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (::RegQueryValueExA(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
      continue;
    }
    value.data.assign(size, '\0');
    DWORD read = size;
    // A value changed in between, or unreadable, is as good as missing.
    if (::RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value.data[0]),
                           &read) != ERROR_SUCCESS) {
      value.data.clear();
      continue;
    }
    value.data.resize(read < size ? read : size);
    value.type = type;
  }
  return values;
}

int ShowCommandForMode(std::optional<int32_t> showMode) {
  switch (showMode.value_or(2)) {
    case 1:
      return SW_HIDE;
    case 2:
      return SW_SHOWNORMAL;
    case 3:
      return SW_SHOWMINIMIZED;
    case 4:
      return SW_SHOWMAXIMIZED;
    case 5:
      return SW_SHOWNOACTIVATE;
    default:
      return *showMode < 1 ? SW_HIDE : SW_MINIMIZE;
  }
}

bool RunProgram(const Text& commandLine, bool wait, std::optional<int32_t> showMode,
                std::optional<uint32_t>* exitCode) {
  if (exitCode != nullptr) exitCode->reset();
  const std::optional<Text> application = ApplicationFor(commandLine);
  if (!application) return false;

  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(ShowCommandForMode(showMode));
  // CreateProcessA may write into the command line.
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  PROCESS_INFORMATION started = {};
  if (!::CreateProcessA(application->empty() ? nullptr : application->c_str(), line.data(), nullptr,
                        nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
    return false;
  }
  const ScopedHandle process(started.hProcess);
  const ScopedHandle thread(started.hThread);
  if (wait) {
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    if (exitCode != nullptr && ::GetExitCodeProcess(process.get(), &code)) *exitCode = code;
  } else {
    ::WaitForInputIdle(process.get(), 1000);
  }
  return true;
}

int32_t OsFamilyForPlatformId(uint32_t platformId) {
  switch (platformId) {
    case VER_PLATFORM_WIN32s:
      return 1;
    case VER_PLATFORM_WIN32_WINDOWS:
      return 2;
    case VER_PLATFORM_WIN32_NT:
      return 3;
    default:
      return 0;
  }
}

int32_t GetOsFamily() {
  static_assert(sizeof(OSVERSIONINFOA) == 148, "the version record the system expects");
  OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  ::GetVersionExA(&version);
  return OsFamilyForPlatformId(version.dwPlatformId);
}

void ProcessEvents() {
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE) && message.message != WM_QUIT) {
    // Taken without waiting; should the queue have changed in between and a WM_QUIT come out,
    // it goes back for whoever runs the loop that ends with it.
    if (!::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return;
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

uint32_t CommandOutputCodePage() {
  const UINT console = ::GetConsoleOutputCP();
  return console != 0 ? console : ::GetOEMCP();
}

Text ToProgramCodePage(Text bytes, uint32_t codePage) {
  if (codePage == kProgramCodePage || bytes.empty()) return bytes;
  const int size = static_cast<int>(bytes.size());
  const int count = ::MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
  if (count <= 0) return bytes;
  std::vector<wchar_t> wide(static_cast<std::size_t>(count));
  if (::MultiByteToWideChar(codePage, 0, bytes.data(), size, wide.data(), count) != count) {
    return bytes;
  }
  const int length =
      ::WideCharToMultiByte(kProgramCodePage, 0, wide.data(), count, nullptr, 0, "?", nullptr);
  if (length <= 0) return bytes;
  Text converted(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(kProgramCodePage, 0, wide.data(), count, &converted[0], length, "?",
                        nullptr);
  return converted;
}

Text SystemDirectory() {
  std::vector<char> directory(MAX_PATH, '\0');
  UINT length = ::GetSystemDirectoryA(directory.data(), static_cast<UINT>(directory.size()));
  if (length >= directory.size()) {
    directory.assign(length + 1, '\0');
    length = ::GetSystemDirectoryA(directory.data(), static_cast<UINT>(directory.size()));
  }
  if (length == 0 || length >= directory.size()) return Text();
  return Text(directory.data(), length);
}

Text SystemFilePath(const Text& name) {
  Text path = SystemDirectory();
  if (path.empty()) return Text();
  if (path.back() != '\\') path += '\\';
  return path + name;
}

void* BindSystemRoutine(const char* library, const char* routine) {
  std::vector<std::pair<Text, ScopedModule>>& modules = boundLibraries;
  auto loaded = std::find_if(modules.begin(), modules.end(),
                             [&](const auto& entry) { return entry.first == library; });
  if (loaded == modules.end()) {
    ScopedModule module;
    const Text path = SystemFilePath(library);
    if (!path.empty()) {
      module.reset(::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    }
    if (module) {
      modules.emplace_back(library, std::move(module));
      loaded = modules.end() - 1;
    }
  }
  void* address = nullptr;
  if (loaded != modules.end()) {
    address = reinterpret_cast<void*>(::GetProcAddress(loaded->second.get(), routine));
  }
  if (address == nullptr) {
    // Put together piece by piece: the names are never read as a format.
    const Text message =
        Text("无法找到指定DLL库文件“") + library + "”中的输出命令“" + routine + "”";
    RuntimeErrorReport(message.c_str());
  }
  return address;
}

}  // namespace ipmod

// Scoped ownership of Windows handles, for the *-win32.cpp files only: each kind of handle is
// closed by its own routine when its owner goes away, and whatever closes a handle also resets
// the owner to empty.
#pragma once

#include <windows.h>

namespace ipmod {

// Kernel objects (processes, threads, pipes, files, timers). Some calls report "none" as NULL,
// others as INVALID_HANDLE_VALUE; both count as empty and are never closed.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() { return nullptr; }
  static bool IsValid(Handle handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) { ::CloseHandle(handle); }
};

// Open registry keys. The predefined roots (HKEY_LOCAL_MACHINE...) are never owned by one.
struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Empty() { return nullptr; }
  static bool IsValid(Handle key) { return key != nullptr; }
  static void Close(Handle key) { ::RegCloseKey(key); }
};

// Libraries loaded with LoadLibrary*.
struct ModuleTraits {
  using Handle = HMODULE;
  static Handle Empty() { return nullptr; }
  static bool IsValid(Handle module) { return module != nullptr; }
  static void Close(Handle module) { ::FreeLibrary(module); }
};

// Owns one handle of the kind its traits describe. Movable, not copyable.
template <typename Traits>
class ScopedHandleOf {
 public:
  using Handle = typename Traits::Handle;

  ScopedHandleOf() = default;
  explicit ScopedHandleOf(Handle handle) : handle_(handle) {}
  ~ScopedHandleOf() { reset(); }

  ScopedHandleOf(const ScopedHandleOf&) = delete;
  ScopedHandleOf& operator=(const ScopedHandleOf&) = delete;
  ScopedHandleOf(ScopedHandleOf&& other) noexcept : handle_(other.release()) {}
  ScopedHandleOf& operator=(ScopedHandleOf&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Handle get() const { return handle_; }
  bool valid() const { return Traits::IsValid(handle_); }
  explicit operator bool() const { return valid(); }

  // Gives up ownership without closing.
  Handle release() {
    const Handle handle = handle_;
    handle_ = Traits::Empty();
    return handle;
  }

  // Closes the handle held (if any) and takes `handle` instead.
  void reset(Handle handle = Traits::Empty()) {
    if (Traits::IsValid(handle_)) Traits::Close(handle_);
    handle_ = handle;
  }

  // For out-parameters (CreatePipe, RegOpenKeyExA...): closes what is held first, then lets the
  // call store its new handle here.
  Handle* receive() {
    reset();
    return &handle_;
  }

 private:
  Handle handle_ = Traits::Empty();
};

using ScopedHandle = ScopedHandleOf<KernelHandleTraits>;
using ScopedRegistryKey = ScopedHandleOf<RegistryKeyTraits>;
using ScopedModule = ScopedHandleOf<ModuleTraits>;

}  // namespace ipmod

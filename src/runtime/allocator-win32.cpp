// Every allocation of the program comes from the process heap. A failed allocation ends the
// program through the runtime error report; it never throws.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <new>

#include "runtime/runtime_error.h"

namespace {

// The heap gives every block at least this alignment.
constexpr std::size_t kHeapAlignment = MEMORY_ALLOCATION_ALIGNMENT;

void* HeapBlock(std::size_t size) noexcept {
  // A zero-byte request still needs a block of its own.
  return ::HeapAlloc(::GetProcessHeap(), 0, size == 0 ? 1 : size);
}

void* HeapBlockOrReport(std::size_t size) {
  void* block = HeapBlock(size);
  if (block == nullptr) ipmod::ReportOutOfMemory(size);
  return block;
}

void ReleaseHeapBlock(void* block) noexcept {
  if (block != nullptr) ::HeapFree(::GetProcessHeap(), 0, block);
}

// Over-aligned blocks: a heap block large enough to slide the start up to the alignment, with
// the heap block's own address kept just before the start.
void* AlignedBlock(std::size_t size, std::align_val_t alignment) noexcept {
  const std::size_t align = static_cast<std::size_t>(alignment);
  if (align <= kHeapAlignment) return HeapBlock(size);
  const std::size_t extra = align - 1 + sizeof(void*);
  if (size > SIZE_MAX - extra) return nullptr;
  void* raw = HeapBlock(size + extra);
  if (raw == nullptr) return nullptr;
  const std::uintptr_t start =
      (reinterpret_cast<std::uintptr_t>(raw) + sizeof(void*) + align - 1) & ~(align - 1);
  reinterpret_cast<void**>(start)[-1] = raw;
  return reinterpret_cast<void*>(start);
}

void* AlignedBlockOrReport(std::size_t size, std::align_val_t alignment) {
  void* block = AlignedBlock(size, alignment);
  if (block == nullptr) ipmod::ReportOutOfMemory(size);
  return block;
}

void ReleaseAlignedBlock(void* block, std::align_val_t alignment) noexcept {
  if (block == nullptr) return;
  if (static_cast<std::size_t>(alignment) <= kHeapAlignment) {
    ReleaseHeapBlock(block);
  } else {
    ReleaseHeapBlock(static_cast<void**>(block)[-1]);
  }
}

}  // namespace

void* operator new(std::size_t size) { return HeapBlockOrReport(size); }
void* operator new[](std::size_t size) { return HeapBlockOrReport(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return HeapBlock(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return HeapBlock(size); }

void operator delete(void* block) noexcept { ReleaseHeapBlock(block); }
void operator delete[](void* block) noexcept { ReleaseHeapBlock(block); }
void operator delete(void* block, std::size_t) noexcept { ReleaseHeapBlock(block); }
void operator delete[](void* block, std::size_t) noexcept { ReleaseHeapBlock(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { ReleaseHeapBlock(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { ReleaseHeapBlock(block); }

void* operator new(std::size_t size, std::align_val_t alignment) {
  return AlignedBlockOrReport(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return AlignedBlockOrReport(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AlignedBlock(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AlignedBlock(size, alignment);
}

void operator delete(void* block, std::align_val_t alignment) noexcept {
  ReleaseAlignedBlock(block, alignment);
}
void operator delete[](void* block, std::align_val_t alignment) noexcept {
  ReleaseAlignedBlock(block, alignment);
}
void operator delete(void* block, std::size_t, std::align_val_t alignment) noexcept {
  ReleaseAlignedBlock(block, alignment);
}
void operator delete[](void* block, std::size_t, std::align_val_t alignment) noexcept {
  ReleaseAlignedBlock(block, alignment);
}
void operator delete(void* block, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  ReleaseAlignedBlock(block, alignment);
}
void operator delete[](void* block, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  ReleaseAlignedBlock(block, alignment);
}

// Win32 backend of platform/heap.h: the process heap, zero-filled.
#include "platform/win32/win32_util.h"

#include "platform/heap.h"

namespace em::platform {

void* HeapAllocZero(size_t size) { return ::HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size ? size : 1); }

void* HeapReAllocZero(void* block, size_t size) {
    if (!block) return HeapAllocZero(size);
    return ::HeapReAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, block, size ? size : 1);
}

void HeapFree(void* block) {
    if (block) ::HeapFree(GetProcessHeap(), 0, block);
}

}  // namespace em::platform

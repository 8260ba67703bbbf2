// Process heap with zero fill (the request record's allocator sits on it).
#pragma once

#include <cstddef>

namespace em::platform {

// Zero-filled block; null when memory is exhausted.
void* HeapAllocZero(size_t size);
// Grows or shrinks a block; bytes beyond the old size are zero. A null block allocates.
void* HeapReAllocZero(void* block, size_t size);
void HeapFree(void* block);

}  // namespace em::platform

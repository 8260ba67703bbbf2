#include <malloc.h>
#include <stdlib.h>
#include <string.h>

#include "platform/heap.h"

namespace em::platform {

void* HeapAllocZero(size_t size) { return calloc(1, size ? size : 1); }

void* HeapReAllocZero(void* block, size_t size) {
    if (!block) return HeapAllocZero(size);
    size_t old = malloc_usable_size(block);
    void* p = realloc(block, size ? size : 1);
    if (p && size > old) memset(static_cast<char*>(p) + old, 0, size - old);
    return p;
}

void HeapFree(void* block) { free(block); }

}  // namespace em::platform

#include <malloc.h>
#include <stdlib.h>
#include <string.h>

#include "platform/heap.h"

namespace em::platform {

namespace {

// The C library may hand out more than was asked for. Every block keeps the bytes between the
// size last asked for and its usable size zero, so that a later growth, which can only learn the
// usable size, finds that stretch already cleared.
void* ZeroSlack(void* p, size_t size) {
    if (p) {
        const size_t usable = malloc_usable_size(p);
        if (usable > size) memset(static_cast<char*>(p) + size, 0, usable - size);
    }
    return p;
}

}  // namespace

void* HeapAllocZero(size_t size) {
    if (!size) size = 1;
    return ZeroSlack(calloc(1, size), size);
}

void* HeapReAllocZero(void* block, size_t size) {
    if (!block) return HeapAllocZero(size);
    if (!size) size = 1;
    // Bytes up to the old usable size are content or zero slack; anything beyond is new.
    const size_t old = malloc_usable_size(block);
    void* p = realloc(block, size);
    if (!p) return nullptr;
    if (size > old) memset(static_cast<char*>(p) + old, 0, size - old);
    return ZeroSlack(p, size);
}

void HeapFree(void* block) { free(block); }

}  // namespace em::platform

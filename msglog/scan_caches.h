// Lookup caches of the log scans: per object key, the CSS flag and the designation string.
// They live as long as the module and are never emptied; fills on several threads share them.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/sync.h"

namespace em {

struct CScanCaches {
    platform::CriticalSection lock;
    std::map<std::u16string, uint32_t> css EM_GUARDED_BY(lock);
    std::map<std::u16string, std::u16string> designation EM_GUARDED_BY(lock);
};

}  // namespace em

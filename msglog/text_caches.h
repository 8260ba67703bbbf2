// The message text caches: texts of error codes fetched from the lower modules, kept for the
// module's whole life (also empty results, so that a code the system has no text for is asked
// only once per language).
//
// Each cache has a lock of its own, held for one lookup or one store only; nothing waits while
// holding it. Two requests that miss the same key at the same time both fetch it; the later
// store replaces the earlier one and the texts agree anyway.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/sync.h"

namespace em {

// (error code, language id, index); the module always uses index 0.
struct TextKey {
    uint32_t code = 0;
    uint16_t language = 0;
    uint16_t index = 0;
    auto operator<=>(const TextKey&) const = default;
};

template <class Value>
class CTextCache {
public:
    // Copies the value for key into out; false (out unchanged) when the cache has none.
    bool Get(const TextKey& key, Value& out) const EM_EXCLUDES(m_lock) {
        platform::CsLock g(m_lock);
        auto it = m_map.find(key);
        if (it == m_map.end()) return false;
        out = it->second;
        return true;
    }
    // Sets the value for key, replacing an older one.
    void Put(const TextKey& key, Value value) EM_EXCLUDES(m_lock) {
        platform::CsLock g(m_lock);
        m_map.insert_or_assign(key, std::move(value));
    }
    size_t Size() const EM_EXCLUDES(m_lock) {
        platform::CsLock g(m_lock);
        return m_map.size();
    }

private:
    mutable platform::CriticalSection m_lock;
    std::map<TextKey, Value> m_map EM_GUARDED_BY(m_lock);
};

using Paragraphs = std::vector<std::u16string>;

struct CTextCaches {
    CTextCache<std::u16string> longText;  // OC 0x0B21; also the texts of unified log entries
    CTextCache<std::u16string> summary;   // OC 0x0B23
    CTextCache<Paragraphs> causes;        // OC 0x0B1A, 0x0B24
    CTextCache<Paragraphs> resolutions;   // OC 0x0B17, 0x0B25
};

}  // namespace em

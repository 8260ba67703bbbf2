// Lookup caches of the log scans: per object key, the CSS flag and the designation string.
// They live as long as the module and are never emptied; fills on several threads share them.
//
// Each access takes the lock for the single lookup or insertion only: the request that fills a
// missing value goes to the lower modules without the lock, so two fills meeting the same new key
// at the same time may both ask; the first answer stored wins and the values agree anyway.
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

    bool FindCss(const std::u16string& key, uint32_t& flag) EM_EXCLUDES(lock) {
        platform::CsLock g(lock);
        auto it = css.find(key);
        if (it == css.end()) return false;
        flag = it->second;
        return true;
    }
    void StoreCss(const std::u16string& key, uint32_t flag) EM_EXCLUDES(lock) {
        platform::CsLock g(lock);
        css.emplace(key, flag);
    }
    bool FindDesignation(const std::u16string& key, std::u16string& text) EM_EXCLUDES(lock) {
        platform::CsLock g(lock);
        auto it = designation.find(key);
        if (it == designation.end()) return false;
        text = it->second;
        return true;
    }
    void StoreDesignation(const std::u16string& key, const std::u16string& text) EM_EXCLUDES(lock) {
        platform::CsLock g(lock);
        designation.emplace(key, text);
    }
    size_t CssCount() EM_EXCLUDES(lock) {
        platform::CsLock g(lock);
        return css.size();
    }
    size_t DesignationCount() EM_EXCLUDES(lock) {
        platform::CsLock g(lock);
        return designation.size();
    }
};

}  // namespace em

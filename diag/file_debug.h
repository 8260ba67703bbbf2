// The trace facility's file sink: one line per open-write-close of the trace file, serialised
// between threads and processes by a lock named after the file.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/named_lock.h"
#include "platform/sync.h"
#include "platform/thread_annotations.h"

namespace em::diag {

class CFileDebug {
public:
    static constexpr size_t kMaxPath = 260;
    static constexpr uint32_t kLockWaitMs = 20;

    CFileDebug();
    ~CFileDebug();
    CFileDebug(const CFileDebug&) = delete;
    CFileDebug& operator=(const CFileDebug&) = delete;

    // Sets the file level, the path and the size limit in MB (0: no rotation). Returns whether
    // the file sink is in use.
    bool SetFile(uint32_t level, std::u16string_view path, uint32_t limit_mb);
    // Writes one composed line; "\n" becomes CR LF.
    void WriteLine(std::u16string_view line);

    uint32_t Level() const { return m_dwLevel.load(std::memory_order_relaxed); }
    uint32_t LimitBytes() const { return m_dwLimit.load(std::memory_order_relaxed); }
    std::u16string Path() const;

    // The lock name for a trace file: "CFileDebug_<path>" with "\" and ":" replaced by "_".
    static std::u16string LockName(std::u16string_view path);

private:
    // A re-read of the configuration may change the file while other threads write lines: the
    // path and its lock are swapped and copied under this short lock.
    mutable platform::CriticalSection m_cs;
    std::shared_ptr<const platform::NamedLock> m_pMutex EM_GUARDED_BY(m_cs);
    char16_t m_szPath[kMaxPath] EM_GUARDED_BY(m_cs) = {};
    std::atomic<uint32_t> m_dwLimit{0};
    std::atomic<uint32_t> m_dwLevel{0};
};

}  // namespace em::diag

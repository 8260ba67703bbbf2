// Win32 backend of platform/named_lock.h: a named mutex of the session.

#include "platform/codepage.h"
#include "platform/named_lock.h"
#include "platform/win32/win32_util.h"

namespace em::platform {

NamedLock::NamedLock(std::u16string_view name) {
    // The object namespace takes no backslash outside its prefixes.
    std::u16string leaf(name);
    for (char16_t& c : leaf)
        if (c == u'\\') c = u'_';
    if (leaf.size() > MAX_PATH) leaf.resize(MAX_PATH);
    m_file = Utf16ToUtf8(leaf);
}

NamedLockHold NamedLock::Acquire(uint32_t timeout_ms) const {
    const std::wstring name = win32::WideFromUtf8(m_file);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (!mutex) return NamedLockHold();
    const DWORD r = WaitForSingleObject(mutex, timeout_ms);
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) return NamedLockHold(reinterpret_cast<intptr_t>(mutex));
    CloseHandle(mutex);
    return NamedLockHold();
}

NamedLockHold& NamedLockHold::operator=(NamedLockHold&& other) noexcept {
    if (this != &other) {
        Release();
        m_handle = other.m_handle;
        other.m_handle = -1;
    }
    return *this;
}

void NamedLockHold::Release() {
    if (m_handle >= 0) {
        HANDLE mutex = reinterpret_cast<HANDLE>(m_handle);
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    m_handle = -1;
}

}  // namespace em::platform

#include "diag/file_debug.h"

#include <algorithm>
#include <string>

#include "platform/codepage.h"
#include "platform/files.h"

namespace em::diag {

namespace {

constexpr std::u16string_view kAnsiFailed = u"### UNICODE-to-MBCS conversion failed ###\n";

void PutUtf16(std::string& out, std::u16string_view text) {
    for (char16_t c : text) {
        if (c == u'\n') {
            out.append("\r\0\n\0", 4);
        } else {
            out.push_back(static_cast<char>(c & 0xFF));
            out.push_back(static_cast<char>(c >> 8));
        }
    }
}

// Text between line breaks in the ANSI code page; a piece that does not convert to exactly one
// byte per character is replaced by the failure notice.
void PutAnsi(std::string& out, std::u16string_view text) {
    std::string piece_bytes;
    size_t start = 0;
    while (start <= text.size()) {
        size_t nl = text.find(u'\n', start);
        const size_t end = nl == std::u16string_view::npos ? text.size() : nl;
        std::u16string_view piece = text.substr(start, end - start);
        if (!piece.empty()) {
            platform::WideToMultiByte(platform::kCodePageAnsi, piece, piece_bytes);
            if (piece_bytes.size() == piece.size()) {
                out += piece_bytes;
            } else {
                std::string notice;
                platform::WideToMultiByte(platform::kCodePageAnsi, kAnsiFailed.substr(0, kAnsiFailed.size() - 1), notice);
                out += notice;
                out += "\r\n";
            }
        }
        if (nl == std::u16string_view::npos) break;
        out += "\r\n";
        start = nl + 1;
    }
}

}  // namespace

CFileDebug::CFileDebug() = default;

CFileDebug::~CFileDebug() {
    platform::CsLock g(m_cs);
    m_pMutex.reset();  // a lock is held only while a line is written
}

std::u16string CFileDebug::LockName(std::u16string_view path) {
    std::u16string name = u"CFileDebug_";
    name.append(path);
    if (name.size() > kMaxPath - 1) name.resize(kMaxPath - 1);
    for (auto& c : name)
        if (c == u'\\' || c == u':') c = u'_';
    return name;
}

std::u16string CFileDebug::Path() const {
    platform::CsLock g(m_cs);
    return std::u16string(m_szPath);
}

bool CFileDebug::SetFile(uint32_t level, std::u16string_view path, uint32_t limit_mb) {
    m_dwLevel.store(level, std::memory_order_relaxed);
    m_dwLimit.store(static_cast<uint32_t>(limit_mb << 20), std::memory_order_relaxed);
    if (path.size() > kMaxPath - 1) path = path.substr(0, kMaxPath - 1);
    if (level != 0) {
        platform::CsLock g(m_cs);
        if (path != std::u16string_view(m_szPath)) {
            m_pMutex.reset();
            m_szPath[0] = 0;
            if (!path.empty()) {
                m_pMutex = std::make_shared<const platform::NamedLock>(LockName(path));
                std::copy(path.begin(), path.end(), m_szPath);
                m_szPath[path.size()] = 0;
            }
        }
    }
    return level > 0 && !path.empty();
}

void CFileDebug::WriteLine(std::u16string_view line) {
    std::u16string path;
    std::shared_ptr<const platform::NamedLock> mutex;
    {
        platform::CsLock g(m_cs);
        if (m_szPath[0] == 0) return;
        path = m_szPath;
        mutex = m_pMutex;
    }
    // The line is written even when the lock is not obtained within the wait.
    platform::NamedLockHold hold;
    if (mutex) hold = mutex->Acquire(kLockWaitMs);

    // The existing file decides the encoding: a new or empty file or one that starts with the
    // byte order mark is UTF-16; anything else is continued in the ANSI code page.
    bool utf16 = true;
    bool size_known = false;
    uint64_t size = 0;
    {
        platform::File existing;
        if (existing.Open(path, platform::File::Mode::Read) && existing.Size(&size)) {
            size_known = true;
            if (size > 0) {
                unsigned char mark[2] = {0, 0};
                utf16 = size >= 2 && existing.ReadAt(0, mark, 2) && mark[0] == 0xFF && mark[1] == 0xFE;
            }
        }
    }

    const uint32_t limit = LimitBytes();
    if (limit != 0 && size_known && size >= limit) {
        const std::u16string old = path + u".txt";
        platform::DeleteFile(old);
        platform::MoveFile(path, old);
    }

    platform::File file;
    if (!file.Open(path, platform::File::Mode::Append)) return;  // the line is lost
    uint64_t now_size = 0;
    const bool empty = file.Size(&now_size) && now_size == 0;

    // One write per line: writers without the lock still never split each other's lines.
    std::string bytes;
    bytes.reserve(line.size() * 2 + 16);
    if (utf16) {
        if (empty) bytes.append("\xFF\xFE", 2);
        PutUtf16(bytes, line);
    } else {
        PutAnsi(bytes, line);
    }
    file.Write(bytes.data(), bytes.size());
}

}  // namespace em::diag

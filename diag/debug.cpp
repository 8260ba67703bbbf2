// The trace facility: registry configuration, line composition and the three sinks.
#include "diag/debug.h"

#include <algorithm>

#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/sysinfo.h"

namespace em::diag {

__attribute__((init_priority(101))) CDebug g_Debug;

namespace {

constexpr std::u16string_view kDebugKey = u"SOFTWARE\\Debug";
constexpr std::u16string_view kTooSmall =
    u"################# CDebug::Trace() - BUFFER TOO SMALL - FIXME! #################";
constexpr std::u16string_view kException =
    u"\n\n################# EXCEPTION in CDebug::Trace() #################\n";

// Opens a key in the 64-bit view; when that is refused for access, without the view.
uint32_t OpenForQuery(platform::RegKey& key, std::u16string_view path) {
    uint32_t err = key.Open(path, platform::RegView::View64);
    if (err == platform::kErrorAccessDenied) err = key.Open(path, platform::RegView::Default);
    return err;
}

// A value read as 4 bytes whatever its type; a missing or larger value leaves the default.
uint32_t QueryDword(const platform::RegKey& key, std::u16string_view name, uint32_t fallback) {
    uint32_t value = 0;
    uint32_t size = sizeof(value);
    uint32_t type = 0;
    if (key.QueryValue(name, &type, &value, &size) != platform::kErrorSuccess) return fallback;
    return value;
}

// TraceFile: taken only as a non-empty REG_EXPAND_SZ, expanded into at most 260 characters.
std::u16string QueryTraceFile(const platform::RegKey& key) {
    char16_t buf[CFileDebug::kMaxPath] = {};
    uint32_t size = sizeof(buf);
    uint32_t type = 0;
    if (key.QueryValue(u"TraceFile", &type, buf, &size) != platform::kErrorSuccess) return {};
    if (size == 0 || type != platform::kRegExpandSz) return {};
    std::u16string_view text(buf, std::min<size_t>(size / sizeof(char16_t), CFileDebug::kMaxPath));
    text = text.substr(0, text.find(u'\0'));
    if (text.empty()) return {};
    std::u16string expanded = platform::ExpandEnvironmentStrings(text);
    if (expanded.size() + 1 > CFileDebug::kMaxPath) return {};
    return expanded;
}

}  // namespace

CDebug::CDebug() { Init(u"EM_TARNEL", false); }

CDebug::~CDebug() = default;

bool CDebug::Init(const char16_t* app_name, bool show_banner) {
    m_bActive.store(0, std::memory_order_relaxed);
    for (auto& p : m_dwPrefix) p.store(0, std::memory_order_relaxed);
    m_dwDynamicUpdate.store(0, std::memory_order_relaxed);
    m_dwLastRead.store(0, std::memory_order_relaxed);
    m_bMemCounters.store(false, std::memory_order_relaxed);
    m_bHandleCounter.store(false, std::memory_order_relaxed);
    if (app_name) {
        size_t i = 0;
        for (; i < 31 && app_name[i]; ++i) m_szAppName[i] = app_name[i];
        m_szAppName[i] = 0;
        ReadSettings();
    }
    if (IsActive() && show_banner) {
        const platform::LocalTime t = platform::GetLocalTime();
        Trace(*this, 1, u"\n\n----- Application [%s] started at %02d:%02d:%02d %02d/%02d/%02d -----\n",
              m_szAppName, t.hour, t.minute, t.second, t.month, t.day, t.year);
    }
    return true;
}

void CDebug::ReadSettings() {
    m_bActive.store(0, std::memory_order_relaxed);
    for (auto& p : m_dwPrefix) p.store(0, std::memory_order_relaxed);
    m_dwDynamicUpdate.store(0, std::memory_order_relaxed);
    bool active = false;

    platform::RegKey key;
    if (OpenForQuery(key, kDebugKey) == platform::kErrorSuccess) {
        m_dwDynamicUpdate.store(QueryDword(key, u"DynamicUpdate", 0), std::memory_order_relaxed);
        key.Close();
    }
    if (m_dwDynamicUpdate.load(std::memory_order_relaxed) != 0) active = true;

    char16_t app_key[260];
    const FormatArg key_args[] = {kDebugKey, std::u16string_view(m_szAppName)};
    const size_t key_len = FormatTo(app_key, 259, u"%s\\%s", key_args);
    if (OpenForQuery(key, std::u16string_view(app_key, key_len)) == platform::kErrorSuccess) {
        static constexpr std::u16string_view kPrefixNames[kPrefixCount] = {
            u"TimeStampOn", u"DateStampOn", u"ThreadIdOn", u"CpuIdOn", u"AppNameOn", u"MemUsageOn", u"HandleCountOn"};
        for (int i = 0; i < kPrefixCount; ++i)
            m_dwPrefix[i].store(QueryDword(key, kPrefixNames[i], 0), std::memory_order_relaxed);
        const uint32_t con_level = QueryDword(key, u"ConDebugLevel", 0);
        const uint32_t dbg_level = QueryDword(key, u"WinDebugLevel", 0);
        const uint32_t file_level = QueryDword(key, u"FileDebugLevel", 0);
        uint32_t limit_mb = 10;
        std::u16string path;
        if (file_level != 0) {
            limit_mb = QueryDword(key, u"TraceFileLimit", 10);
            path = QueryTraceFile(key);
        }
        key.Close();

        if (m_file.SetFile(file_level, path, limit_mb)) active = true;
        m_dwConLevel.store(con_level, std::memory_order_relaxed);
        if (con_level != 0) {
            if (m_hConsole.load(std::memory_order_relaxed) == platform::kInvalidConsole)
                m_hConsole.store(platform::AllocateConsoleOutput(), std::memory_order_relaxed);
            active = true;
        }
        m_dwDbgLevel.store(dbg_level, std::memory_order_relaxed);
        if (dbg_level != 0) active = true;
        if (m_dwPrefix[kMemUsage].load(std::memory_order_relaxed)) m_bMemCounters.store(true, std::memory_order_relaxed);
        if (m_dwPrefix[kHandleCount].load(std::memory_order_relaxed)) m_bHandleCounter.store(true, std::memory_order_relaxed);
    }
    m_dwLastRead.store(platform::TickCount() >> 10, std::memory_order_relaxed);
    if (m_bCapture.load(std::memory_order_relaxed)) active = true;
    if (active) m_bActive.store(1, std::memory_order_relaxed);
}

void CDebug::SetCapture(CaptureFn fn, void* ctx, uint32_t level) {
    {
        platform::CsLock lock(m_captureLock);  // waits for a call of the old sink in flight
        m_capture = fn ? CaptureHook{fn, ctx, level} : CaptureHook{};
        m_captureLevel.store(m_capture.level);
        m_bCapture.store(fn != nullptr);
    }
    ReadSettings();
}

size_t CDebug::Compose(char16_t* buf, std::u16string_view format, std::span<const FormatArg> args) const {
    constexpr size_t cap = kLineBuffer - 1;
    size_t n = 0;
    while (!format.empty() && format.front() == u'\n' && n < cap) {
        buf[n++] = u'\n';
        format.remove_prefix(1);
    }
    auto put = [&](std::u16string_view fmt, std::initializer_list<FormatArg> a) {
        n += FormatTo(buf + n, cap - n, fmt, std::span<const FormatArg>(a.begin(), a.size()));
    };
    auto on = [&](Prefix p) { return m_dwPrefix[p].load(std::memory_order_relaxed) != 0; };

    if (on(kDateStamp) || on(kTimeStamp)) {
        const platform::LocalTime t = platform::GetLocalTime();
        if (on(kDateStamp)) put(u"[%02d-%02d-%02d] ", {t.year, t.month, t.day});
        if (on(kTimeStamp)) put(u"[%02d:%02d:%02d.%03d] ", {t.hour, t.minute, t.second, t.milliseconds});
    }
    if (on(kThreadId)) put(u"(%06d) ", {platform::CurrentThreadId()});
    uint32_t cpu = 0;
    if (on(kCpuId) && platform::GetCurrentProcessorNumber(&cpu)) put(u"#%02d ", {cpu});
    platform::MemoryCounters mem;
    if (on(kMemUsage) && m_bMemCounters.load(std::memory_order_relaxed) && platform::GetProcessMemoryCounters(&mem)) {
        const uint64_t pb = mem.extended ? mem.private_usage / 1024 : mem.pagefile_usage / 1024;
        const uint64_t mu = mem.extended ? mem.working_set / 1024 : 0;
        // Counts above 2^31 kB (only seen under sanitizers' shadow memory) are shown as the maximum.
        auto kb = [](uint64_t v) { return static_cast<uint32_t>(std::min<uint64_t>(v, 0x7FFFFFFF)); };
        put(u"{PB %05dkB, MU %05dkB} ", {kb(pb), kb(mu)});
    }
    uint32_t handles = 0;
    if (on(kHandleCount) && m_bHandleCounter.load(std::memory_order_relaxed) && platform::GetProcessHandleCount(&handles))
        put(u"{%03d H} ", {handles});
    if (on(kAppName)) {
        const size_t start = n;
        const std::u16string_view name(m_szAppName);
        put(u"%-13s  ", {name});
        if (start + name.size() < n) buf[start + name.size()] = u':';
    }
    if (n >= kPrefixLimit) {
        std::copy(kTooSmall.begin(), kTooSmall.end(), buf);
        n = kTooSmall.size();
    }
    n += FormatTo(buf + n, cap - n, format, args);
    return n;
}

void CDebug::WriteDebugger(std::u16string_view line) const {
    if (!line.empty() && line.front() == u'\n') line.remove_prefix(1);
    char16_t piece[kLineBuffer];
    while (!line.empty()) {
        const size_t nl = line.find(u'\n');
        const size_t len = nl == std::u16string_view::npos ? line.size() : nl;
        const size_t take = std::min<size_t>(len, kLineBuffer - 2);
        std::copy_n(line.data(), take, piece);
        piece[take] = u'\n';
        platform::OutputDebugString(std::u16string_view(piece, take + 1));
        line.remove_prefix(nl == std::u16string_view::npos ? line.size() : nl + 1);
    }
}

void CDebug::Dispatch(uint32_t level, std::u16string_view line) {
    if (m_file.Level() >= level) m_file.WriteLine(line);
    if (ConsoleLevel() >= level) {
        const platform::ConsoleHandle console = m_hConsole.load(std::memory_order_relaxed);
        if (console != platform::kInvalidConsole) platform::WriteConsole(console, line);
    }
    if (DebuggerLevel() >= level) WriteDebugger(line);
    if (m_captureLevel.load(std::memory_order_relaxed) >= level) {
        platform::CsLock lock(m_captureLock);
        if (m_capture.fn && m_capture.level >= level) m_capture.fn(m_capture.ctx, level, line);
    }
}

void CDebug::WriteTrace(uint32_t level, std::u16string_view format, std::span<const FormatArg> args) {
    const uint32_t saved_error = platform::GetLastError();
    if (const uint32_t interval = m_dwDynamicUpdate.load(std::memory_order_relaxed); interval != 0) {
        const uint32_t now = platform::TickCount() >> 10;
        const uint32_t last = m_dwLastRead.load(std::memory_order_relaxed);
        if (static_cast<uint64_t>(now) >= static_cast<uint64_t>(last) + interval || now < last) {
            try {
                ReadSettings();
            } catch (...) {
                // The configuration stays as it was; the line is still written.
            }
        }
    }
    if (level == 0) level = 1;
    const bool capture = m_captureLevel.load(std::memory_order_relaxed) >= level;
    if (m_file.Level() < level && ConsoleLevel() < level && DebuggerLevel() < level && !capture) {
        platform::SetLastError(saved_error);
        return;
    }
    try {
        char16_t line[kLineBuffer];
        const size_t n = Compose(line, format, args);
        Dispatch(level, std::u16string_view(line, n));
    } catch (...) {
        try {
            Dispatch(level, kException);
        } catch (...) {
        }
    }
    platform::SetLastError(saved_error);
}

}  // namespace em::diag

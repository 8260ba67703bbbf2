#include "diag/version_info.h"

#include <atomic>

#include "diag/debug.h"
#include "module/byte_order.h"
#include "platform/sync.h"
#include "platform/sysinfo.h"
#include "platform/version_resource.h"

namespace em::diag {

namespace {

std::atomic<CFileVersionInfo::DirectoryFn> g_systemDir{nullptr};
std::atomic<CFileVersionInfo::DirectoryFn> g_wow64Dir{nullptr};

size_t Align4(size_t v) { return (v + 3) & ~static_cast<size_t>(3); }

char16_t Fold(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c; }

// One block of the resource tree: header (length, value length, type), key, value, children.
struct Block {
    size_t begin = 0;     // offset of the block in the resource
    size_t length = 0;    // bytes, bounded by the parent
    size_t key_begin = 0;
    size_t key_chars = 0;
    size_t value_begin = 0;
    size_t value_bytes = 0;
    size_t children_begin = 0;
    uint16_t type = 0;
};

bool ReadBlock(const std::vector<uint8_t>& d, size_t begin, size_t end, Block& b) {
    if (begin >= end || end - begin < 6) return false;
    size_t length = LoadLe16(&d[begin]);
    if (length < 6) return false;
    if (length > end - begin) length = end - begin;  // a length past the parent is cut to it
    b.begin = begin;
    b.length = length;
    const uint16_t value_len = LoadLe16(&d[begin + 2]);
    b.type = LoadLe16(&d[begin + 4]);
    b.key_begin = begin + 6;
    const size_t stop = begin + length;
    size_t p = b.key_begin;
    while (p + 1 < stop && LoadLe16(&d[p]) != 0) p += 2;
    if (p + 1 >= stop) return false;  // key without terminator
    b.key_chars = (p - b.key_begin) / 2;
    b.value_begin = std::min(Align4(p + 2), stop);
    size_t value_bytes = b.type == 1 ? static_cast<size_t>(value_len) * 2 : value_len;
    b.value_bytes = std::min(value_bytes, stop - b.value_begin);
    b.children_begin = std::min(Align4(b.value_begin + b.value_bytes), stop);
    return true;
}

bool KeyEquals(const std::vector<uint8_t>& d, const Block& b, std::u16string_view name) {
    if (b.key_chars != name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (Fold(static_cast<char16_t>(LoadLe16(&d[b.key_begin + 2 * i]))) != Fold(name[i])) return false;
    return true;
}

bool IsPrintable(char16_t c) { return c >= 0x20 && !(c >= 0x7F && c < 0xA0); }

}  // namespace

bool CVersionResource::QueryValue(std::u16string_view path, std::span<const uint8_t>& value, uint16_t* type) const {
    if (m_bSystemBlock && !type) {
        const uint8_t* found = nullptr;
        uint32_t bytes = 0;
        if (platform::QueryVersionValue(m_data.data(), path, &found, &bytes) && found >= m_data.data() &&
            found <= m_data.data() + m_data.size()) {
            const size_t room = static_cast<size_t>(m_data.data() + m_data.size() - found);
            value = std::span<const uint8_t>(found, std::min<size_t>(bytes, room));
            return true;
        }
    }
    Block cur;
    if (!ReadBlock(m_data, 0, m_data.size(), cur)) return false;
    size_t pos = 0;
    while (pos < path.size()) {
        while (pos < path.size() && path[pos] == u'\\') ++pos;
        if (pos >= path.size()) break;
        size_t end = path.find(u'\\', pos);
        if (end == std::u16string_view::npos) end = path.size();
        const std::u16string_view name = path.substr(pos, end - pos);
        pos = end;
        bool found = false;
        const size_t stop = cur.begin + cur.length;
        size_t child = cur.children_begin;
        Block b;
        while (child < stop && ReadBlock(m_data, child, stop, b)) {
            if (KeyEquals(m_data, b, name)) {
                found = true;
                break;
            }
            child = Align4(b.begin + b.length);
        }
        if (!found) return false;
        cur = b;
    }
    value = std::span<const uint8_t>(m_data.data() + cur.value_begin, cur.value_bytes);
    if (type) *type = cur.type;
    return true;
}

bool CVersionResource::ContainsLangId(uint16_t& language, uint16_t& code_page) const {
    EM_TRACE(4, u"\nCVersionResource    : Search version info entry for lang ID 0x%04X and code page %d ...", language,
             code_page);
    const uint16_t requested = language;
    std::span<const uint8_t> table;
    if (!QueryValue(u"\\VarFileInfo\\Translation", table)) table = {};
    const size_t count = table.size() / 4;
    EM_TRACE(5, u"\nCVersionResource    : Version resource contains %d language(s):", count);
    bool found = false;
    for (size_t i = 0; i < count; ++i) {
        const uint16_t entry_lang = LoadLe16(&table[4 * i]);
        EM_TRACE(5, u"\nCVersionResource    : Check version resource entry with lang ID 0x%04X", entry_lang);
        if (requested == 0 || requested == entry_lang) {
            language = entry_lang;
            code_page = LoadLe16(&table[4 * i + 2]);
            found = true;
            break;
        }
    }
    EM_TRACE(4,
             u"\nCVersionResource    : ... version info entry for lang ID 0x%04X %sfound (Return: Lang ID 0x%04X, Code page %d)!",
             requested, found ? u"" : u"NOT ", language, code_page);
    if (!found) platform::SetLastError(platform::kErrorResourceTypeNotFound);
    return found;
}

bool CVersionResource::QueryString(std::u16string& text, const char16_t* name, uint16_t language,
                                   uint16_t code_page) const {
    if (Empty() || !name) return false;
    if (!ContainsLangId(language, code_page)) {
        EM_TRACE(1, u"\nCVersionResource    : ERROR 0x%X! ContainsLangId() FAILED!", platform::GetLastError());
        return false;
    }
    char16_t block[260];
    const FormatArg args[] = {language, code_page, name};
    const size_t len = FormatTo(block, 259, u"\\StringFileInfo\\%04X%04X\\%s", args);
    const std::u16string_view block_name(block, len);
    EM_TRACE(5, u"\nCFileVersionInfo    : Query version info string \"%s\"", block_name);
    std::span<const uint8_t> value;
    if (!QueryValue(block_name, value)) {
        platform::SetLastError(platform::kErrorResourceTypeNotFound);
        EM_TRACE(1, u"\nCVersionResource    : ERROR 0x%X! VerQueryValue() FAILED!", platform::GetLastError());
        return false;
    }
    std::u16string result;
    for (size_t i = 0; i + 1 < value.size(); i += 2) {
        char16_t c = static_cast<char16_t>(LoadLe16(&value[i]));
        if (c == 0) break;
        result.push_back(IsPrintable(c) ? c : u'?');
    }
    text = std::move(result);
    EM_TRACE(4, u"\nCVersionResource    : Version info string for \"%s\": \"%s\"", name, text);
    return true;
}

bool CVersionResource::GetFixedInfo(VsFixedFileInfo& info) const {
    std::span<const uint8_t> v;
    if (!QueryValue(u"\\", v) || v.size() < 52) return false;
    uint32_t* fields[] = {&info.dwSignature,        &info.dwStrucVersion,     &info.dwFileVersionMS,
                          &info.dwFileVersionLS,    &info.dwProductVersionMS, &info.dwProductVersionLS,
                          &info.dwFileFlagsMask,    &info.dwFileFlags,        &info.dwFileOS,
                          &info.dwFileType,         &info.dwFileSubtype,      &info.dwFileDateMS,
                          &info.dwFileDateLS};
    for (size_t i = 0; i < 13; ++i) *fields[i] = LoadLe32(&v[4 * i]);
    return true;
}

void CFileVersionInfo::SetSystemDirectories(DirectoryFn system_dir, DirectoryFn wow64_dir) {
    g_systemDir.store(system_dir);
    g_wow64Dir.store(wow64_dir);
}

void CFileVersionInfo::LoadFromModule(const void* address_in_module) {
    std::u16string path;
    if (!platform::GetModulePath(address_in_module, path)) return;
    if (path.size() > 520) path.resize(520);
    m_strFileName = path;
    m_bHasFileName = true;
    LoadFromFile(m_strFileName.c_str());
}

bool CFileVersionInfo::LoadFromFile(const char16_t* path) {
    if (!path || !*path) return false;
    const std::u16string original(path);
    std::u16string redirected;  // the same file in the 32-bit system directory, when that exists

    // The redirected name of a file under the system directory, or empty.
    auto redirect = [&](bool trace) -> std::u16string {
        std::u16string system_dir;
        DirectoryFn sys = g_systemDir.load();
        if (!(sys ? sys(system_dir) : platform::GetSystemDirectory(system_dir))) return {};
        if (system_dir.size() > 260) system_dir.resize(260);
        if (trace) EM_TRACE(3, u"\nCFileVersionInfo    : System dir is: \"%s\"", system_dir);
        std::u16string wow64_dir;
        DirectoryFn wow = g_wow64Dir.load();
        if (original.find(system_dir) == std::u16string::npos) return {};
        if (!(wow ? wow(wow64_dir) : platform::GetSystemWow64Directory(wow64_dir)) || wow64_dir.empty()) return {};
        const std::u16string rest = original.substr(std::min(system_dir.size(), original.size()));
        if (trace) EM_TRACE(3, u"\nCFileVersionInfo    : Module system location is: \"%s\"", rest);
        std::u16string composed = wow64_dir + rest;
        if (composed.size() > 259) composed.resize(259);
        if (trace) EM_TRACE(3, u"\nCFileVersionInfo    : Check WOW64 system path: \"%s\"", composed);
        return composed;
    };

    std::u16string tried = original;
    uint32_t size = platform::GetFileVersionInfoSize(original);
    if (size == 0 && platform::GetLastError() == 2) {
        redirected = redirect(true);
        if (!redirected.empty()) {
            tried = redirected;
            size = platform::GetFileVersionInfoSize(redirected);
        }
    }
    if (size == 0) {
        EM_TRACE(1, u"\nCFileVersionInfo    : ERROR 0x%X! GetFileVersionInfoSize() (\"%s\") FAILED!", platform::GetLastError(),
                 tried);
        return false;
    }

    std::vector<uint8_t> buffer(size, 0);
    bool ok = platform::GetFileVersionInfo(original, size, buffer.data());
    if (!ok && platform::GetLastError() == 2) {
        if (redirected.empty()) redirected = redirect(false);
        if (!redirected.empty()) ok = platform::GetFileVersionInfo(redirected, size, buffer.data());
    }
    m_resource.Assign(std::move(buffer), ok);
    if (!m_bHasFileName || m_strFileName != original) {
        m_strFileName = original;
        m_bHasFileName = true;
    }
    return ok;
}

const std::u16string& CFileVersionInfo::GetString(const char16_t* name, uint16_t language) {
    if (m_resource.Empty()) return m_strLast;
    std::u16string text;
    if (m_resource.QueryString(text, name, language, 0)) m_strLast = std::move(text);
    return m_strLast;
}

bool CFileVersionInfo::GetFileVersion(std::u16string& text) {
    if (!m_bHasFileName) return false;
    if (m_resource.Empty()) LoadFromFile(m_strFileName.c_str());
    VsFixedFileInfo info;
    if (!m_resource.GetFixedInfo(info)) return false;
    text = Format(u"%d.%d.%d.%d", info.dwFileVersionMS >> 16, info.dwFileVersionMS & 0xFFFF,
                  info.dwFileVersionLS >> 16, info.dwFileVersionLS & 0xFFFF);
    return true;
}

}  // namespace em::diag

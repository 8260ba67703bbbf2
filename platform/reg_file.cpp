#include "platform/reg_file.h"

#include <optional>

#include "platform/codepage.h"
#include "platform/registry.h"

namespace em::platform {

namespace {

char16_t FoldChar(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    return c;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view Trim(std::u16string_view s) {
    while (!s.empty() && (IsBlank(s.front()) || s.front() == u'\r')) s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == u'\r')) s.remove_suffix(1);
    return s;
}

bool EqualsFolded(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldChar(a[i]) != FoldChar(b[i])) return false;
    return true;
}

bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n;
        if (c < 0x80) n = 0;
        else if (c >= 0xC2 && c <= 0xDF) n = 1;
        else if (c >= 0xE0 && c <= 0xEF) n = 2;
        else if (c >= 0xF0 && c <= 0xF4) n = 3;
        else return false;
        if (n > 0 && i + n >= s.size()) return false;
        for (size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n + 1;
    }
    return true;
}

// The file's text as UTF-16, by its byte order mark or its content.
std::u16string Decode(std::string_view bytes) {
    std::u16string text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        text.reserve(bytes.size() / 2);
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        return text;
    }
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
        static_cast<unsigned char>(bytes[1]) == 0xFF) {
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text.push_back(static_cast<char16_t>((static_cast<unsigned char>(bytes[i]) << 8) |
                                                 static_cast<unsigned char>(bytes[i + 1])));
        return text;
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    if (IsValidUtf8(bytes)) {
        Utf8ToUtf16(bytes, text);
    } else if (!MultiByteToWide(kCodePageAnsi, bytes, text)) {
        Utf8ToUtf16(bytes, text);
    }
    return text;
}

void PutUtf16(std::vector<uint8_t>& out, std::u16string_view s) {
    for (char16_t c : s) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Reads hex digits from s[p] on into v, advancing p; stops after 9 digits so that a number too
// long for 32 bits shows as 9. Returns the number of digits read (1 to 8 is a valid number).
size_t ReadHexNumber(std::u16string_view s, size_t& p, uint32_t& v) {
    size_t digits = 0;
    while (p < s.size() && HexDigit(s[p]) >= 0 && digits < 9) {
        v = (v << 4) | static_cast<uint32_t>(HexDigit(s[p]));
        ++p;
        ++digits;
    }
    return digits;
}

// Reads a quoted text starting at s[pos] == '"'. Escapes: \\ and \" (and \0 for the NUL that
// separates the texts of a multi-string). Other backslashes stay as written.
std::optional<std::u16string> ReadQuoted(std::u16string_view s, size_t& pos) {
    if (pos >= s.size() || s[pos] != u'"') return std::nullopt;
    std::u16string out;
    for (size_t i = pos + 1; i < s.size(); ++i) {
        char16_t c = s[i];
        if (c == u'"') {
            pos = i + 1;
            return out;
        }
        if (c == u'\\' && i + 1 < s.size()) {
            char16_t n = s[i + 1];
            if (n == u'\\' || n == u'"') {
                out.push_back(n);
                ++i;
                continue;
            }
            if (n == u'0') {
                out.push_back(0);
                ++i;
                continue;
            }
        }
        out.push_back(c);
    }
    return std::nullopt;  // unterminated
}

// What may follow a value: blanks and a comment.
bool OnlyTrailer(std::u16string_view rest) {
    rest = Trim(rest);
    return rest.empty() || rest.front() == u';';
}

std::optional<std::vector<uint8_t>> ReadHexBytes(std::u16string_view s) {
    std::vector<uint8_t> out;
    size_t i = 0;
    auto skip = [&] {
        while (i < s.size() && IsBlank(s[i])) ++i;
    };
    skip();
    if (i >= s.size() || s[i] == u';') return out;
    while (true) {
        skip();
        int hi = i < s.size() ? HexDigit(s[i]) : -1;
        if (hi < 0) return std::nullopt;
        ++i;
        int lo = i < s.size() ? HexDigit(s[i]) : -1;
        int v = hi;
        if (lo >= 0) {
            v = hi * 16 + lo;
            ++i;
        }
        out.push_back(static_cast<uint8_t>(v));
        skip();
        if (i >= s.size() || s[i] == u';') return out;
        if (s[i] != u',') return std::nullopt;
        ++i;
        skip();
        if (i >= s.size() || s[i] == u';') return out;  // a trailing comma
    }
}

}  // namespace

std::u16string RegFile::FoldName(std::u16string_view name) {
    std::u16string out(name);
    for (auto& c : out) c = FoldChar(c);
    return out;
}

std::u16string RegFile::NormaliseKey(std::u16string_view path) {
    std::u16string out;
    out.reserve(path.size());
    for (char16_t c : path) {
        if (c == u'\\' && (out.empty() || out.back() == u'\\')) continue;
        out.push_back(FoldChar(c));
    }
    while (!out.empty() && out.back() == u'\\') out.pop_back();
    return out;
}

bool RegFile::HasKey(std::u16string_view path) const {
    std::u16string key = NormaliseKey(path);
    auto it = m_keys.lower_bound(key);
    if (it == m_keys.end()) return false;
    if (it->first == key) return true;
    if (key.empty()) return true;
    return it->first.size() > key.size() && it->first.compare(0, key.size(), key) == 0 &&
           it->first[key.size()] == u'\\';
}

const std::map<std::u16string, RegValue>* RegFile::Values(std::u16string_view key) const {
    auto it = m_keys.find(NormaliseKey(key));
    return it == m_keys.end() ? nullptr : &it->second;
}

const RegValue* RegFile::FindValue(std::u16string_view key, std::u16string_view name) const {
    const auto* values = Values(key);
    if (!values) return nullptr;
    auto it = values->find(FoldName(name));
    return it == values->end() ? nullptr : &it->second;
}

bool RegFile::Parse(std::string_view bytes) {
    m_keys.clear();
    m_skipped = 0;
    const std::u16string text = Decode(bytes);

    // Physical lines.
    std::vector<std::u16string_view> lines;
    {
        std::u16string_view all(text);
        size_t start = 0;
        while (start <= all.size()) {
            size_t nl = all.find(u'\n', start);
            if (nl == std::u16string_view::npos) nl = all.size();
            lines.push_back(all.substr(start, nl - start));
            start = nl + 1;
        }
    }

    size_t n = 0;
    while (n < lines.size() && Trim(lines[n]).empty()) ++n;
    if (n == lines.size()) return false;
    const std::u16string_view header = Trim(lines[n]);
    bool regedit4 = false;
    if (header == u"REGEDIT4") regedit4 = true;
    else if (header != u"Windows Registry Editor Version 5.00") return false;
    ++n;

    std::map<std::u16string, RegValue>* current = nullptr;
    bool in_section = false;  // a section of any root has been opened
    std::u16string logical;
    while (n < lines.size()) {
        std::u16string_view first = Trim(lines[n++]);
        if (first.empty() || first.front() == u';') continue;
        logical.assign(first);
        // A line ending in a backslash continues on the next one (regedit wraps hex lists so).
        while (!logical.empty() && logical.back() == u'\\' && n < lines.size()) {
            logical.pop_back();
            logical.append(Trim(lines[n++]));
        }
        std::u16string_view line(logical);

        if (line.front() == u'[') {
            size_t close = line.rfind(u']');
            if (close == std::u16string_view::npos) {
                ++m_skipped;
                current = nullptr;
                in_section = true;
                continue;
            }
            std::u16string_view path = Trim(line.substr(1, close - 1));
            bool remove = !path.empty() && path.front() == u'-';
            if (remove) path.remove_prefix(1);
            size_t slash = path.find(u'\\');
            std::u16string_view root = path.substr(0, slash);
            std::u16string_view sub = slash == std::u16string_view::npos ? std::u16string_view() : path.substr(slash + 1);
            in_section = true;
            current = nullptr;
            if (!EqualsFolded(root, u"HKEY_LOCAL_MACHINE") && !EqualsFolded(root, u"HKLM")) continue;
            std::u16string key = NormaliseKey(sub);
            if (remove) {
                for (auto it = m_keys.lower_bound(key); it != m_keys.end();) {
                    bool below = it->first == key || key.empty() ||
                                 (it->first.size() > key.size() && it->first.compare(0, key.size(), key) == 0 &&
                                  it->first[key.size()] == u'\\');
                    if (!below) break;
                    it = m_keys.erase(it);
                }
                continue;
            }
            current = &m_keys[key];
            continue;
        }

        // A value line: "name"=... or @=...
        size_t pos = 0;
        std::u16string name;
        if (line.front() == u'@') {
            pos = 1;
        } else if (line.front() == u'"') {
            auto q = ReadQuoted(line, pos);
            if (!q) {
                ++m_skipped;
                continue;
            }
            name = std::move(*q);
        } else {
            ++m_skipped;
            continue;
        }
        while (pos < line.size() && IsBlank(line[pos])) ++pos;
        if (pos >= line.size() || line[pos] != u'=') {
            ++m_skipped;
            continue;
        }
        ++pos;
        while (pos < line.size() && IsBlank(line[pos])) ++pos;
        std::u16string_view rest = line.substr(pos);

        RegValue value;
        bool erase = false;
        bool ok = false;
        if (!rest.empty() && rest.front() == u'-') {
            erase = true;
            ok = OnlyTrailer(rest.substr(1));
        } else if (!rest.empty() && rest.front() == u'"') {
            size_t p = 0;
            auto q = ReadQuoted(rest, p);
            if (q && OnlyTrailer(rest.substr(p))) {
                value.type = kRegSz;
                PutUtf16(value.data, *q);
                PutUtf16(value.data, std::u16string_view(u"\0", 1));
                ok = true;
            }
        } else if (rest.size() >= 6 && EqualsFolded(rest.substr(0, 6), u"dword:")) {
            size_t p = 6;
            uint32_t v = 0;
            size_t digits = ReadHexNumber(rest, p, v);
            if (digits >= 1 && digits <= 8 && OnlyTrailer(rest.substr(p))) {
                value.type = kRegDword;
                for (int b = 0; b < 4; ++b) value.data.push_back(static_cast<uint8_t>(v >> (8 * b)));
                ok = true;
            }
        } else if (rest.size() >= 3 && EqualsFolded(rest.substr(0, 3), u"hex")) {
            size_t p = 3;
            uint32_t type = kRegBinary;
            bool good = true;
            if (p < rest.size() && rest[p] == u'(') {
                ++p;
                uint32_t t = 0;
                size_t digits = ReadHexNumber(rest, p, t);
                good = digits >= 1 && digits <= 8 && p < rest.size() && rest[p] == u')';
                ++p;
                type = t;
            }
            if (good && p < rest.size() && rest[p] == u':') {
                auto bytes = ReadHexBytes(rest.substr(p + 1));
                if (bytes) {
                    value.type = type;
                    if (regedit4 && (type == kRegExpandSz || type == kRegMultiSz)) {
                        // REGEDIT4 lists these texts in the ANSI code page.
                        std::u16string wide;
                        std::string narrow(bytes->begin(), bytes->end());
                        MultiByteToWide(kCodePageAnsi, narrow, wide);
                        PutUtf16(value.data, wide);
                    } else {
                        value.data = std::move(*bytes);
                    }
                    ok = true;
                }
            }
        } else if (rest.size() >= 4 && EqualsFolded(rest.substr(0, 4), u"str(")) {
            size_t p = 4;
            uint32_t t = 0;
            size_t digits = ReadHexNumber(rest, p, t);
            if (digits >= 1 && digits <= 8 && p + 1 < rest.size() && rest[p] == u')' && rest[p + 1] == u':') {
                p += 2;
                auto q = ReadQuoted(rest, p);
                if (q && OnlyTrailer(rest.substr(p))) {
                    value.type = t;
                    PutUtf16(value.data, *q);
                    PutUtf16(value.data, std::u16string_view(u"\0", 1));
                    ok = true;
                }
            }
        }
        if (!ok) {
            ++m_skipped;
            continue;
        }
        if (!in_section) {
            ++m_skipped;  // a value before any key
            continue;
        }
        if (!current) continue;  // another root, or a deleted key
        std::u16string folded = FoldName(name);
        if (erase) current->erase(folded);
        else (*current)[folded] = std::move(value);
    }
    return true;
}

}  // namespace em::platform

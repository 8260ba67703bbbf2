#include "platform/reg_file.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <mutex>
#include <optional>

#include "platform/codepage.h"
#include "platform/registry.h"

namespace em::platform {

namespace {

// Lower-case letters of the Basic Multilingual Plane and the distance to their upper case, as
// runs of every (step 1) or every other (step 2) character. Only letters whose upper case has
// them as its lower case fold, so that dotless i, final sigma, the micro sign and title-case
// digraphs stay letters of their own, as in the registry.
struct FoldRun {
    char16_t first;
    char16_t last;
    int32_t delta;
    uint8_t step;
};
constexpr FoldRun kFoldRuns[] = {
    {0x00E0, 0x00F6, -32, 1}, {0x00F8, 0x00FE, -32, 1}, {0x00FF, 0x00FF, 121, 1}, {0x0101, 0x012F, -1, 2},
    {0x0133, 0x0137, -1, 2}, {0x013A, 0x0148, -1, 2}, {0x014B, 0x0177, -1, 2}, {0x017A, 0x017E, -1, 2},
    {0x0180, 0x0180, 195, 1}, {0x0183, 0x0185, -1, 2}, {0x0188, 0x0188, -1, 1}, {0x018C, 0x018C, -1, 1},
    {0x0192, 0x0192, -1, 1}, {0x0195, 0x0195, 97, 1}, {0x0199, 0x0199, -1, 1}, {0x019A, 0x019A, 163, 1},
    {0x019E, 0x019E, 130, 1}, {0x01A1, 0x01A5, -1, 2}, {0x01A8, 0x01A8, -1, 1}, {0x01AD, 0x01AD, -1, 1},
    {0x01B0, 0x01B0, -1, 1}, {0x01B4, 0x01B6, -1, 2}, {0x01B9, 0x01B9, -1, 1}, {0x01BD, 0x01BD, -1, 1},
    {0x01BF, 0x01BF, 56, 1}, {0x01C6, 0x01C6, -2, 1}, {0x01C9, 0x01C9, -2, 1}, {0x01CC, 0x01CC, -2, 1},
    {0x01CE, 0x01DC, -1, 2}, {0x01DD, 0x01DD, -79, 1}, {0x01DF, 0x01EF, -1, 2}, {0x01F3, 0x01F3, -2, 1},
    {0x01F5, 0x01F5, -1, 1}, {0x01F9, 0x021F, -1, 2}, {0x0223, 0x0233, -1, 2}, {0x023C, 0x023C, -1, 1},
    {0x023F, 0x0240, 10815, 1}, {0x0242, 0x0242, -1, 1}, {0x0247, 0x024F, -1, 2}, {0x0250, 0x0250, 10783, 1},
    {0x0251, 0x0251, 10780, 1}, {0x0252, 0x0252, 10782, 1}, {0x0253, 0x0253, -210, 1}, {0x0254, 0x0254, -206, 1},
    {0x0256, 0x0257, -205, 1}, {0x0259, 0x0259, -202, 1}, {0x025B, 0x025B, -203, 1}, {0x025C, 0x025C, 42319, 1},
    {0x0260, 0x0260, -205, 1}, {0x0261, 0x0261, 42315, 1}, {0x0263, 0x0263, -207, 1}, {0x0265, 0x0265, 42280, 1},
    {0x0266, 0x0266, 42308, 1}, {0x0268, 0x0268, -209, 1}, {0x0269, 0x0269, -211, 1}, {0x026A, 0x026A, 42308, 1},
    {0x026B, 0x026B, 10743, 1}, {0x026C, 0x026C, 42305, 1}, {0x026F, 0x026F, -211, 1}, {0x0271, 0x0271, 10749, 1},
    {0x0272, 0x0272, -213, 1}, {0x0275, 0x0275, -214, 1}, {0x027D, 0x027D, 10727, 1}, {0x0280, 0x0280, -218, 1},
    {0x0282, 0x0282, 42307, 1}, {0x0283, 0x0283, -218, 1}, {0x0287, 0x0287, 42282, 1}, {0x0288, 0x0288, -218, 1},
    {0x0289, 0x0289, -69, 1}, {0x028A, 0x028B, -217, 1}, {0x028C, 0x028C, -71, 1}, {0x0292, 0x0292, -219, 1},
    {0x029D, 0x029D, 42261, 1}, {0x029E, 0x029E, 42258, 1}, {0x0371, 0x0373, -1, 2}, {0x0377, 0x0377, -1, 1},
    {0x037B, 0x037D, 130, 1}, {0x03AC, 0x03AC, -38, 1}, {0x03AD, 0x03AF, -37, 1}, {0x03B1, 0x03C1, -32, 1},
    {0x03C3, 0x03CB, -32, 1}, {0x03CC, 0x03CC, -64, 1}, {0x03CD, 0x03CE, -63, 1}, {0x03D7, 0x03D7, -8, 1},
    {0x03D9, 0x03EF, -1, 2}, {0x03F2, 0x03F2, 7, 1}, {0x03F3, 0x03F3, -116, 1}, {0x03F8, 0x03F8, -1, 1},
    {0x03FB, 0x03FB, -1, 1}, {0x0430, 0x044F, -32, 1}, {0x0450, 0x045F, -80, 1}, {0x0461, 0x0481, -1, 2},
    {0x048B, 0x04BF, -1, 2}, {0x04C2, 0x04CE, -1, 2}, {0x04CF, 0x04CF, -15, 1}, {0x04D1, 0x052F, -1, 2},
    {0x0561, 0x0586, -48, 1}, {0x10D0, 0x10FA, 3008, 1}, {0x10FD, 0x10FF, 3008, 1}, {0x13F8, 0x13FD, -8, 1},
    {0x1D79, 0x1D79, 35332, 1}, {0x1D7D, 0x1D7D, 3814, 1}, {0x1D8E, 0x1D8E, 35384, 1}, {0x1E01, 0x1E95, -1, 2},
    {0x1EA1, 0x1EFF, -1, 2}, {0x1F00, 0x1F07, 8, 1}, {0x1F10, 0x1F15, 8, 1}, {0x1F20, 0x1F27, 8, 1},
    {0x1F30, 0x1F37, 8, 1}, {0x1F40, 0x1F45, 8, 1}, {0x1F51, 0x1F57, 8, 2}, {0x1F60, 0x1F67, 8, 1},
    {0x1F70, 0x1F71, 74, 1}, {0x1F72, 0x1F75, 86, 1}, {0x1F76, 0x1F77, 100, 1}, {0x1F78, 0x1F79, 128, 1},
    {0x1F7A, 0x1F7B, 112, 1}, {0x1F7C, 0x1F7D, 126, 1}, {0x1FB0, 0x1FB1, 8, 1}, {0x1FD0, 0x1FD1, 8, 1},
    {0x1FE0, 0x1FE1, 8, 1}, {0x1FE5, 0x1FE5, 7, 1}, {0x214E, 0x214E, -28, 1}, {0x2170, 0x217F, -16, 1},
    {0x2184, 0x2184, -1, 1}, {0x24D0, 0x24E9, -26, 1}, {0x2C30, 0x2C5F, -48, 1}, {0x2C61, 0x2C61, -1, 1},
    {0x2C65, 0x2C65, -10795, 1}, {0x2C66, 0x2C66, -10792, 1}, {0x2C68, 0x2C6C, -1, 2}, {0x2C73, 0x2C73, -1, 1},
    {0x2C76, 0x2C76, -1, 1}, {0x2C81, 0x2CE3, -1, 2}, {0x2CEC, 0x2CEE, -1, 2}, {0x2CF3, 0x2CF3, -1, 1},
    {0x2D00, 0x2D25, -7264, 1}, {0x2D27, 0x2D27, -7264, 1}, {0x2D2D, 0x2D2D, -7264, 1}, {0xA641, 0xA66D, -1, 2},
    {0xA681, 0xA69B, -1, 2}, {0xA723, 0xA72F, -1, 2}, {0xA733, 0xA76F, -1, 2}, {0xA77A, 0xA77C, -1, 2},
    {0xA77F, 0xA787, -1, 2}, {0xA78C, 0xA78C, -1, 1}, {0xA791, 0xA793, -1, 2}, {0xA794, 0xA794, 48, 1},
    {0xA797, 0xA7A9, -1, 2}, {0xA7B5, 0xA7C3, -1, 2}, {0xA7C8, 0xA7CA, -1, 2}, {0xA7D1, 0xA7D1, -1, 1},
    {0xA7D7, 0xA7D9, -1, 2}, {0xA7F6, 0xA7F6, -1, 1}, {0xAB53, 0xAB53, -928, 1}, {0xAB70, 0xABBF, -38864, 1},
    {0xFF41, 0xFF5A, -32, 1},
};

char16_t FoldChar(char16_t c) {
    if (c < 0x80) return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
    const auto* run = std::upper_bound(std::begin(kFoldRuns), std::end(kFoldRuns), c,
                                       [](char16_t v, const FoldRun& r) { return v < r.first; });
    if (run == std::begin(kFoldRuns)) return c;
    --run;
    if (c > run->last || (c - run->first) % run->step != 0) return c;
    return static_cast<char16_t>(c + run->delta);
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

// The file's text as UTF-16, by its byte order mark or its content; utf16 tells whether the file
// itself was UTF-16.
std::u16string Decode(std::string_view bytes, bool& utf16) {
    utf16 = true;
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
    utf16 = false;
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

// Reads a quoted text starting at s[pos] == '"'. Escapes as the registry import reads them:
// \\, \", \n (line feed) and \r (carriage return); any other character after a backslash stands
// for itself. \0 is the NUL that separates the texts of a multi-string where nul_allowed is set
// (str(N) values), and makes the text invalid elsewhere. A backslash at the end leaves the text
// unterminated.
std::optional<std::u16string> ReadQuoted(std::u16string_view s, size_t& pos, bool nul_allowed = false) {
    if (pos >= s.size() || s[pos] != u'"') return std::nullopt;
    std::u16string out;
    for (size_t i = pos + 1; i < s.size(); ++i) {
        char16_t c = s[i];
        if (c == u'"') {
            pos = i + 1;
            return out;
        }
        if (c == u'\\') {
            if (++i >= s.size()) break;
            c = s[i];
            if (c == u'n') c = u'\n';
            else if (c == u'r') c = u'\r';
            else if (c == u'0' && !nul_allowed) return std::nullopt;
            else if (c == u'0') c = 0;
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

// Hex bytes "01,2,ff" with blanks allowed before a byte but not between a byte and its comma; a
// trailing comma and a comment are allowed.
std::optional<std::vector<uint8_t>> ReadHexBytes(std::u16string_view s) {
    std::vector<uint8_t> out;
    size_t i = 0;
    auto skip = [&] {
        while (i < s.size() && IsBlank(s[i])) ++i;
    };
    auto end = [&] { return i >= s.size() || s[i] == u';'; };
    skip();
    if (end()) return out;
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
        if (end()) return out;
        if (s[i] != u',') {
            skip();
            if (end()) return out;  // blanks before the end of the line
            return std::nullopt;
        }
        ++i;
        skip();
        if (end()) return out;  // a trailing comma
    }
}

// A hex list continues on the next line when its last comma is followed by a backslash (and
// perhaps a comment). Returns the text without the backslash and what follows it, or nothing
// when the list does not continue.
std::optional<std::u16string_view> ContinuedHex(std::u16string_view data) {
    const size_t slash = data.find(u'\\');
    if (slash == std::u16string_view::npos) return std::nullopt;
    const size_t comment = data.find(u';');
    if (comment != std::u16string_view::npos && comment < slash) return std::nullopt;
    if (!OnlyTrailer(data.substr(slash + 1))) return std::nullopt;
    std::u16string_view before = Trim(data.substr(0, slash));
    if (!before.empty() && before.back() != u',') return std::nullopt;
    return data.substr(0, slash);
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
    bool utf16_file = false;
    const std::u16string text = Decode(bytes, utf16_file);

    // Physical lines, ended by CR LF, LF or CR alone.
    std::vector<std::u16string_view> lines;
    {
        std::u16string_view all(text);
        size_t start = 0;
        while (start <= all.size()) {
            size_t nl = all.find_first_of(u"\r\n", start);
            if (nl == std::u16string_view::npos) nl = all.size();
            lines.push_back(all.substr(start, nl - start));
            start = nl + (all.substr(nl, 2) == u"\r\n" ? 2 : 1);
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
    std::u16string hex_list;
    while (n < lines.size()) {
        std::u16string_view line = Trim(lines[n++]);
        if (line.empty() || line.front() == u';') continue;

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
        } else if (rest.starts_with(u"dword:")) {
            size_t p = 6;
            while (p < rest.size() && IsBlank(rest[p])) ++p;
            uint32_t v = 0;
            size_t digits = ReadHexNumber(rest, p, v);
            if (digits >= 1 && digits <= 8 && OnlyTrailer(rest.substr(p))) {
                value.type = kRegDword;
                for (int b = 0; b < 4; ++b) value.data.push_back(static_cast<uint8_t>(v >> (8 * b)));
                ok = true;
            }
        } else if (rest.starts_with(u"hex")) {
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
                // regedit wraps long lists: ",\" at the end of a line, blank and comment lines
                // between the parts allowed.
                std::u16string_view list = rest.substr(p + 1);
                if (auto head = ContinuedHex(list)) {
                    hex_list.assign(*head);
                    while (n < lines.size()) {
                        const std::u16string_view next = Trim(lines[n++]);
                        if (next.empty() || next.front() == u';') continue;
                        auto more = ContinuedHex(next);
                        hex_list.append(more ? *more : next);
                        if (!more) break;
                    }
                    list = hex_list;
                }
                auto bytes = ReadHexBytes(list);
                if (bytes) {
                    value.type = type;
                    if ((regedit4 || !utf16_file) && (type == kRegExpandSz || type == kRegMultiSz)) {
                        // A file that is not UTF-16 (and every REGEDIT4 file) lists these texts
                        // in the ANSI code page, one byte a character.
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
        } else if (rest.starts_with(u"str(")) {
            size_t p = 4;
            uint32_t t = 0;
            size_t digits = ReadHexNumber(rest, p, t);
            if (digits >= 1 && digits <= 8 && p + 1 < rest.size() && rest[p] == u')' && rest[p + 1] == u':') {
                p += 2;
                auto q = ReadQuoted(rest, p, true);
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

uint32_t QueryFileValue(const std::map<std::u16string, RegValue>& values, std::u16string_view name, uint32_t* type,
                        void* data, uint32_t* size) {
    auto it = values.find(RegFile::FoldName(name));
    if (it == values.end()) return kErrorFileNotFound;
    const RegValue& v = it->second;
    const auto len = static_cast<uint32_t>(v.data.size());
    if (type) *type = v.type;
    if (!data) {
        if (size) *size = len;
        return kErrorSuccess;
    }
    if (!size) return kErrorInvalidParameter;
    if (*size < len) {
        *size = len;
        return kErrorMoreData;
    }
    if (len) std::memcpy(data, v.data.data(), len);
    *size = len;
    return kErrorSuccess;
}

namespace {

struct Override {
    std::mutex mutex;
    std::string path;
};

Override& TheOverride() {
    static Override o;  // built on first use: the trace facility reads the registry at load time
    return o;
}

}  // namespace

std::string RegistryFileOverride() {
    Override& o = TheOverride();
    std::lock_guard<std::mutex> g(o.mutex);
    return o.path;
}

void SetRegistryFile(std::string_view path) {
    Override& o = TheOverride();
    std::lock_guard<std::mutex> g(o.mutex);
    o.path.assign(path);
}

}  // namespace em::platform

// CXmlDocument: reading files, encoding detection and conversion to UTF-16.
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/sync.h"
#include "xml/xml_document.h"
#include "xml/xml_scan.h"
#include "xml/xml_tables.h"

namespace em::xml {

using detail::AsciiLower;
using detail::EqualNames;
using detail::IsSpace;
using detail::Scanner;
using detail::Tok;
using detail::Token;

namespace {

constexpr size_t kFirstChunk = 1024;  // bytes searched for a declared encoding

// The system's message text for an error code of the platform layer, cut at its first line break.
// The platform reports errno values as Windows codes; this maps them back for the C library text.
std::u16string SystemMessageText(uint32_t code) {
    int err = 0;
    switch (code) {
        case 2: err = ENOENT; break;
        case 3: err = ENOTDIR; break;
        case 4: err = EMFILE; break;
        case 5: err = EACCES; break;
        case 6: err = EBADF; break;
        case 8: err = ENOMEM; break;
        case 87: err = EINVAL; break;
        case 112: err = ENOSPC; break;
        case 183: err = EEXIST; break;
        case 1460: err = ETIMEDOUT; break;
        default:
            if (code & 0x20000000u) err = static_cast<int>(code & 0xFFFFu);
    }
    std::string text = err ? std::strerror(err) : "Unknown error";
    size_t cut = text.find_first_of("\r\n");
    if (cut != std::string::npos) text.resize(cut);
    return platform::Utf8ToUtf16(text);
}

bool IsValidUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        if (i + 8 <= n) {
            uint64_t w;
            std::memcpy(&w, p + i, 8);
            if (!(w & 0x8080808080808080ull)) {
                i += 8;
                continue;
            }
        }
        const unsigned c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t need;
        uint32_t cp, min;
        if (c >= 0xC2 && c <= 0xDF) { need = 1; cp = c & 0x1F; min = 0x80; }
        else if (c >= 0xE0 && c <= 0xEF) { need = 2; cp = c & 0x0F; min = 0x800; }
        else if (c >= 0xF0 && c <= 0xF4) { need = 3; cp = c & 0x07; min = 0x10000; }
        else return false;
        if (n - i <= need) return false;  // incomplete at the end
        for (size_t k = 1; k <= need; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += need + 1;
    }
    return true;
}

void Utf32ToUtf16(std::string_view bytes, bool big_endian, std::u16string& out) {
    out.clear();
    out.reserve(bytes.size() / 4 + 1);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t i = 0;
    for (; i + 4 <= bytes.size(); i += 4) {
        uint32_t cp = big_endian ? (uint32_t{p[i]} << 24 | uint32_t{p[i + 1]} << 16 | uint32_t{p[i + 2]} << 8 | p[i + 3])
                                 : (uint32_t{p[i + 3]} << 24 | uint32_t{p[i + 2]} << 16 | uint32_t{p[i + 1]} << 8 | p[i]);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(u'\xFFFD');
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    if (i < bytes.size()) out.push_back(u'\xFFFD');
}

// The charset named in a "content" value such as "text/html; charset=iso-8859-1".
std::u16string_view CharsetOfContent(std::u16string_view content) {
    constexpr std::u16string_view key = u"charset";
    for (size_t i = 0; i + key.size() <= content.size(); ++i) {
        if (!EqualNames(content.substr(i, key.size()), key, true)) continue;
        size_t j = i + key.size();
        while (j < content.size() && IsSpace(content[j])) ++j;
        if (j >= content.size() || content[j] != u'=') continue;
        ++j;
        while (j < content.size() && (IsSpace(content[j]) || content[j] == u'"' || content[j] == u'\'')) ++j;
        size_t e = j;
        while (e < content.size() && !IsSpace(content[e]) && content[e] != u';' && content[e] != u'"' &&
               content[e] != u'\'')
            ++e;
        return content.substr(j, e - j);
    }
    return {};
}

// Attribute value of a tag or processing instruction found by the sniffer (names ignore case).
std::u16string_view SniffAttribute(const char16_t* s, size_t from, size_t to, std::u16string_view name) {
    std::u16string_view value;
    if (from > to) return value;
    detail::ForEachAttribute(s, from, to, [&](std::u16string_view n, std::u16string_view v) {
        if (!EqualNames(n, name, true)) return true;
        value = v;
        return false;
    });
    return value;
}

// The encoding declared by an XML declaration or an HTML meta tag in the first chunk.
std::u16string DeclaredEncoding(std::u16string_view chunk) {
    const char16_t* s = chunk.data();
    Scanner scan(s, chunk.size());
    Token t;
    bool in_html = false;
    while (scan.Next(t)) {
        const std::u16string_view name(s + t.name_start, t.name_len);
        switch (t.kind) {
            case Tok::ProcessingInstruction:
                if (EqualNames(name, u"xml", true))
                    return std::u16string(SniffAttribute(s, t.name_start + t.name_len, t.end - 2, u"encoding"));
                break;
            case Tok::StartTag:
            case Tok::EmptyTag: {
                if (!in_html) {
                    if (!EqualNames(name, u"html", true)) return {};
                    in_html = true;
                    break;
                }
                if (!EqualNames(name, u"meta", true)) break;
                const size_t from = t.name_start + t.name_len;
                const size_t to = t.end - (t.kind == Tok::EmptyTag ? 2 : 1);
                if (!EqualNames(SniffAttribute(s, from, to, u"http-equiv"), u"Content-Type", true)) break;
                std::u16string_view charset = CharsetOfContent(SniffAttribute(s, from, to, u"content"));
                if (!charset.empty()) return std::u16string(charset);
                break;
            }
            case Tok::EndTag:
                if (in_html && EqualNames(name, u"head", true)) return {};
                break;
            case Tok::Error:
            case Tok::Unterminated:
                return {};
            default:
                break;
        }
    }
    return {};
}

}  // namespace

uint32_t CharsetToCodePage(std::u16string_view name) {
    constexpr size_t kMaxName = 100;
    if (name.empty() || name.size() >= kMaxName) return 0;
    char16_t lower[kMaxName];
    for (size_t i = 0; i < name.size(); ++i) lower[i] = AsciiLower(name[i]);
    return detail::LookupCharset(std::u16string_view(lower, name.size()));
}

void ConvertToUtf16(std::u16string_view encoding, std::string_view bytes, std::u16string& out) {
    if (encoding.substr(0, 6) == u"UTF-32") {
        Utf32ToUtf16(bytes, encoding == u"UTF-32BE", out);
        return;
    }
    uint32_t cp = encoding.empty() ? platform::kCodePageAnsi : CharsetToCodePage(encoding);
    if (cp == 0) cp = platform::kCodePageAnsi;
    if (!platform::MultiByteToWide(cp, bytes, out)) platform::MultiByteToWide(platform::kCodePageAnsi, bytes, out);
}

bool CXmlDocument::LoadFile(const char16_t* path) {
    return LoadFile(path ? std::u16string_view(path) : std::u16string_view());
}

bool CXmlDocument::LoadFile(std::u16string_view path) {
    if (m_nDocFlags & (kFlagReadFile | kFlagWriteFile)) return false;
    m_nDocFlags &= ~(kFlagUtf16LeFile | kFlagUtf8Bom | kFlagUtf16BeFile);
    m_strDoc.clear();
    m_strResult.clear();

    platform::File file;
    uint64_t size = 0;
    bool ok = file.Open(path, platform::File::Mode::Read) && file.Size(&size);
    std::unique_ptr<char[]> buffer;
    size_t got = 0;
    if (ok && size > 0) {
        if (size >= 0x7FFFFFF0u) {  // beyond the reach of 32-bit text offsets
            platform::SetLastError(8);
            ok = false;
        } else {
            buffer.reset(new char[size]);
            platform::SetLastError(0);
            while (got < size) {
                size_t r = file.Read(buffer.get() + got, size - got);
                if (r == 0) break;
                got += r;
            }
            if (got < size && platform::GetLastError() != 0) ok = false;
        }
    }
    if (!ok) {
        const uint32_t code = platform::GetLastError();
        AddResult(u"file_error", u"msg", SystemMessageText(code), u"n", code, true);
        Parse();
        return false;
    }
    file.Close();
    return ReadBytes(std::string_view(buffer.get(), got));
}

bool CXmlDocument::LoadBytes(std::string_view bytes) {
    if (m_nDocFlags & (kFlagReadFile | kFlagWriteFile)) return false;
    m_nDocFlags &= ~(kFlagUtf16LeFile | kFlagUtf8Bom | kFlagUtf16BeFile);
    m_strDoc.clear();
    m_strResult.clear();
    return ReadBytes(bytes);
}

bool CXmlDocument::ReadBytes(std::string_view bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    std::u16string encoding;
    bool two_byte = false, big_endian = false;
    size_t skip = 0;
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        encoding = u"UTF-8";
        m_nDocFlags |= kFlagUtf8Bom;
        skip = 3;
    } else if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        encoding = u"UTF-16LE";
        m_nDocFlags |= kFlagUtf16LeFile;
        skip = 2;
        two_byte = true;
    } else if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
        encoding = u"UTF-16BE";
        m_nDocFlags |= kFlagUtf16BeFile;
        skip = 2;
        two_byte = big_endian = true;
    }
    if (skip) {
        AddResult(u"bom");
    } else if (n > 0) {
        encoding = DeclaredEncoding(platform::Utf8ToUtf16(bytes.substr(0, std::min(n, kFirstChunk))));
        if (encoding.empty() && b[0] == '<') encoding = u"UTF-8";
    }

    if (two_byte) {
        const size_t units = (n - skip) / 2;
        m_strDoc.resize(units);
        char16_t* out = m_strDoc.data();
        size_t len = 0;
        for (size_t i = 0; i < units; ++i) {
            const unsigned char lo = b[skip + 2 * i + (big_endian ? 1 : 0)];
            const unsigned char hi = b[skip + 2 * i + (big_endian ? 0 : 1)];
            const char16_t u = static_cast<char16_t>(hi << 8 | lo);
            if (u != 0) out[len++] = u;
        }
        m_strDoc.resize(len);
        if (len < units) AddResult(u"nulls_removed", {}, {}, u"count", units - len, true);
        if (big_endian) AddResult(u"endian_swap");
        AddResult(u"read", u"encoding", encoding, u"length", len, true);
        return Parse();
    }

    std::string_view data = bytes.substr(skip);
    std::string without_nulls;
    if (!data.empty() && std::memchr(data.data(), 0, data.size()) != nullptr) {
        without_nulls.reserve(data.size());
        for (char c : data)
            if (c != 0) without_nulls.push_back(c);
        AddResult(u"nulls_removed", {}, {}, u"count", data.size() - without_nulls.size(), true);
        data = without_nulls;
    }
    AddResult(u"read", u"encoding", encoding, u"length", data.size(), true);
    if (encoding.empty()) {
        const bool utf8 = IsValidUtf8(data);
        AddResult(u"utf8_detection");
        if (utf8) {
            encoding = u"UTF-8";
            SetResultEncoding(u"read", encoding);
        }
    }
    ConvertToUtf16(encoding, data, m_strDoc);
    AddResult(u"converted_to", u"encoding", u"UTF-16", u"length", m_strDoc.size(), true);
    return Parse();
}

}  // namespace em::xml

// CXmlDocument: element index, navigation and reading.
#include "xml/xml_document.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/codepage.h"
#include "xml/xml_scan.h"
#include "xml/xml_tables.h"

namespace em::xml {

using detail::AsciiLower;
using detail::EqualNames;
using detail::IsSpace;
using detail::Syntax;
using detail::Tok;
using detail::Token;

namespace {

constexpr size_t kResultLimit = 1000;  // no entry is added once the log is this long

void AppendEscaped(std::u16string& out, std::u16string_view value) {
    for (char16_t c : value) {
        switch (c) {
            case u'&': out += u"&amp;"; break;
            case u'<': out += u"&lt;"; break;
            case u'>': out += u"&gt;"; break;
            case u'"': out += u"&quot;"; break;
            default: out.push_back(c);
        }
    }
}

void AppendNumber(std::u16string& out, uint64_t v) {
    char16_t buf[24];
    size_t n = 0;
    do {
        buf[n++] = static_cast<char16_t>(u'0' + v % 10);
        v /= 10;
    } while (v);
    while (n) out.push_back(buf[--n]);
}

const char16_t* SyntaxEvent(Syntax e) {
    switch (e) {
        case Syntax::FirstTag: return u"first_tag_syntax";
        case Syntax::Exclamation: return u"exclamation_tag_syntax";
        case Syntax::Comment: return u"comment_tag_syntax";
        case Syntax::CDataSection: return u"cdata_section_syntax";
        case Syntax::DocTypeTag: return u"doctype_tag_syntax";
        case Syntax::None: break;
    }
    return u"syntax";
}

// Applies the white-space flags to decoded text in place.
void ApplyWhiteSpace(std::u16string& s, uint32_t flags) {
    if (!(flags & (kFlagTrimWhiteSpace | kFlagCollapseWhiteSpace))) return;
    size_t b = 0, e = s.size();
    while (b < e && IsSpace(s[b])) ++b;
    while (e > b && IsSpace(s[e - 1])) --e;
    if (!(flags & kFlagCollapseWhiteSpace)) {
        s = s.substr(b, e - b);
        return;
    }
    std::u16string out;
    out.reserve(e - b);
    for (size_t i = b; i < e; ++i) {
        if (IsSpace(s[i])) {
            while (i + 1 < e && IsSpace(s[i + 1])) ++i;
            out.push_back(u' ');
        } else {
            out.push_back(s[i]);
        }
    }
    s.swap(out);
}

// Value of a character reference body (the characters between "&" and ";", lowercased);
// 0 when it is not a reference this reader knows.
uint32_t ReferenceValue(std::u16string_view ref) {
    if (ref.empty()) return 0;
    if (ref[0] != u'#') return detail::LookupEntity(ref);
    bool hex = ref.size() > 1 && ref[1] == u'x';
    size_t i = hex ? 2 : 1;
    if (i >= ref.size()) return 0;
    uint64_t v = 0;
    for (; i < ref.size(); ++i) {
        char16_t c = ref[i];
        uint32_t d;
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (hex && c >= u'a' && c <= u'f')
            d = c - u'a' + 10;
        else
            return 0;
        v = v * (hex ? 16 : 10) + d;
    }
    return v > 0x10FFFF ? 0 : static_cast<uint32_t>(v);
}

void AppendDecoded(std::u16string& out, std::u16string_view in) {
    size_t i = 0;
    while (i < in.size()) {
        size_t amp = in.find(u'&', i);
        if (amp == std::u16string_view::npos) {
            out.append(in.substr(i));
            return;
        }
        out.append(in.substr(i, amp - i));
        // "&", at most nine characters, ";"
        char16_t ref[9];
        size_t k = 0;
        size_t j = amp + 1;
        while (j < in.size() && k < 9 && in[j] != u';') ref[k++] = AsciiLower(in[j++]);
        uint32_t cp = (j < in.size() && in[j] == u';') ? ReferenceValue(std::u16string_view(ref, k)) : 0;
        if (cp == 0) {
            out.push_back(u'&');
            i = amp + 1;
            continue;
        }
        platform::AppendCodePoint(cp, out);
        i = j + 1;
    }
}

// A piece of the stored text as UTF-16.
std::u16string Wide(std::u16string_view v) { return std::u16string(v); }
std::u16string Wide(std::u8string_view v) {
    for (char8_t c : v)
        if (c >= 0x80) return em::platform::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(v.data()), v.size()));
    return std::u16string(v.begin(), v.end());
}

// A name given by a caller in the stored text's code units.
std::u8string_view Native(std::u16string_view name, std::u8string& storage) {
    const std::string utf8 = em::platform::Utf16ToUtf8(name);
    storage.assign(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size());
    return storage;
}

// A caller's name, ready to be compared with names in the stored text. An ASCII name is compared
// with UTF-8 text unit by unit; any other is converted to UTF-8 once.
template <class Ch>
class NameKey {
public:
    explicit NameKey(std::u16string_view name) : m_wide(name) {
        if constexpr (sizeof(Ch) == 1) {
            for (char16_t c : name)
                if (c >= 0x80) {
                    m_ascii = false;
                    m_native = Native(name, m_storage);
                    break;
                }
        }
    }
    bool Matches(std::basic_string_view<Ch> text, bool fold) const {
        if constexpr (sizeof(Ch) == 2) {
            return EqualNames(text, m_wide, fold);
        } else {
            if (!m_ascii) return EqualNames(text, m_native, fold);
            if (text.size() != m_wide.size()) return false;
            for (size_t i = 0; i < text.size(); ++i) {
                char16_t a = text[i], b = m_wide[i];
                if (fold) {
                    a = AsciiLower(a);
                    b = AsciiLower(b);
                }
                if (a != b) return false;
            }
            return true;
        }
    }

private:
    std::u16string_view m_wide;
    bool m_ascii = true;
    std::basic_string<Ch> m_storage;
    std::basic_string_view<Ch> m_native;
};

// A name key (the bytes of its code units) with ASCII letters lowercased.
template <class Ch>
std::string FoldKey(std::string key) {
    for (size_t i = 0; i < key.size(); i += sizeof(Ch)) {
        Ch c;
        std::memcpy(&c, key.data() + i, sizeof(Ch));
        c = AsciiLower(c);
        std::memcpy(key.data() + i, &c, sizeof(Ch));
    }
    return key;
}

template <class Ch>
std::basic_string_view<Ch> View(const Ch* s, size_t from, size_t len) {
    return std::basic_string_view<Ch>(s + from, len);
}

}  // namespace

// ---- construction and loading ------------------------------------------------------------------

namespace {
std::atomic<uint64_t> g_loadGeneration{0};
uint64_t NextLoadGeneration() { return g_loadGeneration.fetch_add(1, std::memory_order_relaxed) + 1; }
}  // namespace

CXmlDocument::CXmlDocument(uint32_t flags) : m_nDocFlags(flags), m_nLoadGeneration(NextLoadGeneration()) {
    m_aElems.resize(1);
}

CXmlDocument::~CXmlDocument() = default;

bool CXmlDocument::SetDocument(const char16_t* text) {
    return SetDocument(text ? std::u16string_view(text) : std::u16string_view());
}

bool CXmlDocument::SetDocument(std::u16string_view text) { return SetDocument(std::u16string(text)); }

bool CXmlDocument::SetDocument(std::u16string&& text) {
    if (m_nDocFlags & (kFlagReadFile | kFlagWriteFile)) return false;
    m_strDoc = std::move(text);
    m_strDoc8 = {};
    m_bUtf8 = false;
    m_strResult.clear();
    return Parse();
}

std::u16string CXmlDocument::GetDoc() const {
    return m_bUtf8 ? Wide(std::u8string_view(Text8(), m_strDoc8.size())) : m_strDoc;
}

template <class Fn>
decltype(auto) CXmlDocument::WithText(Fn&& fn) const {
    return m_bUtf8 ? fn(Text8()) : fn(m_strDoc.data());
}

bool CXmlDocument::IsWellFormed() const {
    if (m_bSyntaxError || m_aElems.size() < 2) return false;
    const uint32_t root = m_aElems[0].iFirstChild;
    return root != 0 && m_aElems[root].iNext == 0;
}

// ---- result log ----------------------------------------------------------------------------------

void CXmlDocument::AddResult(std::u16string_view event, std::u16string_view text_attr,
                             std::u16string_view text, std::u16string_view num_attr, uint64_t num,
                             bool has_num, uint64_t num2, bool has_num2) {
    if (m_strResult.size() >= kResultLimit) return;
    m_strResult.push_back(u'<');
    m_strResult += event;
    if (!text_attr.empty()) {
        m_strResult.push_back(u' ');
        m_strResult += text_attr;
        m_strResult += u"=\"";
        AppendEscaped(m_strResult, text);
        m_strResult.push_back(u'"');
    }
    if (has_num) {
        m_strResult.push_back(u' ');
        m_strResult += num_attr;
        m_strResult += u"=\"";
        AppendNumber(m_strResult, num);
        m_strResult.push_back(u'"');
    }
    if (has_num2) {
        m_strResult += u" offset2=\"";
        AppendNumber(m_strResult, num2);
        m_strResult.push_back(u'"');
    }
    m_strResult += u"/>";
}

void CXmlDocument::SetResultEncoding(std::u16string_view event, std::u16string_view encoding) {
    std::u16string head = u"<";
    head += event;
    head += u" encoding=\"";
    size_t p = m_strResult.find(head);
    if (p == std::u16string::npos) return;
    p += head.size();
    size_t q = m_strResult.find(u'"', p);
    if (q == std::u16string::npos) return;
    std::u16string value;
    AppendEscaped(value, encoding);
    m_strResult.replace(p, q - p, value);
}

// ---- building the index ------------------------------------------------------------------------

bool CXmlDocument::Parse() {
    const size_t n = m_bUtf8 ? m_strDoc8.size() : m_strDoc.size();
    ParseState st;
    BeginIndex(n, st);
    if (n == 0 || n >= 0xFFFFFFF0u) {  // offsets are 32-bit
        m_bSyntaxError = n != 0;
        return false;
    }
    if (m_bUtf8) {
        ParseRange(Text8(), st, n, true);
        ParseFinish(Text8(), st, n);
    } else {
        ParseRange(m_strDoc.data(), st, n, true);
        ParseFinish(m_strDoc.data(), st, n);
    }
    return IsWellFormed();
}

void CXmlDocument::BeginIndex(size_t n, ParseState& st) {
    ResetPosition();
    m_bSyntaxError = false;
    m_nLoadGeneration = NextLoadGeneration();
    m_aElems.clear();
    // Message files hold an element for every 40 to 70 bytes: room for one per 32 bytes saves
    // growing the index (a copy of all of it) on the way.
    // Room for one element per 32 units: message files hold one per 40 to 90 bytes, and growing
    // the index on the way copies all of it into new memory (about three times the load time of a
    // file of short texts).
    m_aElems.reserve(n / 32 + 8);
    m_aElems.emplace_back();
    m_aElems[0].nLength = static_cast<uint32_t>(std::min<size_t>(n, 0xFFFFFFFFu));
    st = ParseState();
    st.open.reserve(64);
    st.last_child.reserve(65);
    st.last_child.push_back(0);
}

// Offsets in the result log are in UTF-16 units; for stored UTF-8 they are counted from the
// bytes, going on from the previous offset when the offsets grow.
template <class Ch>
uint64_t CXmlDocument::LogOffset(const Ch* s, ParseState& st, size_t offset) const {
    if constexpr (sizeof(Ch) == 2) {
        return offset;
    } else {
        const auto* b = reinterpret_cast<const unsigned char*>(s);
        if (offset < st.log_byte) st.log_byte = st.log_units = 0;
        for (; st.log_byte < offset; ++st.log_byte) {
            const unsigned char c = b[st.log_byte];
            if ((c & 0xC0) != 0x80) ++st.log_units;
            if (c >= 0xF0) ++st.log_units;  // a surrogate pair
        }
        return st.log_units;
    }
}

template <class Ch>
std::string CXmlDocument::OpenNameKey(const Ch* s, uint32_t i) const {
    const ElemRec& r = m_aElems[i];
    std::string key(reinterpret_cast<const char*>(s + r.nStart + 1), r.nNameLen * sizeof(Ch));
    return (m_nDocFlags & kFlagIgnoreCase) ? FoldKey<Ch>(key) : key;
}

template <class Ch>
inline void CXmlDocument::PopOpen(const Ch* s, ParseState& st) {
    if (st.count_names) --st.open_names[OpenNameKey(s, st.open.back())];
    st.open.pop_back();
    st.last_child.pop_back();
}

template <class Ch>
void CXmlDocument::ParseRange(const Ch* s, ParseState& st, size_t avail, bool final) {
    using View = std::basic_string_view<Ch>;
    const bool fold = (m_nDocFlags & kFlagIgnoreCase) != 0;
    std::vector<uint32_t>& open = st.open;
    std::vector<uint32_t>& last_child = st.last_child;

    auto mark_current = [&](uint8_t flag) {
        if (!open.empty()) m_aElems[open.back()].nFlags |= flag;
    };

    detail::Scanner<Ch> scan(s, avail, st.pos);
    struct SubsetCtx {
        CXmlDocument* doc;
        const Ch* s;
        ParseState* st;
    } subset_ctx{this, s, &st};
    scan.OnSubsetError(
        [](void* ctx, size_t offset) {
            auto* c = static_cast<SubsetCtx*>(ctx);
            c->doc->AddResult(u"doctype_tag_syntax", {}, {}, u"offset", c->doc->LogOffset(c->s, *c->st, offset), true);
            c->doc->m_bSyntaxError = true;
        },
        &subset_ctx);

    // The "<" search below is the hottest loop of a load. Keep what lives across it small: with a
    // few more values (or the scanner's own position) the compiler keeps the text pointer and the
    // loaded bytes in memory, and the whole load takes 10 to 15 % longer.
    const bool plain = detail::PlainReading();
    size_t pos = st.pos;
    Token t;
    while (true) {
        const size_t lt = detail::FindLt(s, pos, avail, plain);
        if (lt >= avail) {
            pos = avail;
            break;
        }
        // The end tag of the innermost open element, the usual end tag: its name and ">".
        if (!plain && !open.empty() && lt + 1 < avail && s[lt + 1] == '/') {
            ElemRec& r = m_aElems[open.back()];
            const size_t gt = lt + 2 + r.nNameLen;
            if (gt < avail && s[gt] == '>' && EqualNames(View(s + lt + 2, r.nNameLen), View(s + r.nStart + 1, r.nNameLen), fold)) {
                r.nLength = static_cast<uint32_t>(gt + 1 - r.nStart);
                r.nEndTagLen = static_cast<uint32_t>(gt + 1 - lt);
                PopOpen(s, st);
                pos = gt + 1;
                continue;
            }
        }
        scan.TagAt(lt, t);
        pos = t.end;
        switch (t.kind) {
            case Tok::StartTag:
            case Tok::EmptyTag: {
                const uint32_t parent = open.empty() ? 0 : open.back();
                const uint32_t idx = static_cast<uint32_t>(m_aElems.size());
                ElemRec& r = m_aElems.emplace_back();
                r.nStart = static_cast<uint32_t>(t.start);
                r.nStartTagLen = static_cast<uint32_t>(t.end - t.start);
                r.nNameLen = static_cast<uint32_t>(t.name_len);
                r.nLevel = static_cast<uint32_t>(open.size() + 1);
                r.iParent = parent;
                const uint32_t prev = last_child.back();
                if (prev) {
                    m_aElems[prev].iNext = idx;
                    r.iPrev = prev;
                    if (parent == 0) {
                        AddResult(u"root_has_sibling", {}, {}, u"offset", LogOffset(s, st, t.start), true);
                        m_bSyntaxError = true;
                    }
                } else {
                    m_aElems[parent].iFirstChild = idx;
                }
                last_child.back() = idx;
                if (t.kind == Tok::EmptyTag) {
                    r.nFlags |= kElemEmptyTag;
                    r.nLength = r.nStartTagLen;
                } else {
                    open.push_back(idx);
                    last_child.push_back(0);
                    if (st.count_names) ++st.open_names[OpenNameKey(s, idx)];
                }
                break;
            }
            case Tok::EndTag: {
                const View name(s + t.name_start, t.name_len);
                auto is_named = [&](uint32_t i) {
                    const ElemRec& r = m_aElems[i];
                    return r.nNameLen == t.name_len && EqualNames(View(s + r.nStart + 1, r.nNameLen), name, fold);
                };
                size_t k = open.size();
                if (k == 0 || !is_named(open.back())) {
                    // Not the innermost element: the innermost open element of this name, if any.
                    if (!st.count_names) {
                        st.count_names = true;
                        for (uint32_t i : open) ++st.open_names[OpenNameKey(s, i)];
                    }
                    const std::string key(reinterpret_cast<const char*>(name.data()), name.size() * sizeof(Ch));
                    const auto it = st.open_names.find(fold ? FoldKey<Ch>(key) : key);
                    if (it == st.open_names.end() || it->second == 0) {
                        k = 0;
                    } else {
                        while (!is_named(open[k - 1])) --k;
                    }
                }
                if (k == 0) {
                    AddResult(u"lone_end_tag", u"tagname", Wide(name), u"offset", LogOffset(s, st, t.start), true);
                    mark_current(kElemIllFormed);
                    m_bSyntaxError = true;
                    break;
                }
                while (open.size() > k) {
                    CloseUnended(s, st, open.back(), t.start);
                    PopOpen(s, st);
                }
                ElemRec& r = m_aElems[open.back()];
                r.nLength = static_cast<uint32_t>(t.end - r.nStart);
                r.nEndTagLen = static_cast<uint32_t>(t.end - t.start);
                PopOpen(s, st);
                break;
            }
            case Tok::Error:
                AddResult(SyntaxEvent(t.error), {}, {}, u"offset", LogOffset(s, st, t.start), true);
                mark_current(kElemIllFormed);
                m_bSyntaxError = true;
                break;
            case Tok::Unterminated:
                if (!final) {  // wait for more of the text
                    st.pos = t.start;
                    return;
                }
                AddResult(u"unterminated_tag_syntax", u"type", t.unterminated, u"offset", LogOffset(s, st, t.start), true);
                mark_current(kElemIllFormed);
                m_bSyntaxError = true;
                break;
            default:
                break;
        }
    }
    st.pos = pos;
}

template <class Ch>
void CXmlDocument::CloseUnended(const Ch* s, ParseState& st, uint32_t i, size_t closed_at) {
    ElemRec& r = m_aElems[i];
    r.nLength = static_cast<uint32_t>(closed_at - r.nStart);
    r.nEndTagLen = 0;
    r.nFlags |= kElemUnended | kElemIllFormed;
    m_bSyntaxError = true;
    if (m_strResult.size() >= kResultLimit) return;
    AddResult(u"unended_start_tag", u"tagname", Wide(View(s, r.nStart + 1, r.nNameLen)), u"offset",
              LogOffset(s, st, r.nStart), true, LogOffset(s, st, closed_at), true);
}

template <class Ch>
void CXmlDocument::ParseFinish(const Ch* s, ParseState& st, size_t n) {
    while (!st.open.empty()) {
        CloseUnended(s, st, st.open.back(), n);
        PopOpen(s, st);
    }
    if (m_aElems[0].iFirstChild == 0) {
        AddResult(u"no_root_element");
        m_bSyntaxError = true;
    }
}

template void CXmlDocument::ParseRange<char8_t>(const char8_t*, ParseState&, size_t, bool);
template void CXmlDocument::ParseFinish<char8_t>(const char8_t*, ParseState&, size_t);

// ---- navigation ------------------------------------------------------------------------------------

void CXmlDocument::ResetPosition() {
    m_iPosParent = m_iPos = m_iPosChild = 0;
    m_nNodeType = m_nNodeOffset = m_nNodeLength = 0;
}

void CXmlDocument::SetElementPos(uint32_t i) {
    m_iPos = i;
    m_nNodeType = i ? kNodeElement : 0;
    m_nNodeOffset = i ? m_aElems[i].nStart : 0;
    m_nNodeLength = i ? m_aElems[i].nLength : 0;
}

bool CXmlDocument::FindElement(const char16_t* name) {
    return FindElement(name ? std::u16string_view(name) : std::u16string_view());
}

bool CXmlDocument::FindElement(std::u16string_view name) {
    uint32_t i;
    if (m_nNodeType == kNodeElement) {
        i = m_aElems[m_iPos].iNext;
    } else {
        i = m_aElems[m_iPosParent].iFirstChild;
        if (m_nNodeType != 0) {  // after a node that is not an element
            const uint32_t after = m_nNodeOffset + m_nNodeLength;
            while (i && m_aElems[i].nStart < after) i = m_aElems[i].iNext;
        }
    }
    const bool any = name.empty() || name == u"*";
    const bool fold = (m_nDocFlags & kFlagIgnoreCase) != 0;
    const uint32_t found = WithText([&](const auto* s) -> uint32_t {
        using Ch = std::remove_const_t<std::remove_pointer_t<decltype(s)>>;
        if (any) return i;
        const NameKey<Ch> want(name);
        for (uint32_t k = i; k; k = m_aElems[k].iNext) {
            const ElemRec& r = m_aElems[k];
            if (want.Matches(View(s, r.nStart + 1, r.nNameLen), fold)) return k;
        }
        return 0;
    });
    if (!found) return false;
    SetElementPos(found);
    m_iPosChild = 0;
    return true;
}

uint32_t CXmlDocument::FindNode(uint32_t kinds) {
    return m_bUtf8 ? FindNodeIn(Text8(), kinds) : FindNodeIn(m_strDoc.data(), kinds);
}

template <class Ch>
uint32_t CXmlDocument::FindNodeIn(const Ch* s, uint32_t kinds) {
    const ElemRec& parent = m_aElems[m_iPosParent];
    const size_t content_end = m_iPosParent ? parent.nStart + parent.nLength - parent.nEndTagLen : m_aElems[0].nLength;
    size_t from;
    uint32_t child;  // next child element not yet passed
    if (m_nNodeType != 0) {
        from = m_nNodeOffset + m_nNodeLength;
        child = m_nNodeType == kNodeElement ? m_aElems[m_iPos].iNext : parent.iFirstChild;
    } else {
        from = m_iPosParent ? parent.nStart + parent.nStartTagLen : 0;
        child = parent.iFirstChild;
    }
    while (child && m_aElems[child].nStart < from) child = m_aElems[child].iNext;

    detail::Scanner<Ch> scan(s, content_end, from);
    Token t;
    while (scan.Next(t)) {
        uint32_t kind = 0;
        switch (t.kind) {
            case Tok::StartTag:
            case Tok::EmptyTag:
                if (child && m_aElems[child].nStart == t.start) {
                    const uint32_t i = child;
                    child = m_aElems[child].iNext;
                    if (kinds & kNodeElement) {
                        SetElementPos(i);
                        m_iPosChild = 0;
                        return kNodeElement;
                    }
                    scan.Seek(std::max<size_t>(t.end, m_aElems[i].nStart + m_aElems[i].nLength));
                }
                continue;
            case Tok::Text: {
                kind = kNodeWhiteSpace;
                for (size_t k = t.start; k < t.end; ++k)
                    if (!IsSpace(s[k])) {
                        kind = kNodeText;
                        break;
                    }
                break;
            }
            case Tok::CData: kind = kNodeCData; break;
            case Tok::ProcessingInstruction: kind = kNodeProcessingInstruction; break;
            case Tok::Comment: kind = kNodeComment; break;
            case Tok::DocType: kind = kNodeDocType; break;
            case Tok::Unterminated: return 0;
            default: continue;
        }
        if (kind & kinds) {
            m_iPos = 0;
            m_iPosChild = 0;
            m_nNodeType = kind;
            m_nNodeOffset = static_cast<uint32_t>(t.start);
            m_nNodeLength = static_cast<uint32_t>(t.end - t.start);
            return kind;
        }
    }
    return 0;
}

bool CXmlDocument::IntoElement() {
    if (m_nNodeType != kNodeElement) return false;
    m_iPosParent = m_iPos;
    SetElementPos(m_iPosChild);
    m_iPosChild = 0;
    return true;
}

bool CXmlDocument::OutOfElement() {
    if (m_iPosParent == 0) return false;
    m_iPosChild = m_nNodeType == kNodeElement ? m_iPos : 0;
    const uint32_t old_parent = m_iPosParent;
    m_iPosParent = m_aElems[old_parent].iParent;
    SetElementPos(old_parent);
    return true;
}

// ---- reading ---------------------------------------------------------------------------------------

std::u16string CXmlDocument::GetTagName() const {
    return WithText([&](const auto* s) -> std::u16string {
        if (m_nNodeType == kNodeElement) {
            const ElemRec& r = m_aElems[m_iPos];
            return Wide(View(s, r.nStart + 1, r.nNameLen));
        }
        if (m_nNodeType == kNodeProcessingInstruction) {
            detail::Scanner scan(s, m_nNodeOffset + m_nNodeLength, m_nNodeOffset);
            Token t;
            if (scan.Next(t)) return Wide(View(s, t.name_start, t.name_len));
        }
        return {};
    });
}

template <class Ch>
bool CXmlDocument::AttributeRange(const Ch* s, size_t& from, size_t& to) const {
    if (m_nNodeType == kNodeElement) {
        const ElemRec& r = m_aElems[m_iPos];
        from = r.nStart + 1 + r.nNameLen;
        to = r.nStart + r.nStartTagLen - 1;  // before ">"
        if (r.nFlags & kElemEmptyTag) --to;  // before "/>"
        return from <= to;
    }
    if (m_nNodeType == kNodeProcessingInstruction) {
        detail::Scanner<Ch> scan(s, m_nNodeOffset + m_nNodeLength, m_nNodeOffset);
        Token t;
        if (!scan.Next(t)) return false;
        from = t.name_start + t.name_len;
        to = m_nNodeOffset + m_nNodeLength - 2;  // before "?>"
        return from <= to;
    }
    return false;
}

std::u16string CXmlDocument::GetAttribute(const char16_t* name) const {
    return GetAttribute(name ? std::u16string_view(name) : std::u16string_view());
}

std::u16string CXmlDocument::GetAttribute(std::u16string_view name) const {
    if (name.empty()) return {};
    const bool fold = (m_nDocFlags & kFlagIgnoreCase) != 0;
    return WithText([&](const auto* s) -> std::u16string {
        using Ch = std::remove_const_t<std::remove_pointer_t<decltype(s)>>;
        size_t from, to;
        if (!AttributeRange(s, from, to)) return {};
        const NameKey<Ch> want(name);
        std::u16string value;
        detail::ForEachAttribute(s, from, to, [&](std::basic_string_view<Ch> n, std::basic_string_view<Ch> v) {
            if (!want.Matches(n, fold)) return true;
            value = Wide(v);
            if (value.find(u'&') != std::u16string::npos ||
                (m_nDocFlags & (kFlagTrimWhiteSpace | kFlagCollapseWhiteSpace)))
                value = DecodeText(value, m_nDocFlags);
            return false;
        });
        return value;
    });
}

std::u16string CXmlDocument::GetAttributeName(size_t n) const {
    return WithText([&](const auto* s) -> std::u16string {
        using Ch = std::remove_const_t<std::remove_pointer_t<decltype(s)>>;
        size_t from, to;
        if (!AttributeRange(s, from, to)) return {};
        std::u16string found;
        detail::ForEachAttribute(s, from, to, [&](std::basic_string_view<Ch> name, std::basic_string_view<Ch>) {
            if (n-- != 0) return true;
            found = Wide(name);
            return false;
        });
        return found;
    });
}

std::u16string CXmlDocument::GetData() const {
    return m_bUtf8 ? GetDataIn(Text8()) : GetDataIn(m_strDoc.data());
}

template <class Ch>
std::u16string CXmlDocument::GetDataIn(const Ch* s) const {
    auto decoded = [&](size_t from, size_t len) { return DecodeText(Wide(View(s, from, len)), m_nDocFlags); };
    auto literal = [&](size_t from, size_t len) { return Wide(View(s, from, len)); };
    switch (m_nNodeType) {
        case kNodeElement: break;
        case kNodeText:
        case kNodeWhiteSpace: return decoded(m_nNodeOffset, m_nNodeLength);
        case kNodeCData: {
            // "<![CDATA[" ... "]]>"
            const size_t b = std::min<size_t>(m_nNodeOffset + 9, m_nNodeOffset + m_nNodeLength - 3);
            return literal(b, m_nNodeOffset + m_nNodeLength - 3 - b);
        }
        case kNodeProcessingInstruction: return literal(m_nNodeOffset + 2, m_nNodeLength - 4);
        case kNodeComment: return literal(m_nNodeOffset + 4, m_nNodeLength - 7);
        case kNodeDocType: return literal(m_nNodeOffset + 2, m_nNodeLength - 3);
        default: return {};
    }
    const ElemRec& r = m_aElems[m_iPos];
    if ((r.nFlags & kElemEmptyTag) || r.iFirstChild) return {};
    const size_t from = r.nStart + r.nStartTagLen;
    const size_t to = r.nStart + r.nLength - r.nEndTagLen;
    if (from >= to) return {};
    if (detail::FindChar(s, from, to, '<', detail::PlainReading()) == detail::npos) return decoded(from, to - from);

    // Text runs decoded, CDATA sections literal, comments and processing instructions left out.
    // A "<" that starts no tag stays in its text run.
    std::u16string out;
    size_t run = detail::npos;  // start of the pending text run
    auto flush = [&](size_t end) {
        if (run != detail::npos) out += decoded(run, end - run);
        run = detail::npos;
    };
    detail::Scanner<Ch> scan(s, to, from);
    Token t;
    while (scan.Next(t)) {
        if (t.kind == Tok::Text || (t.kind == Tok::Error && t.error == Syntax::FirstTag)) {
            if (run == detail::npos) run = t.start;
            continue;
        }
        flush(t.start);
        if (t.kind == Tok::CData) {
            const size_t b = std::min(t.start + 9, t.end - 3);
            out += literal(b, t.end - 3 - b);
        } else if (t.kind == Tok::Unterminated) {
            break;
        }
    }
    flush(to);
    return out;
}

std::u16string CXmlDocument::DecodeText(std::u16string_view text, uint32_t flags) {
    std::u16string out;
    out.reserve(text.size());
    AppendDecoded(out, text);
    ApplyWhiteSpace(out, flags);
    return out;
}

}  // namespace em::xml

// CLogMsgDecoder: old-style SEL entries to text, and the placeholder operations on message texts.
#include "msglog/log_msg_decoder.h"

#include <algorithm>
#include <limits>

#include "diag/debug.h"
#include "diag/format.h"
#include "msglog/log_msg_file.h"
#include "msglog/sel_entry.h"
#include "platform/codepage.h"

namespace em {

namespace {

constexpr uint16_t kPackedTextMark = 0xCCCC;

// Extends a placeholder number by one digit; a number too large for 32 bits stays at the maximum
// (it names no argument either way).
uint32_t AddDigit(uint32_t number, char16_t digit) {
    const uint64_t n = static_cast<uint64_t>(number) * 10 + static_cast<uint64_t>(digit - u'0');
    return n > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max() : static_cast<uint32_t>(n);
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// A number as "%u" or "%X" prints it.
void AppendNumber(std::u16string& out, uint32_t value, bool hex) {
    char16_t buf[10];
    size_t n = 0;
    const uint32_t base = hex ? 16 : 10;
    do {
        buf[n++] = u"0123456789ABCDEF"[value % base];
        value /= base;
    } while (value);
    while (n) out.push_back(buf[--n]);
}

// The texts packed into the argument words from the second one on: zero-terminated UTF-8, one
// after another, up to the first empty text; an unterminated tail is dropped.
std::vector<std::u16string> SplitPackedTexts(const std::vector<uint32_t>& args) {
    std::string bytes;
    for (size_t i = 1; i < args.size(); ++i)
        for (int k = 0; k < 4; ++k) bytes.push_back(static_cast<char>((args[i] >> (8 * k)) & 0xFF));
    std::vector<std::u16string> texts;
    size_t pos = 0;
    while (pos < bytes.size()) {
        const size_t end = bytes.find('\0', pos);
        if (end == std::string::npos || end == pos) break;
        texts.push_back(platform::Utf8ToUtf16(std::string_view(bytes).substr(pos, end - pos)));
        pos = end + 1;
    }
    return texts;
}

// An argument word read as UTF-16: its low half, then its high half, up to the first zero half.
void AppendWordText(std::u16string& out, uint32_t word) {
    const char16_t lo = static_cast<char16_t>(word & 0xFFFF);
    const char16_t hi = static_cast<char16_t>(word >> 16);
    if (lo == 0) return;
    out.push_back(lo);
    if (hi != 0) out.push_back(hi);
}

}  // namespace

CLogMsgDecoder::CLogMsgDecoder(uint32_t unified) : m_file(std::make_unique<CLogMsgFile>()), m_dwUnified(unified) {
    m_file->OpenMessageFile(unified, nullptr);
}

CLogMsgDecoder::~CLogMsgDecoder() = default;

std::u16string CLogMsgDecoder::SetLanguage(uint16_t language_id) {
    m_strLanguage = language_id == 0 ? std::u16string(u"en") : m_file->FindLanguageName(language_id);
    return m_strLanguage;
}

bool CLogMsgDecoder::DecodeEntry(std::u16string& out, const std::vector<uint8_t>& entry,
                                 const std::u16string* designation, const std::u16string* language) {
    try {
        // Shorter than the head: nothing to decode.
        if (entry.size() < kSelHeadSize) return false;
        const uint8_t group = SelGroup(entry.data());
        const uint8_t low = entry[0];
        const uint32_t n = entry[3];
        std::u16string line;

        if (group == kSelTextGroup && low == 0) {
            // Text entry: a zero-terminated UTF-8 text in the 4 * n bytes from offset 8.
            const size_t avail = entry.size() - 8;
            const size_t area = std::min<size_t>(static_cast<size_t>(n) * 4, avail);
            std::string_view text(reinterpret_cast<const char*>(entry.data()) + 8, area);
            const size_t zero = text.find('\0');
            if (zero != std::string_view::npos) text = text.substr(0, zero);
            platform::Utf8ToUtf16(text, line);
        } else {
            EM_TRACE(4, u"\nCLogMsgDecoder      :     Number Args (pLogEntry): %d", n);
            const uint16_t cabinet = SelCabinet(entry.data());
            const uint16_t oid = SelObjectIndex(entry.data());
            // Further words: n - 1 of them, within the entry's length and the bytes at hand.
            size_t further = n >= 1 ? n - 1 : 0;
            const size_t length = std::min<size_t>(SelEntryLength(entry.data()), entry.size());
            further = std::min(further, length > kSelHeadSize ? (length - kSelHeadSize) / 4 : 0);

            std::vector<uint32_t> args;
            args.reserve(further + 2);
            uint32_t code;
            const std::u16string_view lang = language ? std::u16string_view(*language) : std::u16string_view();
            if (m_dwUnified) {
                code = static_cast<uint32_t>(group) * 0x10000 + low;
                args.push_back(oid);
            } else {
                code = static_cast<uint32_t>(group) * 0x100 + low;
                args.push_back(cabinet);
                args.push_back(oid);
            }
            for (size_t k = 0; k < further; ++k) args.push_back(LoadLe32(entry.data() + kSelHeadSize + 4 * k));

            if (m_dwUnified) {
                EM_TRACE(4, u"\nCLogMsgDecoder      : Unified SEL error code: 0x%X (Lang: \"%s\")", code, lang);
                EM_TRACE(4, u"\nCLogMsgDecoder      : Unified SEL arg(s):");
                EM_TRACE(4, u"\nCLogMsgDecoder      :     Arg[0]: 0x%08X (%d)", args[0], args[0]);
                for (size_t k = 1; k < args.size(); ++k)
                    EM_TRACE(4, u"\nCLogMsgDecoder      :     Arg[%d]: 0x%08X (%d)", static_cast<uint32_t>(k), args[k],
                             args[k]);
            } else {
                EM_TRACE(4, u"\nCLogMsgDecoder      : Old SEL error code: 0x%X (Lang: \"%s\")", code, lang);
                EM_TRACE(4, u"\nCLogMsgDecoder      : Old SEL args:");
                EM_TRACE(4, u"\nCLogMsgDecoder      :     Arg[0]: 0x%08X (%d)", args[0], args[0]);
                EM_TRACE(4, u"\nCLogMsgDecoder      :     Arg[1]: 0x%08X (%d)", args[1], args[1]);
                for (size_t k = 2; k < args.size(); ++k)
                    EM_TRACE(4, u"\nCLogMsgDecoder      :     Arg[%d]: 0x%08X (%d)", static_cast<uint32_t>(k), args[k],
                             args[k]);
            }

            const std::u16string format = m_file->GetMessageText(code, u"LongMsg", language, 0);
            EM_TRACE(4, u"\nCLogMsgDecoder      :  %s Message: \"%s\"", u"Long", format);

            if (format.empty()) {
                line = diag::Format(m_dwUnified ? u"ERROR 0x%06X " : u"ERROR 0x%04X ", code);
                for (size_t k = 0; k < args.size(); ++k) {
                    line += k == 0 ? u"(" : u", ";
                    line += diag::Format(u"0x%X", args[k]);
                }
                line += u")";
            } else {
                const bool packed = cabinet == kPackedTextMark && oid == kPackedTextMark;
                line = FormatSelMessage(format, args, designation, packed, m_dwUnified);
            }
        }

        if (line.empty()) return false;
        out += line;
        return true;
    } catch (...) {
        // A failed entry ends quietly; the caller writes its own line for it.
        return false;
    }
}

std::u16string CLogMsgDecoder::FormatSelMessage(std::u16string_view format, const std::vector<uint32_t>& args,
                                                const std::u16string* designation, bool packed_text,
                                                uint32_t unified) {
    // The argument the designation string stands for (counting from 1).
    const uint32_t designation_arg = unified ? 1 : 2;

    EM_TRACE(5, u"\nCLogMsgDecoder      : Format %s SEL message:", unified ? u"unified" : u"old");
    EM_TRACE(5, u"\nCLogMsgDecoder      :   Message format string: \"%s\"", format);
    EM_TRACE(5, u"\nCLogMsgDecoder      :   Message arguments (%d):", static_cast<uint32_t>(args.size()));
    for (size_t k = 0; k < args.size(); ++k) {
        if (designation && k + 1 == designation_arg)
            EM_TRACE(5, u"\nCLogMsgDecoder      :     Arg[%d]: %d (\"%s\")", static_cast<uint32_t>(k), args[k],
                     *designation);
        else
            EM_TRACE(5, u"\nCLogMsgDecoder      :     Arg[%d]: 0x%X (%d)", static_cast<uint32_t>(k), args[k], args[k]);
    }

    std::vector<std::u16string> packed;
    if (packed_text && args.size() > 2) packed = SplitPackedTexts(args);

    std::u16string out;
    out.reserve(format.size() + 16);
    bool hex = false;
    enum class State { Normal, AfterZero, AfterDollar, Placeholder } state = State::Normal;
    uint32_t number = 0;
    bool dollar = false;

    auto write_value = [&](uint32_t n) {
        const size_t i = n - 1;
        if (packed_text) {
            if (i < packed.size()) out += packed[i];
        } else if (dollar) {
            if (i < args.size()) AppendWordText(out, args[i]);
        } else if (designation && n == designation_arg) {
            out.push_back(u'"');
            out += *designation;
            out.push_back(u'"');
        } else if (i < args.size()) {
            AppendNumber(out, args[i], hex);
        }
    };

    // The text ends at its length or at a zero character, whichever comes first; the end is one
    // more character (zero) that every state sees.
    for (size_t pos = 0; pos <= format.size(); ++pos) {
        const char16_t c = pos < format.size() ? format[pos] : u'\0';
        switch (state) {
            case State::Normal:
                if (c == u'0') {
                    out.push_back(c);
                    state = State::AfterZero;
                } else if (c == u'%') {
                    state = State::Placeholder;
                    number = 0;
                    dollar = false;
                } else if (c == u'$') {
                    state = State::AfterDollar;
                } else if (c != u'\0') {
                    out.push_back(c);
                }
                break;
            case State::AfterZero:
                if (c == u'x' || c == u'X') hex = true;
                if (c != u'\0') out.push_back(c);
                state = State::Normal;
                break;
            case State::AfterDollar:
                if (c == u'%') {
                    state = State::Placeholder;
                    number = 0;
                    dollar = true;
                } else {
                    if (c != u'\0') out.push_back(c);
                    state = State::Normal;
                }
                break;
            case State::Placeholder:
                if (c == u'%' && number == 0) {
                    out.push_back(u'%');
                    state = State::Normal;
                } else if (IsDigit(c)) {
                    number = AddDigit(number, c);
                } else {
                    if (number == 0) out.push_back(u'%');
                    else write_value(number);
                    hex = false;
                    if (c == u'%') {
                        number = 0;
                        dollar = false;
                    } else {
                        if (c != u'\0') out.push_back(c);
                        state = State::Normal;
                    }
                }
                break;
        }
        if (c == u'\0') break;
    }
    return out;
}

std::u16string CLogMsgDecoder::SubstituteStringArgs(std::u16string_view text,
                                                    const std::map<uint32_t, std::u16string>& args, size_t limit) {
    std::u16string out;
    out.reserve(std::min(text.size(), limit));
    bool inside = false;
    uint32_t number = 0;
    auto end_placeholder = [&] {
        if (number == 0) {
            out.push_back(u'%');
        } else if (const auto it = args.find(number); it != args.end()) {
            out += it->second;
        } else {
            out += diag::Format(u"%%%u", number);
        }
    };
    for (const char16_t c : text) {
        if (out.size() > limit) return out;
        if (!inside) {
            if (c == u'%') {
                inside = true;
                number = 0;
            } else {
                out.push_back(c);
            }
        } else if (c == u'%' && number == 0) {
            out.push_back(u'%');
            inside = false;
        } else if (IsDigit(c)) {
            number = AddDigit(number, c);
        } else {
            end_placeholder();
            if (c == u'%') {
                number = 0;
            } else {
                out.push_back(c);
                inside = false;
            }
        }
    }
    if (inside) end_placeholder();
    return out;
}

bool CLogMsgDecoder::ReplaceMultiStringParam(std::vector<std::u16string>& paragraphs, const std::u16string* param,
                                             const std::u16string* replacement, size_t first) {
    if (!param || param->empty() || !replacement || first >= paragraphs.size()) return false;
    bool found = false;
    for (size_t i = first; i < paragraphs.size(); ++i) {
        std::u16string& text = paragraphs[i];
        EM_TRACE(5, u"\nEM_TARNEL           : search param \"%s\" in multi string message: [%d]: %s", *param,
                 static_cast<uint32_t>(i), text);
        const size_t at = text.find(*param);
        if (at == std::u16string::npos) continue;
        found = true;
        EM_TRACE(5, u"\nEM_TARNEL           :   found message param \"%s\" in [%d]: %s", *param,
                 static_cast<uint32_t>(i), text);
        if (!replacement->empty()) {
            text.replace(at, param->size(), *replacement);
            EM_TRACE(5, u"\nEM_TARNEL           :   -> param \"%s\" replaced by \"%s\"", *param, *replacement);
        } else {
            EM_TRACE(4, u"\nEM_TARNEL           :   -> param \"%s\" is empty - remove message from multi string",
                     *param);
            text.clear();
        }
    }
    return found;
}

}  // namespace em

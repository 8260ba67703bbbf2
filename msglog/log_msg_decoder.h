// CLogMsgDecoder: turns old-style SEL entries into text with the XML message file, and the text
// operations applied to message texts fetched from lower modules.
//
// One decoder serves one request for cache entries: it loads its message file once when it is
// built and is used for every entry of the page.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace em {

class CLogMsgFile;

class CLogMsgDecoder {
public:
    // unified: the module's unified-SEL flag; selects EVENTMSG.XML (1) or ERRMSG.XML (0).
    explicit CLogMsgDecoder(uint32_t unified);
    ~CLogMsgDecoder();
    CLogMsgDecoder(const CLogMsgDecoder&) = delete;
    CLogMsgDecoder& operator=(const CLogMsgDecoder&) = delete;

    // 0 selects "en"; another id the message file's language text for it (empty when unlisted).
    std::u16string SetLanguage(uint16_t language_id);

    // Appends the decoded line of one old-style entry to out; true when a line was appended.
    // designation and language may be null (a request for all languages passes neither).
    bool DecodeEntry(std::u16string& out, const std::vector<uint8_t>& entry, const std::u16string* designation,
                     const std::u16string* language);

    // Expands the placeholders of a message-file text.
    static std::u16string FormatSelMessage(std::u16string_view format, const std::vector<uint32_t>& args,
                                           const std::u16string* designation, bool packed_text, uint32_t unified);
    // Placeholders %N of a text fetched from a lower module, by the entry's string arguments.
    // Stops once the result is longer than limit characters: a caller that keeps only the start
    // of the text need not make all of it (a short text of many placeholders for a long argument
    // would grow without bound).
    static std::u16string SubstituteStringArgs(std::u16string_view text,
                                               const std::map<uint32_t, std::u16string>& args,
                                               size_t limit = std::u16string::npos);
    // Replaces the first occurrence of param in every paragraph from first on; an empty
    // replacement empties the paragraphs that hold it. True when param was found anywhere.
    static bool ReplaceMultiStringParam(std::vector<std::u16string>& paragraphs, const std::u16string* param,
                                        const std::u16string* replacement, size_t first);

    uint32_t Unified() const { return m_dwUnified; }
    CLogMsgFile& MessageFile() { return *m_file; }

private:
    std::unique_ptr<CLogMsgFile> m_file;
    std::u16string m_strLanguage;
    const uint32_t m_dwUnified;
};

}  // namespace em

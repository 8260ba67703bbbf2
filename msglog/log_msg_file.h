// The XML message files: ERRMSG.XML (old-style error codes) and EVENTMSG.XML (unified SEL error
// codes), how they are found on disk, and the two lookups made in them.
//
// Structure read from a file (element and attribute names exact, attribute values compared
// ignoring ASCII case, only the first match counts at every level):
//
//   <EventMsg>
//     <LanguageTable> <Language locale="0x407" lang="de"/> ... </LanguageTable>
//     <Events>
//       <Event ErrorCode="0x0401">
//         <Messages lang="en"> <LongMsg>...</LongMsg> <ShortMsg>...</ShortMsg> </Messages>
//         ...
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "xml/xml_document.h"

namespace em {

// The message-file document and its lookups.
class CLogMsgXmlFileImpl : public xml::CXmlDocument {
public:
    CLogMsgXmlFileImpl() : CXmlDocument(0) {}

    // "lang" of the first Language whose "locale" is "0x%X" of the id; empty when there is none.
    std::u16string FindLanguageName(uint16_t language_id);
    // Text of the index-th key element of the first Messages (lang = language, or "en" when
    // null) of the first Event whose ErrorCode is code_text. Empty when any level is missing.
    std::u16string FindMessage(std::u16string_view code_text, std::u16string_view key, const std::u16string* language,
                               uint32_t index);

private:
    // Positioned inside Events: moves to the first Event whose ErrorCode matches, as a walk over
    // the Event elements from the first one would, but through the error-code index.
    bool FindEvent(std::u16string_view code_text);
    void BuildEventIndex();

    // The text and the Events element the index was built for: a reload of any kind gives the
    // document a new load generation, and the index is built again on the next search.
    bool m_bIndexBuilt = false;
    uint64_t m_nIndexedGeneration = 0;
    uint32_t m_iIndexedEvents = 0;
    // Upper-cased ErrorCode text -> the first Event element (document order) that carries it.
    std::unordered_map<std::u16string, uint32_t> m_mapEventByCode;
};

// Selects, finds and opens the message file and formats error codes for the lookups.
class CLogMsgFile {
public:
    static constexpr const char16_t* kOldStyleFileName = u"ERRMSG.XML";
    static constexpr const char16_t* kUnifiedFileName = u"EVENTMSG.XML";

    // Searches the file for the flag in the directory of the module file (module: any address
    // inside it; null: the process's executable), the current directory and the agent's program
    // directory, in that order. The result of the last load tried.
    bool OpenMessageFile(uint32_t unified, const void* module = nullptr);

    std::u16string FindLanguageName(uint16_t language_id) { return m_doc.FindLanguageName(language_id); }
    // FindMessage for the code as "0x%04X" (old style) or "0x%06X" (unified), then, when that
    // gives nothing for a language other than English, the English text.
    std::u16string GetMessageText(uint32_t code, std::u16string_view key, const std::u16string* language,
                                  uint32_t index);
    std::u16string FindMessage(std::u16string_view code_text, std::u16string_view key, const std::u16string* language,
                               uint32_t index) {
        return m_doc.FindMessage(code_text, key, language, index);
    }

    uint32_t Unified() const { return m_dwUnified; }
    CLogMsgXmlFileImpl& Document() { return m_doc; }
    // The path of the last load tried (empty before OpenMessageFile).
    const std::u16string& Path() const { return m_strPath; }

    static std::u16string CodeText(uint32_t code, uint32_t unified);

private:
    bool TryLoad(const std::u16string& dir, const char16_t* file_name);

    uint32_t m_dwUnified = 0;
    std::u16string m_strPath;
    CLogMsgXmlFileImpl m_doc;
};

}  // namespace em

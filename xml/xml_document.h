// In-memory XML (or HTML-like) document: UTF-16 text, an index of its elements built once when the
// text is set or loaded, and a current position for walking the element tree.
//
// Navigation and attribute reads work on the index and the text; they never copy the document.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace em::xml {

// Document flags.
constexpr uint32_t kFlagUtf16LeFile = 0x1;          // loaded file was UTF-16LE (byte order mark)
constexpr uint32_t kFlagUtf8Bom = 0x4;              // loaded file had a UTF-8 byte order mark
constexpr uint32_t kFlagIgnoreCase = 0x8;           // tag and attribute names ignore ASCII case
constexpr uint32_t kFlagReadFile = 0x10;            // file streaming modes: not supported, they
constexpr uint32_t kFlagWriteFile = 0x20;           // only make SetDocument and LoadFile refuse
constexpr uint32_t kFlagAppendFile = 0x40;
constexpr uint32_t kFlagUtf16BeFile = 0x80;         // loaded file was UTF-16BE (byte order mark)
constexpr uint32_t kFlagTrimWhiteSpace = 0x100;     // trim decoded text and attribute values
constexpr uint32_t kFlagCollapseWhiteSpace = 0x200; // trim, and inner runs become one blank

// Node kinds (bit values, combinable as a mask for FindNode).
constexpr uint32_t kNodeElement = 0x01;
constexpr uint32_t kNodeText = 0x02;
constexpr uint32_t kNodeWhiteSpace = 0x04;
constexpr uint32_t kNodeCData = 0x08;
constexpr uint32_t kNodeProcessingInstruction = 0x10;
constexpr uint32_t kNodeComment = 0x20;
constexpr uint32_t kNodeDocType = 0x40;

class CXmlDocument {
public:
    explicit CXmlDocument(uint32_t flags = 0);
    virtual ~CXmlDocument();
    CXmlDocument(const CXmlDocument&) = default;
    CXmlDocument& operator=(const CXmlDocument&) = default;
    CXmlDocument(CXmlDocument&&) noexcept = default;
    CXmlDocument& operator=(CXmlDocument&&) noexcept = default;

    // Replaces the text (null: empty), clears the result log, builds the index. IsWellFormed().
    bool SetDocument(const char16_t* text);
    bool SetDocument(std::u16string_view text);
    bool SetDocument(std::u16string&& text);

    // Reads a file (byte order mark, declared encoding, UTF-8 test), converts it to UTF-16 and
    // builds the index. False when the file cannot be read or the document is not well-formed.
    bool LoadFile(const char16_t* path);
    bool LoadFile(std::u16string_view path);
    // The same for a file's bytes already in memory.
    bool LoadBytes(std::string_view bytes);

    bool IsWellFormed() const;
    const std::u16string& GetResult() const { return m_strResult; }
    const std::u16string& GetDoc() const { return m_strDoc; }
    uint32_t GetDocFlags() const { return m_nDocFlags; }
    void SetDocFlags(uint32_t flags) { m_nDocFlags = flags; }

    // ---- navigation -----------------------------------------------------------------------------
    void ResetPosition();
    // Next sibling element named `name` (null, empty or "*": any element) at the current level.
    bool FindElement(const char16_t* name = nullptr);
    bool FindElement(std::u16string_view name);
    // Next node of one of the kinds in `kinds` at the current level; its kind, or 0 (unchanged).
    uint32_t FindNode(uint32_t kinds);
    bool IntoElement();
    bool OutOfElement();

    // ---- reading --------------------------------------------------------------------------------
    // Kind of the current node; 0 when there is none.
    uint32_t GetNodeType() const { return m_nNodeType; }
    // Tag name of the current element (the target of a current processing instruction).
    std::u16string_view GetTagName() const;
    // Decoded value of an attribute of the current element or processing instruction; empty when
    // absent.
    std::u16string GetAttribute(const char16_t* name) const;
    std::u16string GetAttribute(std::u16string_view name) const;
    // Name of the n-th attribute (from 0); empty past the last.
    std::u16string_view GetAttributeName(size_t n) const;
    // Text content of the current element (empty when it has child elements), or the content of
    // a current node of another kind.
    std::u16string GetData() const;

    // Decodes character references and applies the white-space flags.
    static std::u16string DecodeText(std::u16string_view text, uint32_t flags = 0);

    // ---- element index ------------------------------------------------------------------------
    static constexpr uint8_t kElemEmptyTag = 0x01;   // written as an empty element tag
    static constexpr uint8_t kElemUnended = 0x02;    // closed without its end tag
    static constexpr uint8_t kElemIllFormed = 0x04;  // holds a syntax or nesting problem

    struct ElemRec {
        uint32_t nStart = 0;        // offset of the start tag's "<"
        uint32_t nLength = 0;       // whole element, start tag to end of end tag
        uint32_t nStartTagLen = 0;
        uint32_t nEndTagLen = 0;
        uint32_t nNameLen = 0;      // name follows the "<"
        uint32_t nLevel = 0;        // 0 for the document record, 1 for the root element
        uint32_t iParent = 0;
        uint32_t iFirstChild = 0;
        uint32_t iNext = 0;
        uint32_t iPrev = 0;
        uint8_t nFlags = 0;
    };
    // Record 0 stands for the document; its first child is the root element.
    const std::vector<ElemRec>& GetIndex() const { return m_aElems; }

protected:
    // Position (element indexes, 0 = none) and the current node.
    uint32_t m_iPosParent = 0;
    uint32_t m_iPos = 0;
    uint32_t m_iPosChild = 0;
    uint32_t m_nNodeType = 0;
    uint32_t m_nNodeOffset = 0;
    uint32_t m_nNodeLength = 0;

private:
    bool Parse();
    void AddResult(std::u16string_view event, std::u16string_view text_attr = {},
                   std::u16string_view text = {}, std::u16string_view num_attr = {},
                   uint64_t num = 0, bool has_num = false, uint64_t num2 = 0, bool has_num2 = false);
    void SetResultEncoding(std::u16string_view event, std::u16string_view encoding);
    bool ReadBytes(std::string_view bytes);
    void SetElementPos(uint32_t i);
    bool NameMatches(uint32_t i, std::u16string_view name) const;
    // Range of the current node's attribute list: [from, to) in the text.
    bool AttributeRange(size_t& from, size_t& to) const;

    std::u16string m_strDoc;
    std::u16string m_strResult;
    uint32_t m_nDocFlags = 0;
    bool m_bSyntaxError = false;
    std::vector<ElemRec> m_aElems;
};

// Character-set name to Windows code page: 0 when the name is not known. The name is compared
// ignoring ASCII case.
uint32_t CharsetToCodePage(std::u16string_view name);
// Converts bytes in the named character set to UTF-16 (empty or unknown name: the ANSI code page).
void ConvertToUtf16(std::u16string_view encoding, std::string_view bytes, std::u16string& out);

}  // namespace em::xml

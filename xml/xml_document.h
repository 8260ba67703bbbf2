// In-memory XML (or HTML-like) document: UTF-16 text, an index of its elements built once when the
// text is set or loaded, and a current position for walking the element tree.
//
// Navigation and attribute reads work on the index and the text; they never copy the document.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
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
    // Changes whenever the index is rebuilt or taken from another document, never repeating, so
    // that what is derived from the index can tell that it is stale.
    uint64_t LoadGeneration() const { return m_nLoadGeneration; }
    const std::u16string& GetResult() const { return m_strResult; }
    // The whole text as UTF-16 (a copy).
    std::u16string GetDoc() const;
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
    std::u16string GetTagName() const;
    // Decoded value of an attribute of the current element or processing instruction; empty when
    // absent.
    std::u16string GetAttribute(const char16_t* name) const;
    std::u16string GetAttribute(std::u16string_view name) const;
    // Name of the n-th attribute (from 0); empty past the last.
    std::u16string GetAttributeName(size_t n) const;
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
    // Record 0 stands for the document; its first child is the root element. Offsets and lengths
    // count code units of the stored text: UTF-16 units, or bytes when the text is kept as the
    // valid UTF-8 it was read as (IsStoredAsUtf8).
    const std::vector<ElemRec>& GetIndex() const { return m_aElems; }
    bool IsStoredAsUtf8() const { return m_bUtf8; }

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
    // Index building, resumable: ParseRange takes the tokens that lie wholly in [0, avail) (all of
    // them when `final`), ParseFinish closes what is still open at the end of the text.
    struct ParseState {
        size_t pos = 0;
        std::vector<uint32_t> open;        // open elements, innermost last
        std::vector<uint32_t> last_child;  // last child so far: of the document, then of each open element
        size_t log_byte = 0;               // offset conversion for the log (UTF-8 text)
        uint64_t log_units = 0;
        // Open elements by name (the code units' bytes, lowercase under kFlagIgnoreCase), counted
        // from the first end tag that does not close the innermost element on: an end tag that
        // matches no open element is then told at once, not by a walk over all of them.
        bool count_names = false;
        std::unordered_map<std::string, uint32_t> open_names;
    };
    void BeginIndex(size_t n, ParseState& st);
    template <class Ch>
    void ParseRange(const Ch* s, ParseState& st, size_t avail, bool final);
    template <class Ch>
    void ParseFinish(const Ch* s, ParseState& st, size_t n);
    template <class Ch>
    std::string OpenNameKey(const Ch* s, uint32_t i) const;
    template <class Ch>
    void PopOpen(const Ch* s, ParseState& st);
    template <class Ch>
    void CloseUnended(const Ch* s, ParseState& st, uint32_t i, size_t closed_at);
    template <class Ch>
    uint64_t LogOffset(const Ch* s, ParseState& st, size_t offset) const;

    template <class Ch>
    uint32_t FindNodeIn(const Ch* s, uint32_t kinds);
    template <class Ch>
    std::u16string GetDataIn(const Ch* s) const;
    template <class Fn>
    decltype(auto) WithText(Fn&& fn) const;
    void AddResult(std::u16string_view event, std::u16string_view text_attr = {},
                   std::u16string_view text = {}, std::u16string_view num_attr = {},
                   uint64_t num = 0, bool has_num = false, uint64_t num2 = 0, bool has_num2 = false);
    void SetResultEncoding(std::u16string_view event, std::u16string_view encoding);
    // A file's bytes, shared between copies of a document (never changed once parsed).
    struct Bytes {
        std::shared_ptr<char[]> p;
        size_t n = 0;
        char* data() const { return p.get(); }
        size_t size() const { return n; }
        std::string_view view() const { return std::string_view(p.get(), n); }
    };
    bool ReadBytes(Bytes&& bytes);
    // UTF-8 text is read as char8_t, which (unlike char) cannot alias the parser's own state.
    const char8_t* Text8() const { return reinterpret_cast<const char8_t*>(m_strDoc8.data()); }
    void SetElementPos(uint32_t i);
    // Range of the current node's attribute list: [from, to) in the text.
    template <class Ch>
    bool AttributeRange(const Ch* s, size_t& from, size_t& to) const;

    std::u16string m_strDoc;   // the text, unless it is kept as UTF-8
    Bytes m_strDoc8;           // the text as read, when it is valid UTF-8
    bool m_bUtf8 = false;
    std::u16string m_strResult;
    uint32_t m_nDocFlags = 0;
    bool m_bSyntaxError = false;
    std::vector<ElemRec> m_aElems;
    uint64_t m_nLoadGeneration;
};

// Character-set name to Windows code page: 0 when the name is not known. The name is compared
// ignoring ASCII case.
uint32_t CharsetToCodePage(std::u16string_view name);
// Converts bytes in the named character set to UTF-16 (empty or unknown name: the ANSI code page).
void ConvertToUtf16(std::u16string_view encoding, std::string_view bytes, std::u16string& out);

}  // namespace em::xml

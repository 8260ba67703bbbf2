// The message files: finding and loading them, the language table and the message search.
#include "msglog/log_msg_file.h"

#include "diag/debug.h"
#include "diag/eventlog_switch.h"
#include "diag/format.h"
#include "platform/sysinfo.h"

namespace em {

namespace {

char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    return true;
}

std::u16string UpperKey(std::u16string_view text) {
    std::u16string key(text);
    for (char16_t& c : key) c = AsciiUpper(c);
    return key;
}

// Leaves every level entered when the search ends, early or not.
class LevelGuard {
public:
    explicit LevelGuard(xml::CXmlDocument& doc) : m_doc(doc) {}
    ~LevelGuard() {
        while (m_nLevels-- > 0) m_doc.OutOfElement();
    }
    LevelGuard(const LevelGuard&) = delete;
    LevelGuard& operator=(const LevelGuard&) = delete;
    // Enters the current element; false when it is not one.
    bool Into() {
        if (!m_doc.IntoElement()) return false;
        ++m_nLevels;
        return true;
    }

private:
    xml::CXmlDocument& m_doc;
    int m_nLevels = 0;
};

}  // namespace

// ---- CLogMsgXmlFileImpl ------------------------------------------------------------------------

std::u16string CLogMsgXmlFileImpl::FindLanguageName(uint16_t language_id) {
    const std::u16string locale = diag::Format(u"0x%X", static_cast<uint32_t>(language_id));
    ResetPosition();
    LevelGuard levels(*this);
    if (!FindElement(u"EventMsg") || !levels.Into()) return {};
    if (!FindElement(u"LanguageTable") || !levels.Into()) return {};
    while (FindElement(u"Language")) {
        if (EqualNoCase(GetAttribute(u"locale"), locale)) return GetAttribute(u"lang");
    }
    return {};
}

void CLogMsgXmlFileImpl::BuildEventIndex() {
    // The same walk a search makes, once: every Event element of this Events element, in order,
    // and for each code text only the first element that carries it.
    m_mapEventByCode.clear();
    m_nIndexedGeneration = LoadGeneration();
    m_iIndexedEvents = m_iPosParent;
    const uint32_t parent = m_iPosParent;
    while (FindElement(u"Event")) m_mapEventByCode.try_emplace(UpperKey(GetAttribute(u"ErrorCode")), m_iPos);
    // Back to the start of the level, as the search expects it.
    m_iPosParent = parent;
    m_iPos = m_iPosChild = 0;
    m_nNodeType = m_nNodeOffset = m_nNodeLength = 0;
    m_bIndexBuilt = true;
}

bool CLogMsgXmlFileImpl::FindEvent(std::u16string_view code_text) {
    if (!m_bIndexBuilt || m_nIndexedGeneration != LoadGeneration() || m_iIndexedEvents != m_iPosParent)
        BuildEventIndex();
    const auto it = m_mapEventByCode.find(UpperKey(code_text));
    if (it == m_mapEventByCode.end()) return false;
    const uint32_t i = it->second;
    const auto& index = GetIndex();
    if (i >= index.size()) return false;
    // The position a FindElement loop stopping at this Event leaves behind.
    m_iPos = i;
    m_iPosChild = 0;
    m_nNodeType = xml::kNodeElement;
    m_nNodeOffset = index[i].nStart;
    m_nNodeLength = index[i].nLength;
    return true;
}

std::u16string CLogMsgXmlFileImpl::FindMessage(std::u16string_view code_text, std::u16string_view key,
                                               const std::u16string* language, uint32_t index) {
    const std::u16string_view lang = language ? std::u16string_view(*language) : std::u16string_view(u"en");
    EM_TRACE(4, u"\nCLogMsgXmlFileImpl  : Search message for error code %s (Key: \"%s\" Lang: \"%s\" Index %d)",
             code_text, key, lang, index);
    ResetPosition();
    LevelGuard levels(*this);
    if (!FindElement(u"EventMsg") || !levels.Into()) return {};
    if (!FindElement(u"Events") || !levels.Into()) return {};
    if (!FindEvent(code_text) || !levels.Into()) return {};
    bool found = false;
    while (FindElement(u"Messages")) {
        if (EqualNoCase(GetAttribute(u"lang"), lang)) {
            found = true;
            break;
        }
    }
    if (!found || !levels.Into()) return {};
    if (!FindElement(key)) return {};
    for (uint32_t k = 0; k < index; ++k)
        if (!FindElement(key)) return {};
    return GetData();
}

// ---- CLogMsgFile -------------------------------------------------------------------------------

std::u16string CLogMsgFile::CodeText(uint32_t code, uint32_t unified) {
    return diag::Format(unified ? u"0x%06X" : u"0x%04X", code);
}

bool CLogMsgFile::TryLoad(const std::u16string& dir, const char16_t* file_name) {
    m_strPath = dir;
    m_strPath.push_back(platform::kPathSeparator);
    m_strPath += file_name;
    EM_TRACE(4, u"\nCLogMsgFile         : Try to open file \"%s\"", m_strPath);
    return m_doc.LoadFile(m_strPath);
}

bool CLogMsgFile::OpenMessageFile(uint32_t unified, const void* module) {
    m_dwUnified = unified;
    const char16_t* file_name = unified ? kUnifiedFileName : kOldStyleFileName;
    EM_TRACE(4, u"\nCLogMsgFile         : Use event messages file \"%s\" for decoding", file_name);
    EM_TRACE(4, u"\nCLogMsgFile         : Search for file in module directory ...");
    bool ok = false;
    bool done = false;

    std::u16string path;
    const bool have_path = module ? platform::GetModulePath(module, path) : platform::GetExecutablePath(path);
    if (have_path) {
        // The directory: cut at the last separator that is not the final character.
        size_t cut = std::u16string::npos;
        if (path.size() >= 2) cut = path.find_last_of(platform::kPathSeparator, path.size() - 2);
        if (cut != std::u16string::npos) {
            path.resize(cut);
            done = ok = TryLoad(path, file_name);
        }
    }

    if (!done) {
        EM_TRACE(4, u"\nCLogMsgFile         : Search for file in current directory ...");
        std::u16string cwd;
        if (platform::GetCurrentDirectory(cwd)) {
            if (!cwd.empty() && cwd.back() == platform::kPathSeparator) cwd.pop_back();
            done = ok = TryLoad(cwd, file_name);
        }
    }

    if (!done) {
        EM_TRACE(4, u"\nCLogMsgFile         : Search for file in registered directory ...");
        std::u16string bin;
        diag::GetBinRoot(bin);
        ok = TryLoad(bin, file_name);
    }

    EM_TRACE(2, u"\nCLogMsgFile         : Event messages %s opened in \"%s\"!", ok ? u"successfully" : u"not", m_strPath);
    return ok;
}

std::u16string CLogMsgFile::GetMessageText(uint32_t code, std::u16string_view key, const std::u16string* language,
                                           uint32_t index) {
    const std::u16string code_text = CodeText(code, m_dwUnified);
    std::u16string text = m_doc.FindMessage(code_text, key, language, index);
    if (text.empty() && language && !language->empty() && !EqualNoCase(*language, u"en"))
        text = m_doc.FindMessage(code_text, key, nullptr, index);
    return text;
}

}  // namespace em

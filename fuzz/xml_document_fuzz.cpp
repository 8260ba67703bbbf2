// libFuzzer target: a document from arbitrary input, then a walk over every element, attribute
// and node. The first byte chooses how the rest is read: as UTF-16 text, as a file's bytes in
// memory, or from a file (which indexes UTF-8 while it is read; the file is then read the plainest
// way too, and the two documents must agree).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/codepage.h"

#include "xml/xml_document.h"
#include "xml/xml_tables.h"

namespace {

void Walk(em::xml::CXmlDocument& doc) {
    doc.ResetPosition();
    int depth = 0;
    for (int steps = 0; steps < 100000; ++steps) {
        if (doc.FindElement(nullptr)) {
            (void)doc.GetTagName();
            for (size_t i = 0;; ++i) {
                const std::u16string name = doc.GetAttributeName(i);
                if (name.empty()) break;
                (void)doc.GetAttribute(name);
            }
            (void)doc.GetData();
            if (doc.IntoElement()) ++depth;
            continue;
        }
        if (depth == 0 || !doc.OutOfElement()) break;
        --depth;
    }
    // Every node of the top level and of the root element.
    doc.ResetPosition();
    for (int round = 0; round < 2; ++round) {
        while (uint32_t kind = doc.FindNode(0xFF)) {
            (void)doc.GetData();
            (void)doc.GetTagName();
            if (kind == em::xml::kNodeProcessingInstruction) (void)doc.GetAttribute(u"encoding");
            if (kind == em::xml::kNodeElement && round == 0) break;
        }
        if (!doc.IntoElement()) break;
    }
    (void)doc.FindElement(u"Event");
    (void)doc.FindElement(u"*");
    (void)doc.IsWellFormed();
    (void)doc.GetResult();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    const uint32_t flags = (mode & 0x10 ? em::xml::kFlagIgnoreCase : 0) |
                           (mode & 0x20 ? em::xml::kFlagTrimWhiteSpace : 0) |
                           (mode & 0x40 ? em::xml::kFlagCollapseWhiteSpace : 0);
    em::xml::CXmlDocument doc(flags);
    if ((mode & 3) == 3) {
        static const std::string path = [] {
            const char* dir = std::getenv("TMPDIR");
            return std::string(dir && *dir ? dir : "/tmp") + "/xml_document_fuzz.xml";
        }();
        if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(data, 1, size, f);
            std::fclose(f);
            const bool ok = doc.LoadFile(em::platform::Utf8ToUtf16(path));
            em::xml::CXmlDocument plain(flags);
            const bool was = em::xml::detail::UsePlainReading(true);
            const bool plain_ok = plain.LoadFile(em::platform::Utf8ToUtf16(path));
            em::xml::detail::UsePlainReading(was);
            const auto& a = doc.GetIndex();
            const auto& b = plain.GetIndex();
            bool same = ok == plain_ok && doc.GetResult() == plain.GetResult() && doc.GetDoc() == plain.GetDoc() &&
                        a.size() == b.size();
            for (size_t i = 0; same && i < a.size(); ++i)
                same = a[i].nStart == b[i].nStart && a[i].nLength == b[i].nLength &&
                       a[i].nStartTagLen == b[i].nStartTagLen && a[i].nEndTagLen == b[i].nEndTagLen &&
                       a[i].nNameLen == b[i].nNameLen && a[i].iParent == b[i].iParent && a[i].iNext == b[i].iNext &&
                       a[i].nFlags == b[i].nFlags;
            if (!same) __builtin_trap();
        }
    } else if (mode & 1) {
        doc.LoadBytes(std::string(reinterpret_cast<const char*>(data), size));
    } else {
        std::u16string text(size / 2, u'\0');
        if (!text.empty()) std::memcpy(text.data(), data, text.size() * 2);
        doc.SetDocument(std::move(text));
    }
    Walk(doc);
    return 0;
}

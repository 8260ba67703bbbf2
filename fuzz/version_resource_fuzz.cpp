// Fuzz target: the version resource reader on an arbitrary block: the translation table, the
// common strings, the fixed part and value paths taken from the input.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "diag/version_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    em::diag::CVersionResource res;
    res.Assign(std::vector<uint8_t>(data, data + size));

    uint16_t language = 0, code_page = 0;
    (void)res.ContainsLangId(language, code_page);
    language = size ? data[0] : 0x409;
    (void)res.ContainsLangId(language, code_page);

    std::u16string text;
    for (const char16_t* name : {u"CompanyName", u"FileDescription", u"ProductVersion", u"FileVersion", u""})
        for (uint16_t lang : {uint16_t(0), uint16_t(0x409), uint16_t(0x407)}) (void)res.QueryString(text, name, lang, 1252);

    em::diag::VsFixedFileInfo info;
    (void)res.GetFixedInfo(info);

    // Paths from the input: every other byte pair read as a character, so keys in it can match.
    std::u16string path;
    for (size_t i = 0; i + 1 < size && path.size() < 80; i += 2)
        path.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    std::span<const uint8_t> value;
    uint16_t type = 0;
    for (std::u16string_view p : {std::u16string_view(path), std::u16string_view(u"\\"),
                                  std::u16string_view(u"\\VarFileInfo\\Translation"),
                                  std::u16string_view(u"\\\\StringFileInfo\\\\040904E4\\CompanyName\\")}) {
        if (res.QueryValue(p, value, &type)) {
            // The value lies inside the resource.
            if (!value.empty() && (value.data() < res.Bytes().data() ||
                                   value.data() + value.size() > res.Bytes().data() + res.Bytes().size()))
                __builtin_trap();
        }
    }
    return 0;
}

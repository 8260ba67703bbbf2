// Fuzz target: the registry file parser on arbitrary bytes, then lookups of every key and value it
// found and of paths taken from the input. A parse of the same bytes must give the same result.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/reg_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    em::platform::RegFile file;
    const bool ok = file.Parse(bytes);
    const size_t keys = file.KeyCount();
    const size_t skipped = file.SkippedLines();

    // Paths made of the input's own characters, with and without separators.
    std::u16string path;
    for (size_t i = 0; i < size && i < 64; ++i) path.push_back(static_cast<char16_t>(data[i] | (data[i] & 0x80 ? 0x100 : 0)));
    for (std::u16string_view p : {std::u16string_view(path), std::u16string_view(u"SOFTWARE\\Debug\\EM_TARNEL"),
                                  std::u16string_view(u"\\"), std::u16string_view(u"")}) {
        (void)file.HasKey(p);
        if (const auto* values = file.Values(p)) {
            for (const auto& [name, value] : *values) {
                const auto* found = file.FindValue(p, name);
                if (!found || found->type != value.type || found->data != value.data) std::abort();
            }
        }
        (void)file.FindValue(p, path);
        (void)em::platform::RegFile::NormaliseKey(p);
        (void)em::platform::RegFile::FoldName(p);
    }

    em::platform::RegFile again;
    if (again.Parse(bytes) != ok || again.KeyCount() != keys || again.SkippedLines() != skipped) std::abort();
    return 0;
}

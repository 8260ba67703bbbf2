// POSIX backend of platform/version_resource.h: the version block lives in a named section of
// the ELF file. The section headers are read from the file and checked against its size.
#include <cstring>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/sync.h"
#include "platform/version_resource.h"

namespace em::platform {

namespace {

// Largest version block accepted; a real one is well below 4 KB.
constexpr uint64_t kMaxBlock = 1u << 20;

struct Reader {
    File& file;
    uint64_t size;
    bool little;

    bool Bytes(uint64_t off, void* out, size_t n) {
        if (off > size || n > size - off) return false;
        return file.ReadAt(off, out, n);
    }
    uint64_t Decode(const uint8_t* p, size_t n) const {
        uint64_t v = 0;
        for (size_t i = 0; i < n; ++i) {
            size_t k = little ? n - 1 - i : i;
            v = (v << 8) | p[k];
        }
        return v;
    }
};

// Locates a section by name: its offset and size in the file.
bool FindSection(File& file, const char* name, uint64_t* out_offset, uint64_t* out_size) {
    uint64_t file_size = 0;
    if (!file.Size(&file_size)) return false;
    uint8_t ident[16];
    Reader r{file, file_size, true};
    if (!r.Bytes(0, ident, sizeof(ident))) return false;
    if (ident[0] != 0x7F || ident[1] != 'E' || ident[2] != 'L' || ident[3] != 'F') return false;
    const bool is64 = ident[4] == 2;
    if (ident[4] != 1 && ident[4] != 2) return false;
    if (ident[5] != 1 && ident[5] != 2) return false;
    r.little = ident[5] == 1;

    uint8_t eh[64];
    const size_t eh_size = is64 ? 64 : 52;
    if (!r.Bytes(0, eh, eh_size)) return false;
    const uint64_t shoff = is64 ? r.Decode(eh + 40, 8) : r.Decode(eh + 32, 4);
    const uint64_t shentsize = r.Decode(eh + (is64 ? 58 : 46), 2);
    uint64_t shnum = r.Decode(eh + (is64 ? 60 : 48), 2);
    uint64_t shstrndx = r.Decode(eh + (is64 ? 62 : 50), 2);
    const size_t min_ent = is64 ? 64 : 40;
    if (shoff == 0 || shentsize < min_ent) return false;

    uint8_t sh[64];
    auto header = [&](uint64_t index, uint64_t* name_off, uint64_t* off, uint64_t* size, uint64_t* link) {
        if (index > (file_size / shentsize)) return false;
        if (!r.Bytes(shoff + index * shentsize, sh, min_ent)) return false;
        *name_off = r.Decode(sh, 4);
        *off = is64 ? r.Decode(sh + 24, 8) : r.Decode(sh + 16, 4);
        *size = is64 ? r.Decode(sh + 32, 8) : r.Decode(sh + 20, 4);
        *link = r.Decode(sh + (is64 ? 40 : 24), 4);
        return true;
    };
    uint64_t n0, o0, s0, l0;
    if (shnum == 0 || shstrndx == 0xFFFF) {
        // Extended numbering: the counts live in section 0.
        if (!header(0, &n0, &o0, &s0, &l0)) return false;
        if (shnum == 0) shnum = s0;
        if (shstrndx == 0xFFFF) shstrndx = l0;
    }
    if (shnum == 0 || shstrndx >= shnum || shnum > file_size / shentsize) return false;

    uint64_t str_off, str_size, dummy;
    if (!header(shstrndx, &dummy, &str_off, &str_size, &dummy)) return false;
    if (str_off > file_size || str_size > file_size - str_off) return false;

    const size_t want = std::strlen(name);
    std::vector<char> candidate(want + 1);
    for (uint64_t i = 1; i < shnum; ++i) {
        uint64_t name_off, off, size, link;
        if (!header(i, &name_off, &off, &size, &link)) return false;
        if (name_off >= str_size || str_size - name_off < want + 1) continue;
        if (!r.Bytes(str_off + name_off, candidate.data(), want + 1)) continue;
        if (std::memcmp(candidate.data(), name, want) != 0 || candidate[want] != '\0') continue;
        if (off > file_size || size > file_size - off) return false;
        *out_offset = off;
        *out_size = size;
        return true;
    }
    return false;
}

bool Locate(std::u16string_view path, File& file, uint64_t* offset, uint64_t* size) {
    if (!file.Open(path, File::Mode::Read)) return false;  // last error set (2 when missing)
    if (!FindSection(file, kVersionSection, offset, size) || *size == 0 || *size > kMaxBlock) {
        SetLastError(kErrorResourceTypeNotFound);
        return false;
    }
    return true;
}

}  // namespace

uint32_t GetFileVersionInfoSize(std::u16string_view path) {
    File file;
    uint64_t offset = 0, size = 0;
    if (!Locate(path, file, &offset, &size)) return 0;
    return static_cast<uint32_t>(size);
}

bool GetFileVersionInfo(std::u16string_view path, uint32_t size, void* data) {
    File file;
    uint64_t offset = 0, section = 0;
    if (!data || !Locate(path, file, &offset, &section)) return false;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(section, size));
    if (!file.ReadAt(offset, data, n)) {
        SetLastError(30);  // ERROR_READ_FAULT
        return false;
    }
    return true;
}

bool QueryVersionValue(const void*, std::u16string_view, const uint8_t**, uint32_t*) { return false; }

}  // namespace em::platform

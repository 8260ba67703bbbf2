// Version information of a module file: the raw version resource (VS_VERSIONINFO layout) and
// the common strings and the file version read from it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace em::diag {

// The fixed part of a version resource (52 bytes, little-endian).
struct VsFixedFileInfo {
    uint32_t dwSignature = 0;
    uint32_t dwStrucVersion = 0;
    uint32_t dwFileVersionMS = 0;
    uint32_t dwFileVersionLS = 0;
    uint32_t dwProductVersionMS = 0;
    uint32_t dwProductVersionLS = 0;
    uint32_t dwFileFlagsMask = 0;
    uint32_t dwFileFlags = 0;
    uint32_t dwFileOS = 0;
    uint32_t dwFileType = 0;
    uint32_t dwFileSubtype = 0;
    uint32_t dwFileDateMS = 0;
    uint32_t dwFileDateLS = 0;
};

class CVersionResource {
public:
    bool Empty() const { return m_data.empty(); }
    // read_by_system: the bytes come from the system's file version call, so the system's value
    // query can read them; other bytes are read by this class's own walk of the blocks.
    void Assign(std::vector<uint8_t> data, bool read_by_system = false) {
        m_data = std::move(data);
        m_bSystemBlock = read_by_system;
    }
    const std::vector<uint8_t>& Bytes() const { return m_data; }

    // Looks the language up in the translation table; language 0 takes the first entry. On
    // success language and code page are set from the entry found.
    bool ContainsLangId(uint16_t& language, uint16_t& code_page) const;
    // One value of the string table; characters that are not printable become '?'.
    bool QueryString(std::u16string& text, const char16_t* name, uint16_t language, uint16_t code_page) const;
    bool GetFixedInfo(VsFixedFileInfo& info) const;

    // The value of a block addressed by a path such as "\StringFileInfo\040904E4\CompanyName"
    // ("\" is the root). type is 1 for text values, 0 for binary ones.
    bool QueryValue(std::u16string_view block, std::span<const uint8_t>& value, uint16_t* type = nullptr) const;

private:
    std::vector<uint8_t> m_data;
    bool m_bSystemBlock = false;
};

class CFileVersionInfo {
public:
    // Loads the version resource of the module file that contains the given address.
    void LoadFromModule(const void* address_in_module);
    bool LoadFromFile(const char16_t* path);

    // Language 0: the first language of the resource. The result stays valid until the next
    // string getter is called.
    const std::u16string& GetCompanyName(uint16_t language = 0) { return GetString(u"CompanyName", language); }
    const std::u16string& GetFileDescription(uint16_t language = 0) { return GetString(u"FileDescription", language); }
    const std::u16string& GetProductVersion(uint16_t language = 0) { return GetString(u"ProductVersion", language); }
    // "major.minor.build.revision" from the fixed part.
    bool GetFileVersion(std::u16string& text);

    const CVersionResource& Resource() const { return m_resource; }
    const std::u16string& FileName() const { return m_strFileName; }

    // Where system files live and where the system redirects 32-bit ones; replaceable in tests.
    using DirectoryFn = bool (*)(std::u16string& path);
    static void SetSystemDirectories(DirectoryFn system_dir, DirectoryFn wow64_dir);

private:
    const std::u16string& GetString(const char16_t* name, uint16_t language);

    CVersionResource m_resource;
    std::u16string m_strLast;
    std::u16string m_strFileName;
    bool m_bHasFileName = false;
};

}  // namespace em::diag

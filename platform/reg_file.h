// Parser of registry export files (.reg text), the storage of the POSIX registry. It reads a
// file as the registry's own import does wherever an administrator could tell the difference.
//
// Accepted: the headers "Windows Registry Editor Version 5.00" and "REGEDIT4"; UTF-16LE (with
// its byte order mark) or UTF-8 text, or ANSI (1252) text when it is not valid UTF-8; lines
// ended by CR LF, LF or CR; key lines [HKEY_LOCAL_MACHINE\...] (also [HKLM\...]) and [-...] to
// delete a key; value lines "name"=... and @=... with the values "text" (REG_SZ), dword:XXXXXXXX
// (REG_DWORD, blanks allowed after the colon), hex:.. (REG_BINARY), hex(N):.. (type N; hex(2)
// and hex(7) hold UTF-16LE text in a UTF-16 file, ANSI text in any other file and in every
// REGEDIT4 file), str(N):"text" (type N, UTF-16 text, \0
// separating the texts of a multi-string) and - (delete the value). Type words are lower case.
// Escapes in names and texts: \\, \", \n and \r; another character after a backslash stands for
// itself. A hex list continues on the next line after ",\" (blank and comment lines between the
// parts are skipped); no other line continues. Lines starting with ";" are comments. Key and
// value names ignore the case of letters throughout Unicode's Basic Multilingual Plane. Keys
// under other roots are ignored. A malformed line is skipped and counted.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace em::platform {

struct RegValue {
    uint32_t type = 0;
    std::vector<uint8_t> data;  // as the Windows registry stores it (strings UTF-16LE with terminator)
};

class RegFile {
public:
    // False when the text has no registry header; the file then holds nothing.
    bool Parse(std::string_view bytes);

    // Case-insensitive; a key exists when it or one of its subkeys is listed.
    bool HasKey(std::u16string_view path) const;
    const RegValue* FindValue(std::u16string_view key, std::u16string_view name) const;
    // Every value of a key (names upper-cased), or null when the key has none.
    const std::map<std::u16string, RegValue>* Values(std::u16string_view key) const;

    size_t SkippedLines() const { return m_skipped; }
    size_t KeyCount() const { return m_keys.size(); }

    // Normalised form of a key path or value name used for lookups (upper case, no leading or
    // trailing backslash, no doubled backslash).
    static std::u16string NormaliseKey(std::u16string_view path);
    static std::u16string FoldName(std::u16string_view name);

private:
    std::map<std::u16string, std::map<std::u16string, RegValue>> m_keys;
    size_t m_skipped = 0;
};

// The value called name among a registry file key's values, answered as a registry query: the type,
// the size, and the bytes when data can take them (kErrorMoreData and the size needed otherwise).
uint32_t QueryFileValue(const std::map<std::u16string, RegValue>& values, std::u16string_view name, uint32_t* type,
                        void* data, uint32_t* size);

// The registry file named by SetRegistryFile, or empty.
std::string RegistryFileOverride();

}  // namespace em::platform

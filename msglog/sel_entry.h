// The old-style SEL entry as lower modules send it: a 12-byte head followed by argument words.
//   byte 0      : flags (0 in text entries)
//   byte 1      : bits 0-5 error-code group (0x3F: text entry)
//   byte 3      : n, the number of 32-bit words
//   bytes 10-11 : object index, little-endian
#pragma once

#include <cstdint>

namespace em {

inline constexpr uint32_t kSelHeadSize = 12;
inline constexpr uint8_t kSelTextGroup = 0x3F;

inline uint8_t SelGroup(const uint8_t* p) { return p[1] & 0x3F; }
inline uint16_t SelObjectIndex(const uint8_t* p) { return static_cast<uint16_t>(p[10] | (p[11] << 8)); }
inline void SetSelObjectIndex(uint8_t* p, uint16_t v) {
    p[10] = static_cast<uint8_t>(v);
    p[11] = static_cast<uint8_t>(v >> 8);
}

// Length of the entry at p (its 12-byte head must be readable), modulo 65536.
inline uint32_t SelEntryLength(const uint8_t* p) {
    uint32_t n = p[3];
    uint32_t len;
    if (SelGroup(p) == kSelTextGroup && p[0] == 0) len = n > 0 ? 12 + 4 * (n - 1) : 12;
    else len = (n >= 1 && n <= 16) ? 12 + 4 * (n - 1) : 12;
    return len & 0xFFFF;
}

}  // namespace em

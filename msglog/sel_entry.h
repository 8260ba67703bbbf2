// The old-style SEL entry as lower modules send it: a 12-byte head followed by argument words.
//   byte 0      : error code, low byte (group 0x3F with low byte 0: text entry)
//   byte 1      : bits 0-5 error-code group, bits 6-7 entry class
//   byte 3      : n, the number of 32-bit words
//   bytes 4-7   : time stamp, little-endian
//   bytes 8-9   : cabinet number, little-endian
//   bytes 10-11 : object index, little-endian
#pragma once

#include <cstdint>

#include "module/byte_order.h"

namespace em {

inline constexpr uint32_t kSelHeadSize = 12;
inline constexpr uint8_t kSelTextGroup = 0x3F;

inline uint8_t SelGroup(const uint8_t* p) { return p[1] & 0x3F; }
inline uint32_t SelTime(const uint8_t* p) { return LoadLe32(p + 4); }
inline uint16_t SelCabinet(const uint8_t* p) { return LoadLe16(p + 8); }
inline uint16_t SelObjectIndex(const uint8_t* p) { return LoadLe16(p + 10); }
inline void SetSelObjectIndex(uint8_t* p, uint16_t v) { StoreLe16(p + 10, v); }

// Length of the entry at p (its 12-byte head must be readable), modulo 65536.
inline uint32_t SelEntryLength(const uint8_t* p) {
    uint32_t n = p[3];
    uint32_t len;
    if (SelGroup(p) == kSelTextGroup && p[0] == 0) len = n > 0 ? 12 + 4 * (n - 1) : 12;
    else len = (n >= 1 && n <= 16) ? 12 + 4 * (n - 1) : 12;
    return len & 0xFFFF;
}

}  // namespace em

// The two forms of log data that lower modules answer with, read with bounds checks, and the
// tables that name the requests for an old-style entry's CSS flag and designation string.
//
// Old-style SEL entries (CM_LogEntry, 0x0B00), back to back; their layout is in sel_entry.h.
// Unified record (CM_LogMessageArgumentsRead, 0x0B16), little-endian, back to back:
//   0 u16 record length | 3 u8 platform | 4 u32 error code | 8 u32 flags (bit 0 CSS) | 12 u32 time
//   16 u32 SEL record id | 24 u8 class | 25 u8 string count | 26 zero-terminated UTF-8 strings
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "msglog/msg_log_cache.h"
#include "msglog/sel_entry.h"

namespace em {

inline constexpr size_t kOldStyleMinSize = kSelHeadSize;
inline constexpr size_t kUnifiedMinSize = 26;
inline constexpr uint32_t kNoRequestOpcode = 0xFFFFFFFFu;
inline constexpr uint32_t kCssFlag = 1;  // bit 0 of an entry's flags

// The old-style entry at offset: its length when the whole entry lies inside data, else 0 (a head
// shorter than 12 bytes or an entry cut off by the end of the data).
size_t OldStyleEntryAt(std::span<const uint8_t> data, size_t offset);

// The fields of an old-style entry that the object key and the lookups need.
struct OldStyleKey {
    uint8_t group;     // error-code group (high six bits of the error code)
    uint8_t low;       // error code, low byte
    uint16_t oid;      // object the entry refers to
    uint16_t cabinet;  // cabinet the entry refers to
};
OldStyleKey OldStyleKeyOf(const uint8_t* entry);
// The object key the lookup caches are keyed by.
std::u16string ObjectKey(const OldStyleKey& k);

// Fills every field of an old-style entry except the CSS flag and the designation string.
void FillOldStyleEntry(const uint8_t* bytes, size_t length, uint32_t module_id, CMsgLogEntry& out);

// What reading one unified record found.
struct UnifiedRead {
    // The record's length field, where the next record starts; 0 when it cannot be trusted (head
    // cut off, length below the head size or beyond the data), and nothing after it can be found.
    size_t length = 0;
    // The string arguments lie inside the record; when not, the record is to be skipped.
    bool sound = false;
};
// Reads the unified record at offset into out (moduleId left as it is).
UnifiedRead ReadUnifiedRecord(std::span<const uint8_t> data, size_t offset, CMsgLogEntry& out);

// The opcode that asks whether the object of an entry of this group supports CSS; 0 when the
// group has none.
uint32_t CssRequestOpcode(uint8_t group);
// The opcode that reads the designation string; kNoRequestOpcode when the entry has none. Rows
// matching group and low byte win over rows matching the group alone.
uint32_t DesignationOpcode(uint8_t group, uint8_t low);

}  // namespace em

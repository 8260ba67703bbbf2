#include "msglog/log_scan_records.h"

#include <string_view>

#include "diag/format.h"
#include "module/byte_order.h"
#include "platform/codepage.h"

namespace em {

namespace {

struct CssRow {
    uint8_t group;
    uint32_t opcode;
};
constexpr CssRow kCssSupport[] = {
    {0x04, 0x0307}, {0x07, 0x0505}, {0x0C, 0x060C}, {0x15, 0x0529},
    {0x19, 0x0708}, {0x1B, 0x2113}, {0x1C, 0x2114},
};

struct DesignationRow {
    uint8_t group;
    uint8_t low;
    uint32_t opcode;
};
constexpr DesignationRow kDesignation[] = {
    {0x04, 0x00, 0x0304}, {0x05, 0x00, 0x0404}, {0x10, 0x00, 0x0404}, {0x07, 0x00, 0x0504},
    {0x0C, 0x00, 0x0602}, {0x15, 0x00, 0x0522}, {0x19, 0x00, 0x0702}, {0x19, 0x04, 0x0742},
    {0x19, 0x05, 0x0742}, {0x19, 0x22, 0x0752}, {0x19, 0x23, 0x0752}, {0x19, 0x24, 0x0752},
    {0x19, 0x28, 0x0752}, {0x19, 0x25, 0x0752}, {0x36, 0x00, 0xF042}, {0x36, 0x0A, kNoRequestOpcode},
    {0x36, 0x0B, kNoRequestOpcode}, {0x36, 0x0C, kNoRequestOpcode},
};

}  // namespace

size_t OldStyleEntryAt(std::span<const uint8_t> data, size_t offset) {
    if (offset > data.size() || data.size() - offset < kOldStyleMinSize) return 0;
    size_t length = SelEntryLength(data.data() + offset);
    if (length < kOldStyleMinSize || data.size() - offset < length) return 0;
    return length;
}

OldStyleKey OldStyleKeyOf(const uint8_t* entry) {
    return {SelGroup(entry), entry[0], SelObjectIndex(entry), SelCabinet(entry)};
}

std::u16string ObjectKey(const OldStyleKey& k) {
    return diag::Format(u"%02X%02X%02X%04X", k.group, k.low, k.oid, k.cabinet);
}

void FillOldStyleEntry(const uint8_t* bytes, size_t length, uint32_t module_id, CMsgLogEntry& out) {
    out.moduleId = module_id;
    out.rawSel.assign(bytes, bytes + length);
    out.errorCode = (static_cast<uint32_t>(SelGroup(bytes)) << 8) | bytes[0];
    out.flags = 0;
    out.timestamp = SelTime(bytes);
    out.selRecordId = CMsgLogEntry::kNoSelRecordId;
    out.platformId = 0;
    out.oldStyle = 1;
    out.entryClass = static_cast<uint8_t>(bytes[1] >> 6);
}

UnifiedRead ReadUnifiedRecord(std::span<const uint8_t> data, size_t offset, CMsgLogEntry& out) {
    UnifiedRead r;
    if (offset > data.size() || data.size() - offset < kUnifiedMinSize) return r;
    const uint8_t* p = data.data() + offset;
    const size_t length = LoadLe16(p);
    if (length < kUnifiedMinSize || data.size() - offset < length) return r;
    r.length = length;

    out.rawSel.clear();
    out.stringArgs.clear();
    out.platformId = p[3];
    out.errorCode = LoadLe32(p + 4);
    out.flags = LoadLe32(p + 8);
    out.timestamp = LoadLe32(p + 12);
    out.selRecordId = LoadLe32(p + 16);
    out.entryClass = p[24];
    out.oldStyle = 0;

    const uint32_t count = p[25];
    size_t pos = kUnifiedMinSize;
    for (uint32_t index = 1; index <= count; ++index) {
        std::string_view rest(reinterpret_cast<const char*>(p + pos), length - pos);
        size_t end = rest.find('\0');
        if (end == std::string_view::npos) return r;  // runs past its record
        if (end == 0) break;                           // an empty argument ends the list
        out.stringArgs.emplace(index, platform::Utf8ToUtf16(rest.substr(0, end)));
        pos += end + 1;
    }
    r.sound = true;
    return r;
}

uint32_t CssRequestOpcode(uint8_t group) {
    for (const CssRow& row : kCssSupport)
        if (row.group == group) return row.opcode;
    return 0;
}

uint32_t DesignationOpcode(uint8_t group, uint8_t low) {
    for (const DesignationRow& row : kDesignation)
        if (row.group == group && row.low == low) return row.opcode;
    for (const DesignationRow& row : kDesignation)
        if (row.group == group) return row.opcode;
    return kNoRequestOpcode;
}

}  // namespace em

#include "mapping/oid_map_table.h"

#include <new>

#include "diag/debug.h"
#include "module/sip_record.h"
#include "msglog/sel_entry.h"

namespace em {

#define R0(c, t) {RuleByOpcode, c, 0, t, 0}
const MappingRule MappingRules[43] = {
    R0(0x0300, 0x0301), R0(0x0300, 0x0302), R0(0x0300, 0x0303), R0(0x0300, 0x0313), R0(0x0300, 0x0314),
    R0(0x0300, 0x0304), R0(0x0300, 0x0305),
    R0(0x0400, 0x0401), R0(0x0400, 0x0402), R0(0x0400, 0x0403), R0(0x0400, 0x0404),
    R0(0x0500, 0x0501), R0(0x0500, 0x0504),
    R0(0x0520, 0x0521), R0(0x0520, 0x0522), R0(0x0520, 0x0523), R0(0x0520, 0x0524), R0(0x0520, 0x0525),
    R0(0x0520, 0x0526), R0(0x0520, 0x0527),
    R0(0xF041, 0xF042), R0(0xF041, 0xF043), R0(0xF041, 0xF044), R0(0xF041, 0xF045),
    {RuleByExtensionGroup, 0x0C21, 0x05, 0, 0x0508}, {RuleByExtensionGroup, 0x0C21, 0x05, 0, 0x0506},
    {RuleByExtensionGroup, 0x0C21, 0x1C, 0, 0x1C06}, {RuleByExtensionGroup, 0x0C21, 0x1C, 0, 0x1C06},
    {RuleByExtensionGroup, 0x0C21, 0x1C, 0, 0x1C03}, {RuleByExtensionGroup, 0x0C21, 0x1C, 0, 0x1C0A},
    {RuleByExtensionGroup, 0x0C21, 0x1C, 0, 0x1C08}, {RuleByExtensionGroup, 0x0C21, 0x1C, 0, 0x1C0E},
    {RuleByExtensionGroup, 0x0C21, 0x1C, 0, 0x1C0F},
    {RuleByConfigValue, 0x0300, 0, 0, 0x71}, {RuleByConfigValue, 0x0300, 0, 0, 0x72},
    {RuleByConfigValue, 0x0400, 0, 0, 0x73}, {RuleByConfigValue, 0x0400, 0, 0, 0x90},
    {RuleByConfigValue, 0x0400, 0, 0, 0x91},
    {RuleByLogErrorGroup, 0x0300, 0, 0, 0x04},
    {RuleByLogErrorGroup, 0x0400, 0, 0, 0x05}, {RuleByLogErrorGroup, 0x0400, 0, 0, 0x10},
    {RuleByLogErrorGroup, 0x0520, 0, 0, 0x15},
    {0xFFFFFFFF, 0, 0, 0, 0},
};
#undef R0

namespace {

// Rows are walked until the first row whose countOpcode is 0 or the terminator.
template <class F>
const MappingRule* FirstRule(F match) {
    for (const MappingRule& r : MappingRules) {
        if (r.countOpcode == 0 || r.kind == 0xFFFFFFFF) break;
        if (match(r)) return &r;
    }
    return nullptr;
}

uint64_t ItemKey(uint32_t instance, uint32_t mi) { return (uint64_t{mi} << 32) | instance; }
uint64_t OpCabKey(uint32_t opcode, uint32_t cabinet) { return (uint64_t{opcode} << 32) | cabinet; }

struct Cmd {
    uint32_t oc, oe, oi, mi, ca, st;
    explicit Cmd(const CSipRecord& r)
        : oc(r.Value(key::OC)), oe(r.Value(key::OE)), oi(r.Value(key::OI)), mi(r.Value(key::MI)),
          ca(r.Value(key::CA)), st(r.Value(key::ST)) {}
};

}  // namespace

COidMapTable::COidMapTable() : m_list(true) {}

COidMapTable::~COidMapTable() {
    platform::CsLock g(m_lock);
    for (uint32_t i = 0; i < m_list.GetCount(); ++i) delete static_cast<CInstanceMapEntry*>(m_list.GetAt(i));
    m_list.RemoveAll();
}

const CInstanceMapEntry* COidMapTable::EntryAt(uint32_t index) const {
    return static_cast<const CInstanceMapEntry*>(m_list.GetAt(index));
}

CInstanceMapEntry* COidMapTable::Find(uint32_t opcode, uint32_t ext, uint32_t cabinet) const {
    auto it = m_byKey.find(Key3{opcode, ext, cabinet});
    return it == m_byKey.end() ? nullptr : it->second;
}

bool COidMapTable::AddInstanceMapping(CSipRecord& record, uint32_t instance) {
    Cmd c(record);
    platform::CsLock g(m_lock);
    CInstanceMapEntry* e = Find(c.oc, c.oe, c.ca);
    if (!e) {
        e = new (std::nothrow) CInstanceMapEntry();
        if (!e) return false;
        e->opcode = c.oc;
        e->opcodeExt = c.oe;
        e->cabinet = c.ca;
        try {
            e->items.reserve(e->capacity);
            uint32_t before = m_list.GetCount();
            m_list.AddTail(e);
            if (m_list.GetCount() == before) throw std::bad_alloc();
            m_byKey.emplace(Key3{c.oc, c.oe, c.ca}, e);
            m_byOpcodeCabinet[OpCabKey(c.oc, c.ca)].push_back(e);
        } catch (const std::bad_alloc&) {
            delete e;
            return false;
        }
    }
    try {
        if (e->count >= e->capacity) {
            e->items.reserve(static_cast<size_t>(e->capacity) * 2);
            e->capacity *= 2;
        }
        InstanceMapItem item{instance, static_cast<uint16_t>(c.mi & 0xFFFF), static_cast<uint16_t>(c.mi >> 16)};
        e->items.push_back(item);
        e->firstPosition.emplace(ItemKey(instance, c.mi), e->count);
        ++e->count;
    } catch (const std::bad_alloc&) {
        // The entry keeps the items it has.
    }
    EM_TRACE(2, u"\nEM_TARNEL           : Counter OC 0x%04X: Map instance id 0x%04X to to MID 0x%04X%04X", e->opcode,
             instance, c.mi >> 16, c.mi & 0xFFFF);
    return true;
}

bool COidMapTable::AnswerMappedCount(CSipRecord& record) {
    Cmd c(record);
    uint32_t count;
    {
        platform::CsLock g(m_lock);
        CInstanceMapEntry* e = Find(c.oc, c.oe, c.ca);
        if (!e) return false;
        count = e->count;
    }
    record.SetReplyUInt(count & 0xFF, status::kOk);
    return true;
}

bool COidMapTable::MapToModule(CSipRecord& record, CountKey key) {
    Cmd c(record);
    InstanceMapItem item;
    {
        platform::CsLock g(m_lock);
        CInstanceMapEntry* e = Find(key.opcode, key.ext, c.ca);
        if (!e || e->count <= c.oi) return false;
        item = e->items[c.oi];
    }
    record.SetModuleId((static_cast<uint32_t>(item.moduleHigh) << 16) | item.moduleLow);
    record.SetObjectId(item.instance);
    return true;
}

bool COidMapTable::MapFromModule(CSipRecord& record, CountKey key) {
    Cmd c(record);
    uint32_t position;
    {
        platform::CsLock g(m_lock);
        CInstanceMapEntry* e = Find(key.opcode, key.ext, c.ca);
        if (!e) return false;
        auto it = e->firstPosition.find(ItemKey(c.oi, c.mi));
        if (it == e->firstPosition.end()) return false;
        position = it->second;
    }
    record.SetObjectId(position);
    return true;
}

bool COidMapTable::PatchOne(uint8_t* entry, uint32_t c, uint32_t cabinet, uint32_t mi) {
    auto list = m_byOpcodeCabinet.find(OpCabKey(c, cabinet));
    if (list == m_byOpcodeCabinet.end()) return false;
    uint16_t oid = SelObjectIndex(entry);
    uint16_t mi_high = static_cast<uint16_t>(mi >> 16), mi_low = static_cast<uint16_t>(mi & 0xFFFF);
    const bool traced = diag::g_Debug.IsActive();
    for (CInstanceMapEntry* e : list->second) {
        EM_TRACE(3, u"\nEM_TARNEL           : OID map table entry for CABID 0x%04X OC 0x%04X found!", cabinet, c);
        uint32_t hit = UINT32_MAX;
        if (traced) {
            // The comparisons are traced one by one; walk the items as they stand.
            for (uint32_t pos = 0; pos < e->count; ++pos) {
                const InstanceMapItem& it = e->items[pos];
                EM_TRACE(3, u"\nEM_TARNEL           : Compare map table values:");
                EM_TRACE(3, u"\nEM_TARNEL           :   MsgLog OID 0x%04X <-> MAP OID 0x%04X", oid, it.instance);
                EM_TRACE(3, u"\nEM_TARNEL           :   SIP MID 0x%04X%04X <-> MAP MID 0x%08X%08X", mi_high, mi_low,
                         it.moduleHigh, it.moduleLow);
                if (it.instance == oid && it.moduleHigh == mi_high && it.moduleLow == mi_low) {
                    hit = pos;
                    break;
                }
            }
        } else {
            auto f = e->firstPosition.find(ItemKey(oid, mi));
            if (f != e->firstPosition.end()) hit = f->second;
        }
        if (hit != UINT32_MAX) {
            EM_TRACE(2, u"\nEM_TARNEL           : Messag log reply OID patched from 0x%04X to 0x%04X", oid, hit);
            SetSelObjectIndex(entry, static_cast<uint16_t>(hit));
            return oid != static_cast<uint16_t>(hit);
        }
    }
    return false;
}

bool COidMapTable::PatchLogEntryOids(CSipRecord& record) {
    if (!record.HasAnswer(kSelHeadSize, true)) return false;
    std::vector<uint8_t> bytes;
    if (!record.GetDataBytes(record.Cur(), bytes)) return false;
    uint32_t cabinet = record.Value(key::CA), mi = record.Value(key::MI);
    bool matched = false, changed = false;
    {
        platform::CsLock g(m_lock);
        size_t offset = 0;
        while (offset < bytes.size() && bytes.size() - offset >= kSelHeadSize) {
            uint8_t* entry = bytes.data() + offset;
            uint8_t group = SelGroup(entry);
            if (group != kSelTextGroup) {
                for (const MappingRule& r : MappingRules) {
                    if (r.countOpcode == 0 || r.kind == 0xFFFFFFFF) break;
                    if (r.kind != RuleByLogErrorGroup || r.targetOpcodeExt != group) continue;
                    matched = true;
                    if (PatchOne(entry, r.countOpcode, cabinet, mi)) changed = true;
                }
            }
            offset += SelEntryLength(entry);
        }
    }
    if (changed) record.SetDataRaw(record.CurrentCommand(), bytes.data(), bytes.size());
    return matched;
}

bool COidMapTable::TranslateOids(CSipRecord& record, bool mapping_needed) {
    if (!mapping_needed) return false;
    Cmd c(record);
    CountKey key{};
    switch (c.oc) {
        case 0x0B02: return PatchLogEntryOids(record);
        case 0x0C00:
        case 0x0C01: {
            const MappingRule* r =
                FirstRule([&](const MappingRule& m) { return m.kind == RuleByExtensionGroup && m.targetOpcodeExt == c.oe; });
            if (!r) return false;
            key = {r->countOpcode, (c.oe >> 8) & 0xFF};
            break;
        }
        case 0x0C21: return AnswerMappedCount(record);
        case 0xE001:
        case 0xE002: {
            const MappingRule* r =
                FirstRule([&](const MappingRule& m) { return m.kind == RuleByConfigValue && m.targetOpcodeExt == c.oe; });
            if (!r) return false;
            key = {r->countOpcode, r->countOpcodeExt};
            break;
        }
        default: {
            if (AnswerMappedCount(record)) return true;
            const MappingRule* r =
                FirstRule([&](const MappingRule& m) { return m.targetOpcode == c.oc && m.targetOpcodeExt == c.oe; });
            if (!r) return false;
            key = {r->countOpcode, r->countOpcodeExt};
            break;
        }
    }
    return c.st == status::kPending ? MapToModule(record, key) : MapFromModule(record, key);
}

}  // namespace em

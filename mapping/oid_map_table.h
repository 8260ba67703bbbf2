// The OID map table: per cabinet and object kind, which lower module owns which global object
// index. Filled by the count pass at start, read by the translation of requests, replies and
// message log entries.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "module/locked_ptr_list.h"
#include "platform/sync.h"

namespace em {

class CSipRecord;

enum MappingRuleKind : uint32_t {
    RuleByOpcode = 0,
    RuleByConfigValue = 1,
    RuleByExtensionGroup = 2,
    RuleByLogErrorGroup = 3,
};

struct MappingRule {
    uint32_t kind;
    uint32_t countOpcode;
    uint32_t countOpcodeExt;
    uint32_t targetOpcode;
    uint32_t targetOpcodeExt;
};

// 42 rows and the terminating row (0xFFFFFFFF, 0, 0, 0, 0).
extern const MappingRule MappingRules[43];
inline constexpr size_t kMappingRuleCount = 42;

struct InstanceMapItem {
    uint32_t instance;
    uint16_t moduleLow;
    uint16_t moduleHigh;
};

struct CInstanceMapEntry {
    uint32_t opcode = 0;
    uint32_t opcodeExt = 0;
    uint32_t cabinet = 0;
    std::vector<InstanceMapItem> items;  // position = global object index
    uint32_t capacity = 16;              // doubled when an item would not fit
    uint32_t count = 0;
    // First position of each (instance, module id) pair.
    std::unordered_map<uint64_t, uint32_t> firstPosition;
};

// A count key: count opcode and its extension.
struct CountKey {
    uint32_t opcode;
    uint32_t ext;
};

class COidMapTable {
public:
    COidMapTable();
    ~COidMapTable();
    COidMapTable(const COidMapTable&) = delete;
    COidMapTable& operator=(const COidMapTable&) = delete;

    // Appends one item for the current command of a count reply (its OC, OE, CA and MI).
    bool AddInstanceMapping(CSipRecord& record, uint32_t instance) EM_EXCLUDES(m_lock);

    // The translation steps on a record's current command.
    bool AnswerMappedCount(CSipRecord& record) EM_EXCLUDES(m_lock);
    bool MapToModule(CSipRecord& record, CountKey key) EM_EXCLUDES(m_lock);
    bool MapFromModule(CSipRecord& record, CountKey key) EM_EXCLUDES(m_lock);
    bool PatchLogEntryOids(CSipRecord& record) EM_EXCLUDES(m_lock);
    // The one translation entry; does nothing unless mapping is needed.
    bool TranslateOids(CSipRecord& record, bool mapping_needed) EM_EXCLUDES(m_lock);

    uint32_t EntryCount() const { return m_list.GetCount(); }
    // Entries in creation order (for display and tests).
    const CInstanceMapEntry* EntryAt(uint32_t index) const;

private:
    struct Key3 {
        uint32_t opcode, ext, cabinet;
        bool operator==(const Key3&) const = default;
    };
    struct Key3Hash {
        size_t operator()(const Key3& k) const noexcept {
            uint64_t h = (uint64_t{k.opcode} << 32) ^ (uint64_t{k.ext} << 16) ^ k.cabinet;
            return std::hash<uint64_t>()(h * 0x9E3779B97F4A7C15ull);
        }
    };

    CInstanceMapEntry* Find(uint32_t opcode, uint32_t ext, uint32_t cabinet) const EM_REQUIRES(m_lock);
    // Patches one log entry's object index with the entries of count opcode c; true if changed.
    bool PatchOne(uint8_t* entry, uint32_t c, uint32_t cabinet, uint32_t mi) EM_REQUIRES(m_lock);

    // The table in creation order (it never owns its elements: the destructor frees them).
    CLockedPtrList m_list;
    // Guards the indexes and the entries' items; taken before the list's own lock.
    mutable platform::CriticalSection m_lock;
    std::unordered_map<Key3, CInstanceMapEntry*, Key3Hash> m_byKey EM_GUARDED_BY(m_lock);
    // Entries of one (opcode, cabinet) in creation order, whatever their extension.
    std::unordered_map<uint64_t, std::vector<CInstanceMapEntry*>> m_byOpcodeCabinet EM_GUARDED_BY(m_lock);
};

}  // namespace em

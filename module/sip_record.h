// The request record: every request, reply, event and task travels as one.
//
// A small tree rooted at SIP holding a list CMD of commands; each command is addressed by cabinet
// (CA), opcode (OC), opcode extension (OE), object index (OI) and module id (MI) and carries a
// status (ST) and data (DA). Built, read and changed in memory only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include <rapidjson/document.h>

#include "platform/heap.h"

namespace em {

// Stateless allocator on the process heap, zero-filling like the host's heap.
class CProcessHeapAllocator {
public:
    static const bool kNeedFree = true;
    void* Malloc(size_t size) noexcept { return size ? platform::HeapAllocZero(size) : nullptr; }
    void* Realloc(void* block, size_t /*old_size*/, size_t new_size) noexcept {
        if (new_size == 0) {
            platform::HeapFree(block);
            return nullptr;
        }
        return platform::HeapReAllocZero(block, new_size);
    }
    static void Free(void* block) noexcept { platform::HeapFree(block); }
};

using SipEncoding = rapidjson::UTF16<char16_t>;
using SipValue = rapidjson::GenericValue<SipEncoding, CProcessHeapAllocator>;
using SipDocument = rapidjson::GenericDocument<SipEncoding, CProcessHeapAllocator, CProcessHeapAllocator>;

// Record keys.
namespace key {
inline constexpr char16_t SIP[] = u"SIP";
inline constexpr char16_t V[] = u"V";
inline constexpr char16_t C[] = u"C";
inline constexpr char16_t CMD[] = u"CMD";
inline constexpr char16_t CA[] = u"CA";
inline constexpr char16_t OC[] = u"OC";
inline constexpr char16_t OE[] = u"OE";
inline constexpr char16_t OI[] = u"OI";
inline constexpr char16_t MI[] = u"MI";
inline constexpr char16_t CI[] = u"CI";
inline constexpr char16_t ST[] = u"ST";
inline constexpr char16_t DA[] = u"DA";
inline constexpr char16_t RAW[] = u"RAW";
}  // namespace key

// Status values.
namespace status {
inline constexpr uint32_t kOk = 0;
inline constexpr uint32_t kNotHandled = 1;
inline constexpr uint32_t kParagraphBeyondEnd = 2;
inline constexpr uint32_t kNoHost = 6;
inline constexpr uint32_t kFinal12 = 12;
inline constexpr uint32_t kTimeout = 15;
inline constexpr uint32_t kInvalidArguments = 18;
inline constexpr uint32_t kNotFound = 19;
inline constexpr uint32_t kFinal21 = 21;
inline constexpr uint32_t kPending = 22;
inline constexpr uint32_t kNoResolutions = 25;
inline constexpr uint32_t kEvent = 255;
}  // namespace status

inline constexpr uint32_t kAllModules = 0xFFFFFFFFu;
inline constexpr uint32_t kNoStatus = 0xFFFFFFFFu;

// 0, 12, 21 and 255: the command has been answered or is an event.
constexpr bool IsFinalStatus(uint32_t st) { return st == 0 || st == 12 || st == 21 || st == 255; }

class CSipRecord {
public:
    CSipRecord();
    CSipRecord(uint32_t opcode, uint32_t opcode_ext, uint32_t object_id, uint32_t cabinet, uint32_t status);
    CSipRecord(const CSipRecord& other);
    CSipRecord& operator=(const CSipRecord&) = delete;
    ~CSipRecord();

    void Reset();
    void CopyFrom(const CSipRecord& other);

    // ---- commands ----
    bool FirstCommand();
    bool NextCommand();
    uint32_t CommandCount() const;
    const SipValue& CommandArray() const;
    SipValue& CurrentCommand();
    void ClearCommands();
    uint32_t CurrentIndex() const { return m_nCurrent; }

    // ---- reading command n ----
    uint32_t GetCommandValue(int32_t n, const char16_t* key, uint32_t def) const;
    uint64_t GetDataLength(int32_t n) const;
    bool GetDataUInt(int32_t n, uint32_t& value) const;
    bool GetDataString(int32_t n, std::u16string& text, uint32_t offset) const;
    bool GetDataBytes(int32_t n, std::vector<uint8_t>& bytes) const;
    bool GetDataStringList(int32_t n, std::vector<std::u16string>& texts) const;
    bool HasData(int32_t n, uint64_t length, bool at_least) const;
    bool HasAnswer(uint64_t length, bool at_least) const;

    // Shorthands on the current command, with the readers' defaults (22 for ST, 0 otherwise).
    uint32_t Value(const char16_t* key) const;
    int32_t Cur() const { return static_cast<int32_t>(m_nCurrent); }

    // ---- scanning all commands ----
    uint32_t CountAnsweredCommands() const;
    bool AnyCommandAnswered() const;
    bool AnyCommandHasStatus(uint32_t status) const;
    bool SelectFirstAnsweredCommand();

    // ---- writing a given command object ----
    bool SetUIntValue(SipValue& object, const char16_t* key, uint32_t value, bool remove_if_zero);
    void SetCommandAddress(SipValue& command, uint32_t opcode, uint32_t opcode_ext, uint32_t object_id,
                           uint32_t cabinet, uint32_t status);
    bool SetDataUInt(SipValue& command, uint32_t value);
    bool SetDataString(SipValue& command, const char16_t* text);
    bool SetDataStringList(SipValue& command, const std::vector<std::u16string>& texts);
    bool SetDataRaw(SipValue& command, const uint8_t* bytes, size_t count);

    // ---- writing the current command ----
    void SetObjectId(uint32_t value);
    void SetModuleId(uint32_t value);
    void SetModuleId(uint16_t high, uint16_t low);
    void SetCommandCI(uint32_t value);
    void SetReplyUInt(uint32_t value, uint32_t status);
    void SetReplyRaw(const std::vector<uint8_t>& bytes, uint32_t status);
    void ClearData(uint32_t status);
    // Writes ST of the current command (appended when absent).
    void SetStatus(uint32_t status);

    // ---- request-level mark ----
    void SetCFlag(bool on);
    bool GetCFlag() const;

    // ---- attached text (carried, never set by the module) ----
    const char16_t* AttachedText() const { return m_pszText; }
    void SetAttachedText(const char16_t* text);

    // The tree, for the few callers (the host) that build unusual shapes.
    SipDocument& Document() { return m_doc; }
    const SipDocument& Document() const { return m_doc; }
    SipValue::AllocatorType& Allocator() { return m_doc.GetAllocator(); }

    // The shared immutable null value that lookups of missing keys yield.
    static const SipValue& NullValue();

    // ---- taking commands over from another record ----
    // Appends command n of from to this record's commands; from keeps a null in its place (its
    // command count and current index do not change). Both records allocate from the process
    // heap, so the command's memory changes owner without a copy. False when from has no command
    // n; this record gets its skeleton repaired when needed.
    bool MoveCommandFrom(CSipRecord& from, int32_t n);

private:
    const SipValue* Command(int32_t n) const;
    const SipValue* Cmd() const;  // CMD array or null
    SipValue* CmdMutable();
    SipValue* Ensure();           // SIP object, repaired if needed
    static const SipValue* Member(const SipValue& object, const char16_t* key);
    void FreeText();

    char16_t* m_pszText = nullptr;
    SipDocument m_doc;
    uint32_t m_nCurrent = 0;

    friend struct SipRecordLayout;
};

// The host builds and reads records with its own compiler, so the record's layout is part of the
// interface: plain pointers and numbers only (no standard-library member, nothing that throws), at
// these offsets on every x64 build.
struct SipRecordLayout {
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#endif
    static constexpr size_t kAttachedText = offsetof(CSipRecord, m_pszText);
    static constexpr size_t kDocument = offsetof(CSipRecord, m_doc);
    static constexpr size_t kCurrentCommand = offsetof(CSipRecord, m_nCurrent);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
};
static_assert(sizeof(void*) == 8, "the record layout is that of an x64 host");
static_assert(SipRecordLayout::kAttachedText == 0);
static_assert(SipRecordLayout::kDocument == 8);
static_assert(sizeof(SipDocument) == 96 && sizeof(SipValue) == 16);
static_assert(SipRecordLayout::kCurrentCommand == 104);
static_assert(sizeof(CSipRecord) == 112 && alignof(CSipRecord) == 8);
// The allocator has no state, so every instance (the host's or the module's) frees every block.
static_assert(std::is_empty_v<CProcessHeapAllocator>);
static_assert(noexcept(CProcessHeapAllocator().Malloc(1)) && noexcept(CProcessHeapAllocator::Free(nullptr)));

}  // namespace em

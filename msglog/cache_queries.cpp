// GetMsgLogCacheEntries: a page of a cabinet's cached log entries, newest first, as entry records
// with their text in the requested language.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "diag/debug.h"
#include "diag/format.h"
#include "module/byte_order.h"
#include "module/opcodes.h"
#include "module/sip_record.h"
#include "module/tarnel_module.h"
#include "msglog/log_msg_decoder.h"
#include "platform/codepage.h"

namespace em {

namespace {

constexpr uint32_t kAllLanguages = 0xFFFFFFFF;  // old-style entries without language and designation

// Entry record: u16 length, u8 type 3, u8 class, u16 code, u8 flags, u8 0, u32 time, u32 number,
// then the text in UTF-8 with its terminating zero. The length counts the whole record.
constexpr size_t kRecordHeadSize = 16;
constexpr uint8_t kRecordType = 3;
// The longest text whose record length still fits 16 bits.
constexpr size_t kMaxTextBytes = 0xFFFF - kRecordHeadSize - 1;

// How many bytes of utf8 fit into max without splitting a character: a text that is too long is
// cut at the last character boundary at or before max.
size_t FittingLength(const std::string& utf8, size_t max) {
    if (utf8.size() <= max) return utf8.size();
    size_t n = max;
    while (n > 0 && (static_cast<uint8_t>(utf8[n]) & 0xC0) == 0x80) --n;
    return n;
}

// The 16-bit code of the record: old style the code itself; unified bits 16-23 as the high byte
// and bits 0-7 as the low byte.
uint32_t RecordCode(const CMsgLogEntry& e) {
    if (e.oldStyle) return e.errorCode & 0xFFFF;
    return (((e.errorCode >> 16) & 0xFF) << 8) | (e.errorCode & 0xFF);
}

void AppendRecord(std::vector<uint8_t>& out, const CMsgLogEntry& e, const std::string& utf8) {
    const size_t length = FittingLength(utf8, kMaxTextBytes);
    AppendLe16(out, static_cast<uint16_t>(kRecordHeadSize + length + 1));
    out.push_back(kRecordType);
    out.push_back(e.entryClass);
    AppendLe16(out, static_cast<uint16_t>(RecordCode(e)));
    out.push_back(static_cast<uint8_t>(e.flags));
    out.push_back(0);
    AppendLe32(out, e.timestamp);
    AppendLe32(out, e.sequenceNumber);
    out.insert(out.end(), utf8.begin(), utf8.begin() + static_cast<std::ptrdiff_t>(length));
    out.push_back(0);
}

// The cabinet's cache, found by walking the cabinet list one step at a time under the table lock.
CCabinetLogCache* FindCabinet(CMsgLogCache& cache, uint32_t cabinet) {
    for (uint32_t i = 0;; ++i) {
        CCabinetLogCache* c;
        {
            platform::CsLock g(cache.TableLock());
            c = cache.CabinetAt(i);
        }
        if (!c || c->Cabinet() == cabinet) return c;
    }
}

// Copies the entries of the page, newest first. The copies are taken in one go under the entry
// list's lock, so a fill trimming the list meanwhile can neither free an entry being read nor
// shift the page under the walk; the texts are made afterwards, without any lock (a unified
// entry may wait for the lower modules).
std::vector<CMsgLogEntry> CopyPage(const CCabinetLogCache& cabinet, uint32_t page, uint32_t per_page,
                                   uint32_t lowest) {
    std::vector<CMsgLogEntry> out;
    platform::CsLock g(cabinet.EntryLock());
    const CLockedPtrList& list = cabinet.Entries();
    const uint64_t count = list.GetCount();
    uint64_t s = uint64_t{per_page} * page;
    auto at = [&](uint64_t i) { return static_cast<const CMsgLogEntry*>(list.GetAt(static_cast<uint32_t>(i))); };
    while (s < count && at(s)->sequenceNumber < lowest) ++s;
    if (s >= count) return out;
    const uint64_t k = std::min<uint64_t>(per_page, count - s);
    out.reserve(static_cast<size_t>(k));
    for (uint64_t i = s + k; i-- > s;) out.push_back(*at(i));
    return out;
}

}  // namespace

bool CTarnelModule::GetMsgLogCacheEntries(CSipRecord& record) {
    const int32_t cur = record.Cur();
    const uint32_t oe = record.Value(key::OE);
    EM_TRACE(3, u"\nEM_TARNEL           : GetMsgLogCacheEntries OpCodeExt: 0x%X", oe);

    const uint32_t unified = UnifiedSel() ? 1 : 0;
    CLogMsgDecoder decoder(unified);
    const std::u16string language = decoder.SetLanguage(static_cast<uint16_t>(oe));

    uint32_t lowest = 0;
    if (record.HasData(cur, 0, false) && !record.GetDataUInt(cur, lowest)) lowest = 0;
    SipValue& command = record.CurrentCommand();
    if (command.IsObject()) command.RemoveMember(key::DA);

    std::vector<uint8_t> bytes;
    if (CCabinetLogCache* cabinet = FindCabinet(m_msgLogCache, record.Value(key::CA))) {
        const std::vector<CMsgLogEntry> page =
            CopyPage(*cabinet, record.Value(key::OI), m_dwEntriesPerPage, lowest);
        bytes.reserve(page.size() * 96);
        std::u16string text;
        std::string utf8;
        for (const CMsgLogEntry& e : page) {
            EM_TRACE(3, u"\nEM_TARNEL           : Translate (%s format based) log entry 0x%08X - CSS: %s",
                     e.oldStyle ? u"old" : u"new", e.errorCode, (e.flags & 1) ? u"true" : u"false");
            text.clear();
            if (!e.oldStyle) {
                std::u16string long_text;
                const TextKey key{e.errorCode, static_cast<uint16_t>(oe), 0};
                if (!m_textCaches.longText.Get(key, long_text)) {
                    EM_TRACE(4, u"\nEM_TARNEL           :     Request long text message string via VELT ...");
                    CSipRecord request(opcode::kLongText, oe, 0, ServerCabinetNumber(), status::kPending);
                    request.SetDataUInt(request.CurrentCommand(), e.errorCode);
                    PassDown(request, kLookupTimeoutMs);
                    if (IsFinalStatus(request.Value(key::ST))) {
                        if (!request.GetDataString(request.Cur(), long_text, 0)) long_text.clear();
                        EM_TRACE(4, u"\nEM_TARNEL           :     ... long text: \"%s\"", long_text);
                        m_textCaches.longText.Put(key, long_text);
                    }
                }
                if (!long_text.empty()) {
                    // Twice what a record can hold: whatever its UTF-8 form, the cut falls inside.
                    if (!e.stringArgs.empty())
                        text = CLogMsgDecoder::SubstituteStringArgs(long_text, e.stringArgs, 2 * kMaxTextBytes);
                    if (text.empty()) text = std::move(long_text);
                }
            } else {
                EM_TRACE(4, u"\nEM_TARNEL           :     Decode long text message string (%s SEL message) ...",
                         unified ? u"Unified" : u"old style");
                if (oe == kAllLanguages) {
                    decoder.DecodeEntry(text, e.rawSel, nullptr, nullptr);
                } else {
                    auto designation = e.stringArgs.find(0);
                    decoder.DecodeEntry(text, e.rawSel,
                                        designation != e.stringArgs.end() ? &designation->second : nullptr, &language);
                }
            }
            if (text.empty()) {
                text = diag::Format(u"Unknown error 0x%04X", e.errorCode);
                EM_TRACE(1, u"\nEM_TARNEL           : WARNING! Missing translation for message error code 0x%04X",
                         e.errorCode);
            }
            EM_TRACE(5, u"\nEM_TARNEL           : Append SIP Msg: \"%s\"", text);
            platform::Utf16ToUtf8(text, utf8);
            AppendRecord(bytes, e, utf8);
        }
    }

    if (!bytes.empty()) {
        record.SetDataRaw(record.CurrentCommand(), bytes.data(), bytes.size());
        record.SetStatus(status::kOk);
    }
    return record.HasData(cur, 0, false);
}

}  // namespace em

// Fuzz target: FillCache over reply records of several commands, filled one or more times into a
// fresh module, with lookups answered by a host that the input steers.
//
// Input:
//   byte 0   bits 0-1: opcode of the record (0x0B00, 0x0B16, 0x0B16, 0x0B03);
//            bits 4-7: how many times the same record is filled: once below 12, else 5, 9,
//            13 or 17 times (enough to reach the cabinet's limit)
//   byte 1   lookup answers: bits 0-2 status of CSS requests, bit 3 CSS flag value,
//            bits 4-6 status of designation requests, bit 7 designation as a number
//   then up to 16 commands, each: one byte (bits 0-2 status, bits 3-4 what DA holds: bytes,
//   a number, text, nothing), a 16-bit little-endian length, that many data bytes.
//
// Checked: every entry the record readers find in an answered command is stored, numbered
// without gaps after the last number given, at most 2000 kept; each reply's entries keep their
// order through the merge.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "diag/debug.h"
#include "module/byte_order.h"
#include "module/host_interface.h"
#include "module/opcodes.h"
#include "module/sip_record.h"
#include "module/tarnel_module.h"
#include "msglog/log_scan_records.h"

namespace {

#define FUZZ_CHECK(cond) \
    do {                 \
        if (!(cond)) std::abort(); \
    } while (0)

constexpr uint32_t kStatuses[8] = {0, 12, 21, 255, 15, 1, 6, 22};
constexpr uint32_t kCabinet = 0;

void Discard(void*, uint32_t, std::u16string_view) {}

std::set<uint32_t> CssOpcodes() {
    std::set<uint32_t> out;
    for (uint32_t g = 0; g < 0x40; ++g)
        if (uint32_t oc = em::CssRequestOpcode(static_cast<uint8_t>(g))) out.insert(oc);
    return out;
}

// Answers the CSS and designation requests of the fill.
class LookupHost final : public em::IExtensionHost {
public:
    explicit LookupHost(uint8_t mode) : m_mode(mode) {}
    uint32_t SendRequest(em::IExtensionModule*, em::CSipRecord* r, uint32_t) override {
        static const std::set<uint32_t> css = CssOpcodes();
        r->FirstCommand();
        if (css.count(r->GetCommandValue(0, em::key::OC, 0))) {
            r->SetReplyUInt((m_mode & 8) ? 0x101 : 0x100, kStatuses[m_mode & 7]);
        } else if (m_mode & 0x80) {
            r->SetReplyUInt(42, kStatuses[(m_mode >> 4) & 7]);
        } else {
            r->SetStatus(kStatuses[(m_mode >> 4) & 7]);
            r->SetDataString(r->CurrentCommand(), u"Fan \"1\" %1");
        }
        return 1;
    }
    uint32_t DeliverRecord(em::IExtensionModule*, em::CSipRecord*) override { return 1; }
    uint32_t StartCompleted(em::IExtensionModule*, uint32_t) override { return 1; }
    uint32_t GetSECabinets(uint32_t**, uint8_t*) override { return 0; }
    uint32_t ForwardEvent(em::IExtensionModule*, em::CSipRecord*, uint16_t, uint16_t) override { return 1; }
    uint32_t GetHostType() override { return 0; }

private:
    uint8_t m_mode;
};

// What the readers find in one reply's data: the entries' times and codes, in order.
using Found = std::vector<std::pair<uint32_t, uint32_t>>;

Found Read(uint32_t oc, const std::vector<uint8_t>& data) {
    Found out;
    size_t offset = 0;
    while (offset < data.size()) {
        em::CMsgLogEntry e;
        size_t length;
        bool keep = true;
        if (oc == em::opcode::kLogEntry) {
            length = em::OldStyleEntryAt(data, offset);
            if (length) em::FillOldStyleEntry(data.data() + offset, length, 0, e);
        } else {
            const em::UnifiedRead r = em::ReadUnifiedRecord(data, offset, e);
            length = r.length;
            keep = r.sound;
        }
        if (length == 0) break;
        if (keep) out.emplace_back(e.timestamp, e.errorCode);
        offset += length;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool traced = [] {
        em::diag::g_Debug.SetCapture(&Discard, nullptr, 5);  // every trace line is composed
        return true;
    }();
    (void)traced;
    if (size < 2) return 0;
    constexpr uint32_t kOpcodes[4] = {em::opcode::kLogEntry, em::opcode::kLogMessageArgumentsRead,
                                      em::opcode::kLogMessageArgumentsRead, em::opcode::kLogClear};
    const uint32_t oc = kOpcodes[data[0] & 3];
    const uint32_t repeat = data[0] >> 4;
    const uint32_t fills = repeat < 12 ? 1 : 1 + (repeat - 11) * 4;
    LookupHost host(data[1]);

    em::CSipRecord record(oc, 0, 0, kCabinet, em::kNoStatus);
    auto& cmds = record.Document()[em::key::SIP][em::key::CMD];
    cmds.Clear();
    size_t pos = 2;
    for (uint32_t k = 0; k < 16 && pos + 3 <= size; ++k) {
        const uint8_t sel = data[pos];
        const size_t length = std::min<size_t>(em::LoadLe16(data + pos + 1), size - pos - 3);
        const uint8_t* bytes = data + pos + 3;
        pos += 3 + length;
        em::SipValue c(rapidjson::kObjectType);
        record.SetCommandAddress(c, oc, 0, 0, kCabinet, kStatuses[sel & 7]);
        record.SetUIntValue(c, em::key::MI, 0x10001 * (k + 1), false);
        switch ((sel >> 3) & 3) {
            case 0: record.SetDataRaw(c, bytes, length); break;
            case 1: record.SetDataUInt(c, length >= 4 ? em::LoadLe32(bytes) : 0); break;
            case 2: record.SetDataString(c, std::u16string(bytes, bytes + length).c_str()); break;
            default: break;
        }
        cmds.PushBack(c, record.Allocator());
    }

    // What each answered command should give, as the readers see it.
    const size_t min_size = oc == em::opcode::kLogEntry ? em::kOldStyleMinSize : em::kUnifiedMinSize;
    std::map<uint32_t, Found> by_module;
    size_t per_fill = 0;
    if (oc != em::opcode::kLogClear) {
        std::vector<uint8_t> bytes;
        for (uint32_t n = 0; n < record.CommandCount(); ++n) {
            const int32_t i = static_cast<int32_t>(n);
            if (!em::IsFinalStatus(record.GetCommandValue(i, em::key::ST, em::status::kPending)) ||
                !record.HasData(i, min_size, true) || !record.GetDataBytes(i, bytes) || bytes.size() < min_size)
                continue;
            Found f = Read(oc, bytes);
            per_fill += f.size();
            if (!f.empty()) by_module[record.GetCommandValue(i, em::key::MI, 0)] = std::move(f);
        }
    }

    em::CTarnelModule m;
    m.Attach(&host, 0x00FE0001);
    em::CMsgLogCache& cache = m.MsgLogCache();
    for (uint32_t f = 0; f < fills; ++f) {
        const uint32_t last = cache.GetLastSequenceNumber(kCabinet);
        const uint32_t count = cache.GetEntryCount(kCabinet);
        const uint32_t first = m.FillCache(record);
        FUZZ_CHECK(first == (per_fill ? last + 1 : 0));
        FUZZ_CHECK(cache.GetLastSequenceNumber(kCabinet) == last + per_fill);
        const size_t kept = std::min<size_t>(count + per_fill, em::CMsgLogCache::kMaxEntries);
        FUZZ_CHECK(cache.GetEntryCount(kCabinet) == kept);
        if (f > 0 || per_fill > em::CMsgLogCache::kMaxEntries) continue;

        // First fill: every reply's entries in their own order.
        std::map<uint32_t, Found> stored;
        em::CCabinetLogCache* c = cache.GetCabinet(kCabinet, false);
        em::CMsgLogEntry e;
        for (uint32_t i = 0; c && c->CopyEntryAt(i, e); ++i) {
            FUZZ_CHECK(e.sequenceNumber == i + 1);
            stored[e.moduleId].emplace_back(e.timestamp, e.errorCode);
        }
        FUZZ_CHECK(stored == by_module);
    }
    return 0;
}

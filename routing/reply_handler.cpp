// OnReply: every reply and event that travels up the chain passes here.
#include "diag/debug.h"
#include "module/opcodes.h"
#include "module/sip_record.h"
#include "module/tarnel_module.h"

namespace em {

namespace {
constexpr const char16_t* kStars =
    u"************************************************************************************************";
}  // namespace

void CTarnelModule::OnReply(CSipRecord* record) {
    if (!record) return;
    CSipRecord& r = *record;
    try {
        TranslateOids(r);
        const uint32_t mi = r.Value(key::MI);
        EM_TRACE(2, u"\nEM_TARNEL (REPLY)   : CABID %04d: OC 0x%04X-0x%04X OID 0x%04X MID 0x%04X%04X Stat 0x%02X",
                 r.Value(key::CA), r.Value(key::OC), r.Value(key::OE), r.Value(key::OI), mi >> 16, mi & 0xFFFF,
                 r.Value(key::ST));
        if (r.Value(key::ST) != status::kEvent) return;
        EM_TRACE(2, u"\nEM_TARNEL (REPLY)   : Forward translated event from MID 0x%04X%04X", mi >> 16, mi & 0xFFFF);
        if (m_pHost)
            m_pHost->ForwardEvent(this, &r, static_cast<uint16_t>(mi >> 16), static_cast<uint16_t>(mi & 0xFFFF));
        const uint32_t oc = r.Value(key::OC), ca = r.Value(key::CA);
        if (oc == opcode::kLogClear) {
            MsgLogCache().ClearCabinet(ca);
        } else if (oc == opcode::kLogEntry || oc == opcode::kLogMessageArgumentsRead) {
            // The fill reads the event's own command, taken into a record of its own: the host's
            // record goes on as it came, and other commands it carries (replies, not this event)
            // add nothing. Old-style entries get the global object numbers before they are
            // cached, as the entries of a scan do.
            CSipRecord copy(r), entries;
            entries.ClearCommands();
            if (!entries.MoveCommandFrom(copy, copy.Cur())) return;
            if (oc == opcode::kLogEntry) PatchLogEntryOids(entries);
            const uint32_t first = FillCache(entries);
            if (first == 0) return;
            CSipRecord event(opcode::kNewEntries, 0, 0, ca, kNoStatus);
            event.SetReplyUInt(first, status::kOk);
            DeliverAsEvent(event);
        }
    } catch (...) {
        if (diag::g_Debug.IsActive()) {
            EM_TRACE(1, u"\n\n%s", kStars);
            EM_TRACE(1, u"\nEM_TARNEL           : CAB %04d: FATAL ERROR! EXCEPTION in Reply Handler at OpCode 0x%04X!",
                     r.Value(key::CA), r.Value(key::OC));
            EM_TRACE(1, u"\n%s\n", kStars);
        }
    }
}

void CTarnelModule::DeliverAsEvent(CSipRecord& record) {
    const uint32_t remembered = record.Value(key::ST);
    record.SetStatus(status::kEvent);
    if (m_pHost) m_pHost->DeliverRecord(this, &record);
    record.SetStatus(remembered);
}

}  // namespace em

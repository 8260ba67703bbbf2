// OnRequest: every request that travels down the chain passes here.
#include "diag/debug.h"
#include "module/sip_record.h"
#include "module/tarnel_module.h"

namespace em {

uint32_t CTarnelModule::OnRequest(CSipRecord* record) {
    if (!record) return 0;
    CSipRecord& r = *record;
    if (diag::g_Debug.IsActive()) {
        uint32_t mi = r.Value(key::MI);
        EM_TRACE(2, u"\nEM_TARNEL (REQUEST) : CABID %04d: OC 0x%04X-0x%04X OID 0x%04X MID 0x%04X%04X", r.Value(key::CA),
                 r.Value(key::OC), r.Value(key::OE), r.Value(key::OI), mi >> 16, mi & 0xFFFF);
    }
    uint32_t result;
    if (IsNeverBroadcast(r)) {
        r.SetStatus(status::kNotHandled);
        result = 0;
    } else if (TranslateOids(r)) {
        if (!IsFinalStatus(r.Value(key::ST))) {
            if (diag::g_Debug.IsActive()) {
                uint32_t mi = r.Value(key::MI);
                EM_TRACE(3, u"\nEM_TARNEL (TRANSLAT): CABID %04d: OC 0x%04X-0x%04X OID 0x%04X MID 0x%04X%04X",
                         r.Value(key::CA), r.Value(key::OC), r.Value(key::OE), r.Value(key::OI), mi >> 16, mi & 0xFFFF);
            }
            PassDown(r, 10000);
            r.SetCFlag(true);
        }
        result = 1;
    } else if (HandleMultipleModuleRequest(r)) {
        EM_TRACE(3, u"\nEM_TARNEL           : MultipleModuleRequest handled");
        r.SetCFlag(true);
        result = 1;
    } else if (HandleLogRequest(r)) {
        result = 1;
    } else {
        r.SetStatus(status::kNotHandled);
        result = 0;
    }
    EM_TRACE(2, u"\nEM_TARNEL (RETURN)  : CABID %04d: OC 0x%04X-0x%04X OID 0x%04X Stat 0x%02X Len %d", r.Value(key::CA),
             r.Value(key::OC), r.Value(key::OE), r.Value(key::OI), r.Value(key::ST), r.GetDataLength(r.Cur()));
    return result;
}

}  // namespace em

#include "module/host_boundary.h"

#include "diag/debug.h"
#include "module/sip_record.h"

namespace em::boundary {

void TraceContained(const char16_t* operation) noexcept {
    EM_TRACE(1, u"\nEM_TARNEL           : ## ERROR! EXCEPTION in %s - not passed on to the host!", operation);
}

void DeclineRequest(CSipRecord* record) noexcept {
    if (!record) return;
    try {
        record->SetStatus(status::kNotHandled);
    } catch (...) {
        // The record itself is beyond repair; the result 0 still declines it.
    }
}

}  // namespace em::boundary

// The module's own message log opcodes.
#include "module/tarnel_module.h"

namespace em {

bool CTarnelModule::HandleLogRequest(CSipRecord& /*record*/) { return false; }

}  // namespace em

// The task dispatch and the message log scan.
#include "module/tarnel_module.h"

namespace em {

void CTarnelModule::OnTaskExecution(CSipRecord& /*request*/, int /*level*/) {}

void CTarnelModule::RunLogScan(uint32_t /*cabinet*/) {}

uint32_t CTarnelModule::FillCache(CSipRecord& /*record*/) { return 0; }

}  // namespace em

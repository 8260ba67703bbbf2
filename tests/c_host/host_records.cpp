// The host's own record code for the C test host: the host compiles the record class with its own
// compiler and hands the module nothing but the record's address.
#include <cstddef>
#include <cstdint>

#include "module/sip_record.h"

using em::CSipRecord;

namespace {
CSipRecord* R(void* record) { return static_cast<CSipRecord*>(record); }
const CSipRecord* R(const void* record) { return static_cast<const CSipRecord*>(record); }
}  // namespace

extern "C" {

size_t HostRecordSize(void) { return sizeof(CSipRecord); }
void* HostRecordNew(uint32_t opcode, uint32_t ext, uint32_t oid, uint32_t cabinet) {
    return new CSipRecord(opcode, ext, oid, cabinet, em::kNoStatus);
}
void HostRecordFree(void* record) { delete R(record); }
// A reply of a lower module: its module id, DA as raw bytes and its status.
void HostRecordSetReply(void* record, uint32_t mi, const uint8_t* bytes, size_t count, uint32_t st) {
    R(record)->SetModuleId(mi);
    R(record)->SetDataRaw(R(record)->CurrentCommand(), bytes, count);
    R(record)->SetStatus(st);
}
// A member of the current command, with the module's defaults: 22 for a missing ST, 0 otherwise.
uint32_t HostRecordValue(const void* record, const char16_t* key) { return R(record)->Value(key); }
// DA of the current command as a number; 0 when it has none.
int HostRecordData(const void* record, uint32_t* value) { return R(record)->GetDataUInt(R(record)->Cur(), *value); }

}  // extern "C"

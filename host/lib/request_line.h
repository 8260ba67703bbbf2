// Requests written as one line, as users type them in the tool and scenarios list them:
//   0x0B10 ca=0 oe=0x407 oi=0
//   LongText oe=0x409 da=0x0405
//   ReadConfig oe=0x31
// The first word is an opcode (number or name); then key=value pairs for CA, OE, OI, MI, CI, ST
// and DA (a number, "text", or raw bytes as hex: raw=01,02,0A).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "module/sip_record.h"

namespace em::host {

struct OpcodeName {
    const char* name;
    uint32_t opcode;
    const char* meaning;
};
const std::vector<OpcodeName>& OpcodeNames();
// "GetMsgLogCacheEntries" for 0x0B10; empty when the opcode has no name.
std::string NameOfOpcode(uint32_t opcode);

// Builds a one-command record from the line; false with a message on error.
bool ParseRequestLine(const std::string& line, CSipRecord& out, std::string& error);

}  // namespace em::host

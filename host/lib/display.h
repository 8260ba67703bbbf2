// Readable renderings of what the module answers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "module/sip_record.h"

namespace em::host {

// One entry record of a GetMsgLogCacheEntries reply.
struct PageEntry {
    uint8_t entry_class = 0;
    uint16_t code = 0;
    uint8_t flags = 0;
    uint32_t time = 0;
    uint32_t sequence = 0;
    std::string text;  // UTF-8
};

// Splits a reply's entry records; stops at a record that does not fit.
std::vector<PageEntry> ParsePage(const std::vector<uint8_t>& bytes);
// The page as a table: sequence, time as a date, class, code, CSS, text.
std::string PageTable(const std::vector<PageEntry>& entries);
// "2026-12-05 19:33:54" (UTC) for a time stamp in seconds since 1970; "-" for 0.
std::string FormatTime(uint32_t seconds);
// Hex dump of bytes, 16 per line, each line indented.
std::string HexDump(const std::vector<uint8_t>& bytes, const std::string& indent);
// The answer of one command in words: its data by the opcode's meaning.
std::string DescribeAnswer(const CSipRecord& record);

}  // namespace em::host

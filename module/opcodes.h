// Opcodes the module acts on or sends.
#pragma once

#include <cstdint>

namespace em::opcode {

inline constexpr uint32_t kBroadcastWrite = 0x0310;
inline constexpr uint32_t kLogEntry = 0x0B00;  // CM_LogEntry
inline constexpr uint32_t kMsgLogAvailable = 0x0B01;
inline constexpr uint32_t kLogEntryData = 0x0B02;
inline constexpr uint32_t kLogClear = 0x0B03;
inline constexpr uint32_t kCacheEntries = 0x0B10;  // GetMsgLogCacheEntries
inline constexpr uint32_t kNewEntries = 0x0B11;
inline constexpr uint32_t kLastSequenceNumber = 0x0B12;
inline constexpr uint32_t kEntryCount = 0x0B13;
inline constexpr uint32_t kLogMessageArgumentsRead = 0x0B16;  // CM_LogMessageArgumentsRead
inline constexpr uint32_t kResolutions = 0x0B17;
inline constexpr uint32_t kUnifiedSel = 0x0B18;
inline constexpr uint32_t kLogMessageRaw = 0x0B19;  // CM_LogMessageRaw
inline constexpr uint32_t kSmbiosRawSel = 0x0B19;   // the same opcode sent down for an SMBIOS record
inline constexpr uint32_t kCauses = 0x0B1A;
inline constexpr uint32_t kSupportedLanguages = 0x0B20;
inline constexpr uint32_t kLongText = 0x0B21;
inline constexpr uint32_t kSummary = 0x0B23;
inline constexpr uint32_t kCauseParagraph = 0x0B24;
inline constexpr uint32_t kResolutionParagraph = 0x0B25;
inline constexpr uint32_t kReadConfig = 0xE001;   // CM_ReadConfigurationSpace
inline constexpr uint32_t kWriteConfig = 0xE002;  // CM_WriteConfigurationSpace
inline constexpr uint32_t kIpmiRawSel = 0xF048;

}  // namespace em::opcode

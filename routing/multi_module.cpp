// Requests that several lower modules hold at once: broadcast to all and merge the replies.
#include <memory>
#include <vector>

#include "diag/debug.h"
#include "module/byte_order.h"
#include "module/opcodes.h"
#include "module/sip_record.h"
#include "module/tarnel_module.h"
#include "msglog/log_merge.h"
#include "msglog/sel_entry.h"

namespace em {

namespace {


constexpr uint32_t kCsvNextBootSource = 0x11;
constexpr uint32_t kCsvRebootRetryCounter = 0x30;
constexpr uint32_t kCsvRetryZeroAction = 0x31;
constexpr uint32_t kCsvErrorOffRestartTime = 0x32;
constexpr uint32_t kCsvTempCriticalBiosOff = 0x77;

// Writes that belong to sibling modules, and the groups of extensions that are never broadcast.
constexpr uint32_t kPraxeWrite = 0x0070;
constexpr uint32_t kPraxeWriteGroup = 0x1C;
constexpr uint32_t kMurloWrite = 0x0000;
constexpr uint32_t kKolverGroup1 = 0x0310;
constexpr uint32_t kKolverGroup2 = 0x0320;

// Statuses a failed broadcast write passes on, in this order of precedence.
constexpr uint32_t kWriteFailures[] = {4u, 0x18u, status::kNoHost};

constexpr uint32_t kBroadcastWriteTimeoutMs = 30000;
constexpr uint32_t kLogEntryTimeoutMs = 150000;
constexpr uint32_t kLogClearTimeoutMs = 15000;
constexpr uint32_t kConfigTimeoutMs = 10000;

// Moves to each command of the record in turn, from the first.
template <class F>
void ForEachCommand(CSipRecord& r, F f) {
    if (!r.FirstCommand()) return;
    do {
        f();
    } while (r.NextCommand());
}

void RemoveData(CSipRecord& r) {
    SipValue& c = r.CurrentCommand();
    if (!c.IsObject()) return;
    auto it = c.FindMember(key::DA);
    if (it != c.MemberEnd()) c.RemoveMember(it);
}

// The current command's data as a number; 0 when it does not read as one.
uint32_t ReadUInt(const CSipRecord& r) {
    uint32_t v = 0;
    r.GetDataUInt(r.Cur(), v);
    return v;
}

// Makes command index the current one (the record has no direct setter for the index).
void SelectCommand(CSipRecord& r, uint32_t index) {
    r.FirstCommand();
    while (r.CurrentIndex() < index && r.NextCommand()) {
    }
}

void NoReplies(CSipRecord& caller) {
    caller.SetStatus(status::kNotFound);
    EM_TRACE(3, u"\nEM_TARNEL (MMR)     :   no replies, CmdStatus=0x%02X", caller.Value(key::ST));
}

}  // namespace

bool CTarnelModule::IsNeverBroadcast(const CSipRecord& record) {
    if (record.Value(key::OC) != opcode::kWriteConfig) return false;
    uint32_t group = record.Value(key::OE) & ~0xFu;
    if (group != kKolverGroup1 && group != kKolverGroup2) return false;
    EM_TRACE(3, u"\nEM_TARNEL (MMR)     : no broadcast - always handled by EM_KOLVER");
    return true;
}

bool CTarnelModule::SelectExtremeDataCommand(CSipRecord& record, int direction) {
    const uint32_t saved = record.CurrentIndex();
    bool found = false;
    uint32_t best_index = 0, best = 0;
    ForEachCommand(record, [&] {
        // An answer whose data is not a number has no value to compare: it takes no part.
        uint32_t v = 0;
        if (!record.HasAnswer(0, false) || !record.GetDataUInt(record.Cur(), v)) return;
        bool better = !found || (direction >= 1 && v > best) || (direction < 0 && v < best);
        if (better) {
            found = true;
            best = v;
            best_index = record.CurrentIndex();
        }
    });
    SelectCommand(record, found ? best_index : saved);
    return found;
}

bool CTarnelModule::AnyCommandHasDataValue(CSipRecord& record, uint32_t value) {
    const uint32_t saved = record.CurrentIndex();
    if (record.FirstCommand()) {
        do {
            if (record.HasAnswer(0, false) && ReadUInt(record) == value) return true;
        } while (record.NextCommand());
    }
    SelectCommand(record, saved);
    return false;
}

void CTarnelModule::MergeLogEntryReplies(CSipRecord& copy, CSipRecord& caller) {
    uint32_t limit = 0;
    uint32_t v = 0;
    if (copy.HasAnswer(0, false) && copy.GetDataUInt(copy.Cur(), v)) limit = v & 0xFFFF;

    // Entries point into each command's own copy of its data bytes for the merge's duration.
    struct Span {
        const uint8_t* p;
        uint32_t len;
    };
    std::vector<std::vector<uint8_t>> data;
    data.reserve(copy.CommandCount());
    std::vector<Span> merged;
    ForEachCommand(copy, [&] {
        if (!copy.HasAnswer(kSelHeadSize, true)) return;
        std::vector<uint8_t> bytes;
        if (!copy.GetDataBytes(copy.Cur(), bytes)) return;
        data.push_back(std::move(bytes));
        const std::vector<uint8_t>& b = data.back();
        std::vector<Span> source;
        size_t offset = 0;
        while (offset < b.size()) {
            if (b.size() - offset < kSelHeadSize) break;
            uint32_t len = SelEntryLength(b.data() + offset);
            if (len == 0 || len > b.size() - offset) break;  // runs past its reply: not taken
            source.push_back(Span{b.data() + offset, len});
            offset += len;
        }
        merged = MergeByTime(std::move(merged), std::move(source), [](const Span& s) {
            return LoadLe32(s.p + 4);
        });
    });

    size_t start = (limit != 0 && limit < merged.size()) ? merged.size() - limit : 0;
    std::vector<uint8_t> out;
    for (size_t i = start; i < merged.size(); ++i) out.insert(out.end(), merged[i].p, merged[i].p + merged[i].len);
    RemoveData(caller);
    if (!out.empty()) caller.SetReplyRaw(out, status::kOk);
}

bool CTarnelModule::HandleMultipleModuleRequest(CSipRecord& record) {
    const uint32_t oc = record.Value(key::OC);
    const uint32_t oe = record.Value(key::OE);
    if (oc != opcode::kBroadcastWrite && oc != opcode::kLogEntry && oc != opcode::kLogClear && oc != opcode::kReadConfig &&
        oc != opcode::kWriteConfig)
        return false;  // most requests pass by here: no working copy for them
    CSipRecord copy(record);
    copy.SetCommandCI(record.Value(key::CI));

    switch (oc) {
        case opcode::kBroadcastWrite: {
            EM_TRACE(3, u"\nEM_TARNEL (MMR)     : write to ALL modules");
            Broadcast(copy, kBroadcastWriteTimeoutMs);
            RemoveData(record);
            if (copy.AnyCommandAnswered()) record.SetStatus(status::kOk);
            else if (copy.AnyCommandHasStatus(status::kTimeout)) record.SetStatus(status::kTimeout);
            else record.SetStatus(status::kNotHandled);
            return true;
        }
        case opcode::kLogEntry: {
            EM_TRACE(2, u"\nEM_TARNEL (MMR)     : CM_LogEntry needs to be sent to all modules; do module broadcast...");
            RemoveData(record);
            record.SetStatus(status::kOk);
            Broadcast(copy, kLogEntryTimeoutMs);
            EM_TRACE(4, u"\nEM_TARNEL (MMR)     :   %d replies received, analysing...", copy.CommandCount());
            if (copy.CommandCount() > 0) {
                do {
                    if (!IsFinalStatus(copy.Value(key::ST))) continue;
                    uint32_t mi = copy.Value(key::MI);
                    EM_TRACE(4, u"\nEM_TARNEL (MMR)     :     got CM_LogEntry reply from MID 0x%04X%04X (DataLength=%d)",
                             mi >> 16, mi & 0xFFFF, copy.GetDataLength(copy.Cur()));
                    PatchLogEntryOids(copy);
                    mi = copy.Value(key::MI);
                    EM_TRACE(4,
                             u"\nEM_TARNEL (MMR)     :     CM_LogEntry Oid's patched for reply from MID 0x%04X%04X (DataLength=%d)",
                             mi >> 16, mi & 0xFFFF, copy.GetDataLength(copy.Cur()));
                } while (copy.NextCommand());
            }
            if (copy.CommandCount() == 0) {
                // Nobody answered: the caller keeps its own command, which says so.
                EM_TRACE(2, u"\nEM_TARNEL (MMR)     :   no module answered CM_LogEntry");
                record.SetStatus(status::kNotFound);
            } else if (copy.CommandCount() == 1) {
                record.CopyFrom(copy);
            } else {
                MergeLogEntryReplies(copy, record);
            }
            return true;
        }
        case opcode::kLogClear: {
            Broadcast(copy, kLogClearTimeoutMs);
            if (!copy.AnyCommandAnswered()) {
                record.SetStatus(status::kNotFound);
                return true;
            }
            MsgLogCache().ClearCabinet(record.Value(key::CA));
            RemoveData(record);
            record.SetStatus(status::kOk);
            return true;
        }
        case opcode::kReadConfig: {
            EM_TRACE(2, u"\nEM_TARNEL (MMR)     : CM_ReadConfigurationSpace 0x%04X", oe);
            if (oe == kCsvRebootRetryCounter || oe == kCsvErrorOffRestartTime) {
                Broadcast(copy, kConfigTimeoutMs);
                EM_TRACE(3, u"\nEM_TARNEL (MMR)     : CSV_ConfRebootRetryCounter or CSV_ConfErrorOffRestartTime - check broadcast results...");
                if (!SelectExtremeDataCommand(copy, -1)) {
                    NoReplies(record);
                    return true;
                }
                uint32_t v = ReadUInt(copy);
                record.SetReplyUInt(oe == kCsvRebootRetryCounter ? (v & 0xFF) : (v & 0xFFFF), status::kOk);
                EM_TRACE(3, u"\nEM_TARNEL (MMR)     :   min reply data value found; return value = %d",
                         ReadUInt(record) & 0xFFFF);
                return true;
            }
            const char16_t* line;
            std::vector<uint32_t> priorities;
            uint32_t fallback;
            switch (oe) {
                case kCsvNextBootSource:
                    line = u"\nEM_TARNEL (MMR)     : CSV_ConfNextBootSource - check broadcast results...";
                    priorities = {1};
                    fallback = 0;
                    break;
                case kCsvRetryZeroAction:
                    line = u"\nEM_TARNEL (MMR)     : CSV_ConfRetryZeroAction - check broadcast results...";
                    priorities = {5, 4, 3, 1, 0};
                    fallback = 2;
                    break;
                case kCsvTempCriticalBiosOff:
                    line = u"\nEM_TARNEL (MMR)     : CSV_ConfTempCriticalBiosOff - check broadcast results...";
                    priorities = {1};
                    fallback = 0;
                    break;
                default: return false;
            }
            Broadcast(copy, kConfigTimeoutMs);
            EM_TRACE(3, line);
            uint32_t n = copy.CountAnsweredCommands();
            if (n == 1) {
                copy.SelectFirstAnsweredCommand();
                record.SetReplyUInt(ReadUInt(copy) & 0xFF, status::kOk);
                EM_TRACE(3, u"\nEM_TARNEL (MMR)     :   1 reply, use that value; return value = %d", ReadUInt(record));
            } else if (n == 0) {
                NoReplies(record);
            } else {
                uint32_t value = fallback;
                for (uint32_t p : priorities) {
                    if (AnyCommandHasDataValue(copy, p)) {
                        value = p;
                        break;
                    }
                }
                record.SetReplyUInt(value, status::kOk);
                EM_TRACE(3, u"\nEM_TARNEL (MMR)     :   %d replies, use priority list; return value = %d", n,
                         ReadUInt(record) & 0xFF);
            }
            return true;
        }
        case opcode::kWriteConfig: {
            EM_TRACE(2, u"\nEM_TARNEL (MMR)     : Write 0x%X", oe);
            if (oe == kPraxeWrite || ((oe >> 8) & 0xFF) == kPraxeWriteGroup) {
                record.SetStatus(status::kNotHandled);
                EM_TRACE(3, u"\nEM_TARNEL (MMR)     : handled by EM_PRAXE - do not broadcast");
                return false;
            }
            if (oe == kMurloWrite) {
                record.SetStatus(status::kNotHandled);
                EM_TRACE(3, u"\nEM_TARNEL (MMR)     : handled by EM_MURLO");
                return true;
            }
            EM_TRACE(3, u"\nEM_TARNEL (MMR)     : write to ALL modules");
            Broadcast(copy, kConfigTimeoutMs);
            if (copy.AnyCommandAnswered()) {
                record.SetStatus(status::kOk);
            } else {
                uint32_t st = status::kNotFound;
                for (uint32_t candidate : kWriteFailures) {
                    if (copy.AnyCommandHasStatus(candidate)) {
                        st = candidate;
                        break;
                    }
                }
                record.SetStatus(st);
            }
            return true;
        }
        default: return false;
    }
}

}  // namespace em

// A scenario: the server the substitute host simulates (cabinets, lower modules and what they
// answer). Read from a JSON file; a built-in default serves when none is given.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace em::host {

// Reply data in the forms a lower module may answer with.
struct Data {
    enum class Kind { None, Number, Text, TextList, Raw, Bool } kind = Kind::None;
    uint64_t number = 0;
    std::u16string text;
    std::vector<std::u16string> texts;
    std::vector<uint8_t> raw;
    bool flag = false;
};

// One canned answer: a request matching opcode (and opcode extension / object index when given)
// is answered with a status and data.
struct Answer {
    uint32_t oc = 0;
    std::optional<uint32_t> oe;
    std::optional<uint32_t> oi;
    uint32_t st = 0;
    Data da;
    uint32_t delay_ms = 0;     // the module answers late
    bool throw_in_send = false;  // SendRequest throws while asking this module
};

// Objects of one kind that a lower module serves, numbered from 0 on that module. The module
// answers the kind's count opcode with n and the kind's target opcodes for instances below n.
struct ObjectKind {
    uint32_t count_opcode = 0;
    uint32_t count_ext = 0;
    uint32_t n = 0;
};

// An old-style log entry as a lower module keeps it.
struct OldStyleEntry {
    uint32_t code = 0;        // 14-bit error code: group << 8 | low byte (0x3F00: a text entry)
    uint32_t time = 0;        // 0: no time
    uint16_t cabinet = 0;
    uint16_t oid = 0;
    uint8_t entry_class = 0;  // 0..3
    std::vector<uint32_t> args;  // further argument words
    std::string text;            // text entries: the text (UTF-8)
};

// A unified log record.
struct UnifiedEntry {
    uint32_t code = 0;  // 24 bits
    uint32_t time = 0;
    bool css = false;
    uint32_t record_id = 0;
    uint8_t platform = 2;  // 1 BIOS, 2 IPMI, 3 SMBIOS
    uint8_t entry_class = 0;
    std::vector<std::string> args;  // string arguments (UTF-8)
};

// Message texts of one error code in one language.
struct MessageTexts {
    std::u16string summary;
    std::u16string long_text;
    std::vector<std::u16string> causes;
    std::vector<std::u16string> resolutions;
};

struct LowerModule {
    uint32_t id = 0;           // MI
    std::string name;
    uint32_t cabinet = 0;
    std::vector<ObjectKind> objects;
    std::vector<Answer> answers;  // tried before everything below
    // The hardware message log: answered to CM_LogEntry (OI 0 error log, OI 1 event log).
    bool has_log = false;
    std::vector<OldStyleEntry> error_log;
    std::vector<OldStyleEntry> event_log;
    // Unified records; without them the module refuses CM_LogMessageArgumentsRead.
    bool has_unified = false;
    std::vector<UnifiedEntry> unified;
    std::map<uint32_t, std::set<uint32_t>> css;                          // CSS opcode -> objects with CSS
    std::map<uint32_t, std::map<uint32_t, std::u16string>> designations;  // opcode -> object -> text
    std::map<uint32_t, uint64_t> config;                                 // configuration value -> value
    std::map<uint32_t, uint32_t> writes;                                 // write opcode -> status
    std::map<uint32_t, std::map<uint32_t, MessageTexts>> texts;          // code -> language id -> texts
    bool no_resolutions = false;                                         // answers resolutions with ST 25
    std::map<uint32_t, std::vector<uint8_t>> ipmi_sel;                   // record id -> raw bytes
    std::map<uint32_t, std::vector<uint8_t>> smbios_sel;
};

// Something that happens during a run: new log entries appear, a module's log is cleared, or a
// lower module sends up any record it likes.
struct ScenarioEvent {
    enum class Kind { NewEntries, LogClear, Record } kind = Kind::NewEntries;
    uint32_t module = 0;
    uint32_t cabinet = 0;
    std::string log = "error";  // "error", "event" or "unified"
    std::vector<OldStyleEntry> entries;
    std::vector<UnifiedEntry> unified;
    std::string note;
    // Record: the command sent up as it stands (ST 255, an event, unless given).
    uint32_t oc = 0, oe = 0, oi = 0, ci = 0, st = 255;
    Data da;
};

// The bytes lower modules send for log entries.
std::vector<uint8_t> EncodeOldStyle(const OldStyleEntry& e);
std::vector<uint8_t> EncodeUnified(const UnifiedEntry& e);

// The protocol's object kinds: count opcode (and extension) and the opcodes that address one
// object of the kind by its index.
struct KnownKind {
    uint32_t count_opcode;
    uint32_t count_ext;
    std::vector<uint32_t> targets;
};
const std::vector<KnownKind>& KnownObjectKinds();

struct Scenario {
    std::string name = "default";
    std::string description;
    uint32_t server_cabinet = 0;
    uint32_t host_type = 1;
    uint32_t module_id = 0x00FE0001;  // the id the host gives the extension module
    std::vector<uint32_t> se_cabinets;
    uint32_t unanswered_status = 1;     // status of a request no lower module answers
    std::vector<LowerModule> modules;
    std::vector<ScenarioEvent> events;
    // Requests shown by the tool after start, as command lines ("0x0B10 ca=0 oe=0x407 oi=0").
    std::vector<std::string> requests;
};

// Parses a scenario; false with a message (line-free, naming the key) on error.
bool ParseScenario(const std::string& json, Scenario& out, std::string& error);
bool LoadScenarioFile(const std::string& path, Scenario& out, std::string& error);
// The scenario the demo runs.
const std::string& DefaultScenarioJson();

}  // namespace em::host

// A scenario: the server the substitute host simulates (cabinets, lower modules and what they
// answer). Read from a JSON file; a built-in default serves when none is given.
#pragma once

#include <cstdint>
#include <optional>
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

struct LowerModule {
    uint32_t id = 0;           // MI
    std::string name;
    uint32_t cabinet = 0;
    std::vector<ObjectKind> objects;
    std::vector<Answer> answers;  // tried before the objects
};

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
};

// Parses a scenario; false with a message (line-free, naming the key) on error.
bool ParseScenario(const std::string& json, Scenario& out, std::string& error);
bool LoadScenarioFile(const std::string& path, Scenario& out, std::string& error);
// The scenario the demo runs.
const std::string& DefaultScenarioJson();

}  // namespace em::host

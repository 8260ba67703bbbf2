#include "host/lib/request_line.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

#include "platform/codepage.h"

namespace em::host {

const std::vector<OpcodeName>& OpcodeNames() {
    static const std::vector<OpcodeName> names = {
        {"Count", 0x0300, "number of objects of a kind (0x0300, 0x0400, ...)"},
        {"BroadcastWrite", 0x0310, "write to all modules"},
        {"LogEntry", 0x0B00, "log entries of all modules as old-style SEL entries"},
        {"MsgLogAvailable", 0x0B01, "is a message log available"},
        {"LogEntryData", 0x0B02, "log entry data"},
        {"LogClear", 0x0B03, "clear a cabinet's log"},
        {"GetMsgLogCacheEntries", 0x0B10, "a page of cached log entries as text (oe = language, oi = page)"},
        {"LastSequenceNumber", 0x0B12, "last sequence number of a cabinet's cache"},
        {"EntryCount", 0x0B13, "number of cached entries"},
        {"Resolutions", 0x0B17, "all resolution paragraphs of an error code (da = code, oe = language)"},
        {"Raw", 0x0B19, "raw SEL data of a cached entry (da = sequence number)"},
        {"Causes", 0x0B1A, "all cause paragraphs of an error code"},
        {"Languages", 0x0B20, "supported SEL languages"},
        {"LongText", 0x0B21, "long message text of an error code"},
        {"Summary", 0x0B23, "summary text of an error code"},
        {"Cause", 0x0B24, "cause paragraph number oi"},
        {"Resolution", 0x0B25, "resolution paragraph number oi"},
        {"ReadConfig", 0xE001, "read a configuration value (oe = value id)"},
        {"WriteConfig", 0xE002, "write a configuration value"},
    };
    return names;
}

std::string NameOfOpcode(uint32_t opcode) {
    for (const auto& n : OpcodeNames())
        if (n.opcode == opcode) return n.name;
    return {};
}

namespace {

bool Number(const std::string& s, uint64_t& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    out = std::strtoull(s.c_str(), &end, 0);
    return end && *end == '\0';
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Splits on blanks, keeping "quoted text" together.
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::string cur;
    bool quoted = false;
    for (char c : line) {
        if (c == '"') quoted = !quoted;
        if (!quoted && (c == ' ' || c == '\t')) {
            if (!cur.empty()) words.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty()) words.push_back(cur);
    return words;
}

}  // namespace

bool ParseRequestLine(const std::string& line, CSipRecord& out, std::string& error) {
    std::vector<std::string> words = Words(line);
    if (words.empty()) {
        error = "empty request";
        return false;
    }
    uint64_t oc = 0;
    if (!Number(words[0], oc)) {
        bool found = false;
        for (const auto& n : OpcodeNames())
            if (Lower(n.name) == Lower(words[0])) {
                oc = n.opcode;
                found = true;
            }
        if (!found) {
            error = "unknown opcode \"" + words[0] + "\" (a number like 0x0B10, or a name: see 'help')";
            return false;
        }
    }
    if (oc > 0xFFFFFFFFull) {
        error = "opcode too large";
        return false;
    }
    out.Reset();
    SipValue& cmd = out.CurrentCommand();
    out.SetCommandAddress(cmd, static_cast<uint32_t>(oc), 0, 0, 0, kNoStatus);
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& w = words[i];
        size_t eq = w.find('=');
        if (eq == std::string::npos) {
            error = "expected key=value, got \"" + w + "\"";
            return false;
        }
        std::string k = Lower(w.substr(0, eq)), v = w.substr(eq + 1);
        if (k == "da" && v.size() >= 2 && v.front() == '"' && v.back() == '"') {
            std::u16string text = platform::Utf8ToUtf16(v.substr(1, v.size() - 2));
            out.SetDataString(cmd, text.c_str());
            continue;
        }
        if (k == "raw") {
            std::vector<uint8_t> bytes;
            std::stringstream ss(v);
            std::string b;
            while (std::getline(ss, b, ',')) {
                uint64_t x;
                if (!Number("0x" + b, x) || x > 255) {
                    error = "raw bytes are hex pairs separated by commas";
                    return false;
                }
                bytes.push_back(static_cast<uint8_t>(x));
            }
            out.SetDataRaw(cmd, bytes.data(), bytes.size());
            continue;
        }
        uint64_t x;
        if (!Number(v, x) || x > 0xFFFFFFFFull) {
            error = "\"" + v + "\" is not a 32-bit number";
            return false;
        }
        uint32_t n = static_cast<uint32_t>(x);
        if (k == "ca") out.SetUIntValue(cmd, key::CA, n, false);
        else if (k == "oe") out.SetUIntValue(cmd, key::OE, n, true);
        else if (k == "oi") out.SetUIntValue(cmd, key::OI, n, true);
        else if (k == "mi") out.SetUIntValue(cmd, key::MI, n, true);
        else if (k == "ci") out.SetUIntValue(cmd, key::CI, n, true);
        else if (k == "st") out.SetUIntValue(cmd, key::ST, n, false);
        else if (k == "da") out.SetDataUInt(cmd, n);
        else {
            error = "unknown key \"" + k + "\" (ca, oe, oi, mi, ci, st, da, raw)";
            return false;
        }
    }
    return true;
}

}  // namespace em::host

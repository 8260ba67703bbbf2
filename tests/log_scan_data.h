// Log data as lower modules send it, and scenarios that serve it, for the log scan tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "host/lib/scenario.h"
#include "host/lib/substitute_host.h"
#include "module/byte_order.h"
#include "module/sip_record.h"

namespace em::test {

using Bytes = std::vector<uint8_t>;

inline void PutU16(Bytes& b, size_t at, uint16_t v) { StoreLe16(b.data() + at, v); }
inline void PutU32(Bytes& b, size_t at, uint32_t v) { StoreLe32(b.data() + at, v); }

// An old-style entry of the length its word count n gives it.
inline Bytes Sel(uint16_t code, uint32_t time, uint16_t oid = 0, uint8_t n = 1, uint16_t cabinet = 0, uint8_t cls = 0) {
    size_t len = 12;
    if (code == 0x3F00 ? n >= 1 : (n >= 1 && n <= 16)) len = 12 + 4 * (n - 1);
    Bytes b(len, 0xA5);
    b[0] = static_cast<uint8_t>(code);
    b[1] = static_cast<uint8_t>(((code >> 8) & 0x3F) | (cls << 6));
    b[2] = 0;
    b[3] = n;
    PutU32(b, 4, time);
    PutU16(b, 8, cabinet);
    PutU16(b, 10, oid);
    return b;
}

inline Bytes Unified(uint32_t code, uint32_t time, const std::vector<std::string>& args, uint32_t flags = 0) {
    Bytes b(26, 0);
    b[3] = 2;
    PutU32(b, 4, code);
    PutU32(b, 8, flags);
    PutU32(b, 12, time);
    PutU32(b, 16, 0x1000 + time);
    b[24] = 3;
    b[25] = static_cast<uint8_t>(args.size());
    for (const auto& a : args) {
        b.insert(b.end(), a.begin(), a.end());
        b.push_back(0);
    }
    PutU16(b, 0, static_cast<uint16_t>(b.size()));
    return b;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline std::string Raw(const Bytes& b) {
    std::string s = R"({"raw":[)";
    for (size_t i = 0; i < b.size(); ++i) s += (i ? "," : "") + std::to_string(b[i]);
    return s + "]}";
}

// One canned answer of a lower module.
inline std::string Ans(uint32_t oc, const std::string& da, uint32_t st = 0, int oi = -1) {
    std::string s = R"({"oc":)" + std::to_string(oc) + R"(,"st":)" + std::to_string(st);
    if (oi >= 0) s += R"(,"oi":)" + std::to_string(oi);
    if (!da.empty()) s += R"(,"da":)" + da;
    return s + "}";
}

inline std::string Mod(uint32_t id, std::initializer_list<std::string> answers, const std::string& extra = "") {
    std::string s = R"({"id":)" + std::to_string(id) + extra + R"(,"answers":[)";
    bool first = true;
    for (const auto& a : answers) {
        s += (first ? "" : ",") + a;
        first = false;
    }
    return s + "]}";
}

inline std::string Scenario(std::initializer_list<std::string> modules) {
    std::string s = R"({"modules":[)";
    bool first = true;
    for (const auto& m : modules) {
        s += (first ? "" : ",") + m;
        first = false;
    }
    return s + "]}";
}

inline host::Scenario Parse(const std::string& json) {
    host::Scenario s;
    std::string error;
    EXPECT_TRUE(host::ParseScenario(json, s, error)) << error << "\n" << json;
    return s;
}

// Counts the requests the module sends, by opcode.
struct CountingHost : host::SubstituteHost {
    using SubstituteHost::SubstituteHost;
    uint32_t SendRequest(IExtensionModule* m, CSipRecord* r, uint32_t timeout) override {
        {
            std::lock_guard<std::mutex> g(mutex);
            ++sent[r->GetCommandValue(0, key::OC, 0)];
        }
        return SubstituteHost::SendRequest(m, r, timeout);
    }
    uint32_t Sent(uint32_t oc) {
        std::lock_guard<std::mutex> g(mutex);
        return sent[oc];
    }
    std::mutex mutex;
    std::map<uint32_t, uint32_t> sent;
};

}  // namespace em::test

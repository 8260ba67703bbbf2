// Log data as lower modules send it, scenarios that serve it and a module reading them, for the
// log scan tests.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "host/lib/scenario.h"
#include "module/tarnel_module.h"
#include "tests/support/down_host.h"
#include "tests/support/scenario_util.h"

namespace em::test {

using Bytes = std::vector<uint8_t>;

// An old-style entry of one word: time, cabinet 0 and the object.
inline Bytes Sel(uint16_t code, uint32_t time, uint16_t oid = 0) {
    return host::EncodeOldStyle({.code = code, .time = time, .oid = oid});
}

// A unified record of platform 2, class 3 and SEL record id 0x1000 + time.
inline Bytes Unified(uint32_t code, uint32_t time, const std::vector<std::string>& args = {}) {
    return host::EncodeUnified({.code = code, .time = time, .record_id = 0x1000 + time, .entry_class = 3, .args = args});
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline std::string Join(std::initializer_list<std::string> parts) {
    std::string s;
    for (const auto& p : parts) s += (s.empty() ? "" : ",") + p;
    return s;
}

inline std::string Raw(const Bytes& b) {
    std::string s;
    for (uint8_t v : b) s += (s.empty() ? "" : ",") + std::to_string(v);
    return R"({"raw":[)" + s + "]}";
}

// One canned answer of a lower module (oi < 0: for any object).
inline std::string Ans(uint32_t oc, const std::string& da, uint32_t st = 0, int oi = -1, uint32_t delay_ms = 0) {
    std::string s = R"({"oc":)" + std::to_string(oc) + R"(,"st":)" + std::to_string(st);
    if (oi >= 0) s += R"(,"oi":)" + std::to_string(oi);
    if (delay_ms) s += R"(,"delay_ms":)" + std::to_string(delay_ms);
    if (!da.empty()) s += R"(,"da":)" + da;
    return s + "}";
}

inline std::string Mod(uint32_t id, std::initializer_list<std::string> answers) {
    return R"({"id":)" + std::to_string(id) + R"(,"answers":[)" + Join(answers) + "]}";
}

inline host::Scenario Scenario(std::initializer_list<std::string> modules) {
    return ParseScenarioOrFail(R"({"modules":[)" + Join(modules) + "]}");
}

// A module attached to simulated lower modules, with cabinet 0 set up.
struct ScanFixture {
    explicit ScanFixture(host::Scenario s) : host(std::move(s)) {
        m.Attach(&host, 0x00FE0001);
        m.MsgLogCache().InitCabinet(0);
    }
    std::vector<CMsgLogEntry> Entries() {
        std::vector<CMsgLogEntry> out;
        for (CMsgLogEntry e; m.MsgLogCache().GetCabinet(0)->CopyEntryAt(static_cast<uint32_t>(out.size()), e);) out.push_back(e);
        return out;
    }
    template <class F>
    std::vector<uint32_t> Field(F field) {
        std::vector<uint32_t> out;
        for (const auto& e : Entries()) out.push_back(static_cast<uint32_t>(std::invoke(field, e)));
        return out;
    }
    DownHost host;
    CTarnelModule m;
};

}  // namespace em::test

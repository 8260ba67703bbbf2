// Log data as lower modules send it, scenarios that serve it and a module reading them, for the
// log scan tests.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "module/byte_order.h"
#include "module/tarnel_module.h"
#include "tests/support/down_host.h"
#include "tests/support/scenario_util.h"

namespace em::test {

using Bytes = std::vector<uint8_t>;

inline void PutU16(Bytes& b, size_t at, uint16_t v) { StoreLe16(b.data() + at, v); }

// An old-style entry of the length its word count n gives it.
inline Bytes Sel(uint16_t code, uint32_t time, uint16_t oid = 0, uint8_t n = 1, uint16_t cabinet = 0, uint8_t cls = 0) {
    size_t len = 12;
    if (code == 0x3F00 ? n >= 1 : (n >= 1 && n <= 16)) len = 12 + 4 * (n - 1);
    Bytes b(len, 0xA5);
    b[0] = static_cast<uint8_t>(code);
    b[1] = static_cast<uint8_t>(((code >> 8) & 0x3F) | (cls << 6));
    b[3] = n;
    StoreLe32(b.data() + 4, time);
    PutU16(b, 8, cabinet);
    PutU16(b, 10, oid);
    return b;
}

// A unified record of platform 2, class 3 and SEL record id 0x1000 + time.
inline Bytes Unified(uint32_t code, uint32_t time, const std::vector<std::string>& args, uint32_t flags = 0) {
    Bytes b(26, 0);
    b[3] = 2;
    StoreLe32(b.data() + 4, code);
    StoreLe32(b.data() + 8, flags);
    StoreLe32(b.data() + 12, time);
    StoreLe32(b.data() + 16, 0x1000 + time);
    b[24] = 3;
    b[25] = static_cast<uint8_t>(args.size());
    for (const auto& a : args) b.insert(b.end(), a.c_str(), a.c_str() + a.size() + 1);
    PutU16(b, 0, static_cast<uint16_t>(b.size()));
    return b;
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

inline std::string Mod(uint32_t id, std::initializer_list<std::string> answers, const std::string& extra = "") {
    return R"({"id":)" + std::to_string(id) + extra + R"(,"answers":[)" + Join(answers) + "]}";
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
    bool Ready() { return m.MsgLogCache().WaitCacheReady(0, 0); }
    DownHost host;
    CTarnelModule m;
};

}  // namespace em::test

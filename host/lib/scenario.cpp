#include "host/lib/scenario.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include "platform/codepage.h"

namespace em::host {

namespace {

using Json = rapidjson::Value;

// Numbers may be written as JSON numbers or as strings ("0x0B10", "12").
bool ReadU32(const Json& v, uint32_t& out) {
    if (v.IsUint()) {
        out = v.GetUint();
        return true;
    }
    if (v.IsString()) {
        const char* s = v.GetString();
        char* end = nullptr;
        unsigned long long x = std::strtoull(s, &end, 0);
        if (end == s || *end != '\0' || x > 0xFFFFFFFFull) return false;
        out = static_cast<uint32_t>(x);
        return true;
    }
    return false;
}

struct Reader {
    std::string error;

    bool Fail(const std::string& where, const std::string& what) {
        if (error.empty()) error = where + ": " + what;
        return false;
    }

    bool U32(const Json& obj, const char* key, uint32_t& out, const std::string& where, bool required = false) {
        auto it = obj.FindMember(key);
        if (it == obj.MemberEnd()) return required ? Fail(where, std::string("missing \"") + key + "\"") : true;
        if (!ReadU32(it->value, out)) return Fail(where, std::string("\"") + key + "\" is not a 32-bit number");
        return true;
    }

    bool ReadData(const Json& v, Data& d, const std::string& where) {
        if (v.IsBool()) {
            d.kind = Data::Kind::Bool;
            d.flag = v.GetBool();
        } else if (v.IsNumber()) {
            if (!v.IsUint64()) return Fail(where, "\"da\" must not be negative");
            d.kind = Data::Kind::Number;
            d.number = v.GetUint64();
        } else if (v.IsString()) {
            d.kind = Data::Kind::Text;
            d.text = platform::Utf8ToUtf16(std::string_view(v.GetString(), v.GetStringLength()));
        } else if (v.IsArray()) {
            d.kind = Data::Kind::TextList;
            for (const auto& e : v.GetArray()) {
                if (!e.IsString()) return Fail(where, "\"da\" as a list holds strings only");
                d.texts.push_back(platform::Utf8ToUtf16(std::string_view(e.GetString(), e.GetStringLength())));
            }
        } else if (v.IsObject()) {
            auto raw = v.FindMember("raw");
            if (raw == v.MemberEnd() || !raw->value.IsArray()) return Fail(where, "\"da\" object needs \"raw\": [bytes]");
            d.kind = Data::Kind::Raw;
            for (const auto& e : raw->value.GetArray()) {
                uint32_t b;
                if (!ReadU32(e, b) || b > 255) return Fail(where, "\"raw\" holds bytes 0..255");
                d.raw.push_back(static_cast<uint8_t>(b));
            }
        } else if (!v.IsNull()) {
            return Fail(where, "unsupported \"da\"");
        }
        return true;
    }

    bool ReadAnswer(const Json& a, Answer& out, const std::string& where) {
        if (!a.IsObject()) return Fail(where, "an answer is an object");
        if (!U32(a, "oc", out.oc, where, true)) return false;
        uint32_t v;
        if (a.HasMember("oe")) {
            if (!U32(a, "oe", v, where)) return false;
            out.oe = v;
        }
        if (a.HasMember("oi")) {
            if (!U32(a, "oi", v, where)) return false;
            out.oi = v;
        }
        if (!U32(a, "st", out.st, where)) return false;
        if (!U32(a, "delay_ms", out.delay_ms, where)) return false;
        if (auto t = a.FindMember("throw"); t != a.MemberEnd()) out.throw_in_send = t->value.IsTrue();
        if (auto d = a.FindMember("da"); d != a.MemberEnd() && !ReadData(d->value, out.da, where)) return false;
        return true;
    }

    bool ReadModule(const Json& m, LowerModule& out, uint32_t default_cabinet, const std::string& where) {
        if (!m.IsObject()) return Fail(where, "a module is an object");
        if (!U32(m, "id", out.id, where, true)) return false;
        out.cabinet = default_cabinet;
        if (!U32(m, "cabinet", out.cabinet, where)) return false;
        if (auto n = m.FindMember("name"); n != m.MemberEnd() && n->value.IsString()) out.name = n->value.GetString();
        if (auto o = m.FindMember("objects"); o != m.MemberEnd()) {
            if (!o->value.IsObject()) return Fail(where, "\"objects\" maps count opcodes to counts");
            for (auto k = o->value.MemberBegin(); k != o->value.MemberEnd(); ++k) {
                // "0x0300" or "0x0C21-0x05"
                std::string name = k->name.GetString();
                ObjectKind kind;
                char* end = nullptr;
                unsigned long oc = std::strtoul(name.c_str(), &end, 0);
                unsigned long ext = 0;
                if (end && *end == '-') ext = std::strtoul(end + 1, &end, 0);
                if (!end || *end != '\0' || oc > 0xFFFF || ext > 0xFFFF)
                    return Fail(where + ".objects", "bad count opcode \"" + name + "\"");
                kind.count_opcode = static_cast<uint32_t>(oc);
                kind.count_ext = static_cast<uint32_t>(ext);
                if (!ReadU32(k->value, kind.n)) return Fail(where + ".objects", "counts are numbers");
                out.objects.push_back(kind);
            }
        }
        if (auto a = m.FindMember("answers"); a != m.MemberEnd()) {
            if (!a->value.IsArray()) return Fail(where, "\"answers\" is a list");
            int i = 0;
            for (const auto& e : a->value.GetArray()) {
                Answer ans;
                if (!ReadAnswer(e, ans, where + ".answers[" + std::to_string(i++) + "]")) return false;
                out.answers.push_back(std::move(ans));
            }
        }
        return true;
    }
};

}  // namespace

bool ParseScenario(const std::string& json, Scenario& out, std::string& error) {
    rapidjson::Document doc;
    doc.Parse(json.c_str(), json.size());
    if (doc.HasParseError()) {
        error = std::string("JSON error at offset ") + std::to_string(doc.GetErrorOffset()) + ": " +
                rapidjson::GetParseError_En(doc.GetParseError());
        return false;
    }
    if (!doc.IsObject()) {
        error = "a scenario is a JSON object";
        return false;
    }
    Reader r;
    Scenario s;
    if (auto n = doc.FindMember("name"); n != doc.MemberEnd() && n->value.IsString()) s.name = n->value.GetString();
    if (auto d = doc.FindMember("description"); d != doc.MemberEnd() && d->value.IsString()) s.description = d->value.GetString();
    bool ok = r.U32(doc, "server_cabinet", s.server_cabinet, "scenario") &&
              r.U32(doc, "host_type", s.host_type, "scenario") &&
              r.U32(doc, "module_id", s.module_id, "scenario") &&
              r.U32(doc, "unanswered_status", s.unanswered_status, "scenario");
    if (ok) {
        if (auto se = doc.FindMember("se_cabinets"); se != doc.MemberEnd()) {
            if (!se->value.IsArray()) ok = r.Fail("scenario", "\"se_cabinets\" is a list");
            else
                for (const auto& e : se->value.GetArray()) {
                    uint32_t c;
                    if (!ReadU32(e, c)) {
                        ok = r.Fail("scenario.se_cabinets", "cabinet numbers are 32-bit numbers");
                        break;
                    }
                    s.se_cabinets.push_back(c);
                }
        }
    }
    if (ok) {
        if (auto mods = doc.FindMember("modules"); mods != doc.MemberEnd()) {
            if (!mods->value.IsArray()) ok = r.Fail("scenario", "\"modules\" is a list");
            else {
                int i = 0;
                for (const auto& m : mods->value.GetArray()) {
                    LowerModule lm;
                    if (!r.ReadModule(m, lm, s.server_cabinet, "modules[" + std::to_string(i++) + "]")) {
                        ok = false;
                        break;
                    }
                    s.modules.push_back(std::move(lm));
                }
            }
        }
    }
    if (!ok) {
        error = r.error;
        return false;
    }
    out = std::move(s);
    return true;
}

bool LoadScenarioFile(const std::string& path, Scenario& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    if (!ParseScenario(ss.str(), out, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

const std::vector<KnownKind>& KnownObjectKinds() {
    static const std::vector<KnownKind> kinds = {
        {0x0300, 0, {0x0301, 0x0302, 0x0303, 0x0313, 0x0314, 0x0304, 0x0305}},
        {0x0400, 0, {0x0401, 0x0402, 0x0403, 0x0404}},
        {0x0500, 0, {0x0501, 0x0504}},
        {0x0520, 0, {0x0521, 0x0522, 0x0523, 0x0524, 0x0525, 0x0526, 0x0527}},
        {0xF041, 0, {0xF042, 0xF043, 0xF044, 0xF045}},
        {0x0C21, 0x05, {}},
        {0x0C21, 0x1C, {}},
    };
    return kinds;
}

const std::string& DefaultScenarioJson() {
    static const std::string json = R"({
  "name": "demo",
  "description": "A main cabinet and two SE cabinets; two lower modules share the fans",
  "server_cabinet": 0,
  "host_type": 1,
  "se_cabinets": [1, 2],
  "modules": [
    { "id": "0x00010001", "name": "BMC-A", "objects": { "0x0300": 2, "0x0400": 4 }, "answers": [
        { "oc": "0xE001", "oe": "0x0211", "da": "Call the service desk at 555-0100" },
        { "oc": "0x0B18", "da": 0 },
        { "oc": "0x0B20", "da": { "raw": [9, 4, 7, 4, 17, 4] } } ] },
    { "id": "0x00020001", "name": "BMC-B", "objects": { "0x0300": 3 } },
    { "id": "0x00030001", "name": "SE1-MM", "cabinet": 1, "objects": { "0x0300": 6 } },
    { "id": "0x00040001", "name": "SE2-MM", "cabinet": 2, "objects": { "0x0300": 6 } }
  ]
})";
    return json;
}

}  // namespace em::host

#include "host/lib/scenario.h"

#include <algorithm>
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

// Keys of JSON objects that stand for numbers ("0x0307", "17").
bool KeyU32(const Json& name, uint32_t& out) {
    const char* s = name.GetString();
    char* end = nullptr;
    unsigned long long x = std::strtoull(s, &end, 0);
    if (end == s || *end != '\0' || x > 0xFFFFFFFFull) return false;
    out = static_cast<uint32_t>(x);
    return true;
}

std::u16string Wide(const Json& v) { return platform::Utf8ToUtf16(std::string_view(v.GetString(), v.GetStringLength())); }

struct Reader {
    std::string error;

    bool Texts(const Json& v, std::vector<std::u16string>& out, const std::string& where) {
        if (v.IsString()) {
            out.push_back(Wide(v));
            return true;
        }
        if (!v.IsArray()) return Fail(where, "texts are a string or a list of strings");
        for (const auto& e : v.GetArray()) {
            if (!e.IsString()) return Fail(where, "texts are strings");
            out.push_back(Wide(e));
        }
        return true;
    }

    bool ReadOldStyle(const Json& v, OldStyleEntry& e, const std::string& where) {
        if (!v.IsObject()) return Fail(where, "a log entry is an object");
        uint32_t x = 0;
        if (!U32(v, "code", e.code, where, true) || !U32(v, "time", e.time, where)) return false;
        if (e.code > 0x3FFF) return Fail(where, "\"code\" has 14 bits");
        if (!U32(v, "cabinet", x, where)) return false;
        e.cabinet = static_cast<uint16_t>(x);
        x = 0;
        if (!U32(v, "oid", x, where)) return false;
        e.oid = static_cast<uint16_t>(x);
        x = 0;
        if (!U32(v, "class", x, where)) return false;
        e.entry_class = static_cast<uint8_t>(x & 3);
        if (auto a = v.FindMember("args"); a != v.MemberEnd()) {
            if (!a->value.IsArray()) return Fail(where, "\"args\" is a list of numbers");
            for (const auto& w : a->value.GetArray()) {
                if (!ReadU32(w, x)) return Fail(where, "\"args\" is a list of numbers");
                e.args.push_back(x);
            }
        }
        if (auto t = v.FindMember("text"); t != v.MemberEnd() && t->value.IsString()) e.text = t->value.GetString();
        return true;
    }

    bool ReadUnified(const Json& v, UnifiedEntry& e, const std::string& where) {
        if (!v.IsObject()) return Fail(where, "a unified record is an object");
        uint32_t x = 0;
        if (!U32(v, "code", e.code, where, true) || !U32(v, "time", e.time, where) ||
            !U32(v, "record_id", e.record_id, where))
            return false;
        x = e.platform;
        if (!U32(v, "platform", x, where)) return false;
        e.platform = static_cast<uint8_t>(x);
        x = 0;
        if (!U32(v, "class", x, where)) return false;
        e.entry_class = static_cast<uint8_t>(x);
        if (auto c = v.FindMember("css"); c != v.MemberEnd()) e.css = c->value.IsTrue();
        if (auto a = v.FindMember("args"); a != v.MemberEnd()) {
            if (!a->value.IsArray()) return Fail(where, "\"args\" is a list of strings");
            for (const auto& w : a->value.GetArray()) {
                if (!w.IsString()) return Fail(where, "\"args\" is a list of strings");
                e.args.push_back(w.GetString());
            }
        }
        return true;
    }

    template <class T, class F>
    bool List(const Json& v, std::vector<T>& out, const std::string& where, F read) {
        if (!v.IsArray()) return Fail(where, "expected a list");
        int i = 0;
        for (const auto& e : v.GetArray()) {
            T item;
            if (!(this->*read)(e, item, where + "[" + std::to_string(i++) + "]")) return false;
            out.push_back(std::move(item));
        }
        return true;
    }

    // An object whose keys are numbers; read(value, key) for each member.
    template <class F>
    bool NumberKeyed(const Json& v, const std::string& where, F read) {
        if (!v.IsObject()) return Fail(where, "expected an object keyed by numbers");
        for (auto m = v.MemberBegin(); m != v.MemberEnd(); ++m) {
            uint32_t k;
            if (!KeyU32(m->name, k)) return Fail(where, std::string("key \"") + m->name.GetString() + "\" is not a number");
            if (!read(m->value, k, where + "." + m->name.GetString())) return false;
        }
        return true;
    }

    bool ReadModuleData(const Json& m, LowerModule& out, const std::string& where) {
        if (auto l = m.FindMember("log"); l != m.MemberEnd()) {
            out.has_log = true;
            if (!l->value.IsObject()) return Fail(where, "\"log\" holds \"error\" and \"event\" lists");
            if (auto e = l->value.FindMember("error"); e != l->value.MemberEnd() &&
                                                        !List(e->value, out.error_log, where + ".log.error", &Reader::ReadOldStyle))
                return false;
            if (auto e = l->value.FindMember("event"); e != l->value.MemberEnd() &&
                                                        !List(e->value, out.event_log, where + ".log.event", &Reader::ReadOldStyle))
                return false;
        }
        if (auto u = m.FindMember("unified"); u != m.MemberEnd()) {
            out.has_unified = true;
            if (!List(u->value, out.unified, where + ".unified", &Reader::ReadUnified)) return false;
        }
        if (auto c = m.FindMember("css"); c != m.MemberEnd()) {
            if (!NumberKeyed(c->value, where + ".css", [&](const Json& v, uint32_t oc, const std::string& w) {
                    if (!v.IsArray()) return Fail(w, "a list of object indexes");
                    for (const auto& o : v.GetArray()) {
                        uint32_t oi;
                        if (!ReadU32(o, oi)) return Fail(w, "a list of object indexes");
                        out.css[oc].insert(oi);
                    }
                    return true;
                }))
                return false;
        }
        if (auto d = m.FindMember("designations"); d != m.MemberEnd()) {
            if (!NumberKeyed(d->value, where + ".designations", [&](const Json& v, uint32_t oc, const std::string& w) {
                    std::vector<std::u16string> names;
                    if (!Texts(v, names, w)) return false;
                    for (uint32_t i = 0; i < names.size(); ++i) out.designations[oc][i] = names[i];
                    return true;
                }))
                return false;
        }
        if (auto c = m.FindMember("config"); c != m.MemberEnd()) {
            if (!NumberKeyed(c->value, where + ".config", [&](const Json& v, uint32_t k, const std::string& w) {
                    uint32_t x;
                    if (!ReadU32(v, x)) return Fail(w, "values are numbers");
                    out.config[k] = x;
                    return true;
                }))
                return false;
        }
        if (auto c = m.FindMember("writes"); c != m.MemberEnd()) {
            if (!NumberKeyed(c->value, where + ".writes", [&](const Json& v, uint32_t k, const std::string& w) {
                    uint32_t x;
                    if (!ReadU32(v, x)) return Fail(w, "statuses are numbers");
                    out.writes[k] = x;
                    return true;
                }))
                return false;
        }
        if (auto t = m.FindMember("texts"); t != m.MemberEnd()) {
            if (!NumberKeyed(t->value, where + ".texts", [&](const Json& byLang, uint32_t code, const std::string& w) {
                    return NumberKeyed(byLang, w, [&](const Json& v, uint32_t lang, const std::string& w2) {
                        if (!v.IsObject()) return Fail(w2, "texts of a language are an object");
                        MessageTexts mt;
                        std::vector<std::u16string> one;
                        if (auto x = v.FindMember("summary"); x != v.MemberEnd() && x->value.IsString()) mt.summary = Wide(x->value);
                        if (auto x = v.FindMember("long"); x != v.MemberEnd() && x->value.IsString()) mt.long_text = Wide(x->value);
                        if (auto x = v.FindMember("causes"); x != v.MemberEnd() && !Texts(x->value, mt.causes, w2)) return false;
                        if (auto x = v.FindMember("resolutions"); x != v.MemberEnd() && !Texts(x->value, mt.resolutions, w2))
                            return false;
                        out.texts[code][lang] = std::move(mt);
                        return true;
                    });
                }))
                return false;
        }
        if (auto n = m.FindMember("no_resolutions"); n != m.MemberEnd()) out.no_resolutions = n->value.IsTrue();
        if (auto r = m.FindMember("raw_sel"); r != m.MemberEnd()) {
            if (!r->value.IsObject()) return Fail(where, "\"raw_sel\" holds \"ipmi\" and \"smbios\"");
            for (const char* kind : {"ipmi", "smbios"}) {
                auto k = r->value.FindMember(kind);
                if (k == r->value.MemberEnd()) continue;
                auto& target = std::string(kind) == "ipmi" ? out.ipmi_sel : out.smbios_sel;
                if (!NumberKeyed(k->value, where + ".raw_sel." + kind, [&](const Json& v, uint32_t id, const std::string& w) {
                        if (!v.IsArray()) return Fail(w, "raw records are lists of bytes");
                        for (const auto& b : v.GetArray()) {
                            uint32_t x;
                            if (!ReadU32(b, x) || x > 255) return Fail(w, "raw records are lists of bytes");
                            target[id].push_back(static_cast<uint8_t>(x));
                        }
                        return true;
                    }))
                    return false;
            }
        }
        return true;
    }

    bool ReadEvent(const Json& v, ScenarioEvent& e, const std::string& where) {
        if (!v.IsObject()) return Fail(where, "an event is an object");
        std::string kind = v.HasMember("kind") && v["kind"].IsString() ? v["kind"].GetString() : "";
        if (kind == "log_clear") e.kind = ScenarioEvent::Kind::LogClear;
        else if (kind == "new_entries") e.kind = ScenarioEvent::Kind::NewEntries;
        else if (kind == "record") e.kind = ScenarioEvent::Kind::Record;
        else return Fail(where, "\"kind\" is \"new_entries\", \"log_clear\" or \"record\"");
        if (!U32(v, "module", e.module, where) || !U32(v, "cabinet", e.cabinet, where)) return false;
        if (e.kind == ScenarioEvent::Kind::Record) {
            if (!U32(v, "oc", e.oc, where, true) || !U32(v, "oe", e.oe, where) || !U32(v, "oi", e.oi, where) ||
                !U32(v, "ci", e.ci, where) || !U32(v, "st", e.st, where))
                return false;
            if (auto d = v.FindMember("da"); d != v.MemberEnd() && !ReadData(d->value, e.da, where)) return false;
        }
        if (auto l = v.FindMember("log"); l != v.MemberEnd() && l->value.IsString()) e.log = l->value.GetString();
        if (e.log != "error" && e.log != "event" && e.log != "unified")
            return Fail(where, "\"log\" is \"error\", \"event\" or \"unified\"");
        if (auto n = v.FindMember("note"); n != v.MemberEnd() && n->value.IsString()) e.note = n->value.GetString();
        if (auto en = v.FindMember("entries"); en != v.MemberEnd()) {
            if (e.log == "unified") return List(en->value, e.unified, where + ".entries", &Reader::ReadUnified);
            return List(en->value, e.entries, where + ".entries", &Reader::ReadOldStyle);
        }
        return true;
    }

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
        if (!ReadModuleData(m, out, where)) return false;
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
    // Iteratively: the depth of a file's nesting must not decide the depth of our stack.
    doc.Parse<rapidjson::kParseIterativeFlag>(json.c_str(), json.size());
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
    if (ok) {
        if (auto ev = doc.FindMember("events"); ev != doc.MemberEnd())
            ok = r.List(ev->value, s.events, "events", &Reader::ReadEvent);
    }
    if (ok) {
        if (auto rq = doc.FindMember("requests"); rq != doc.MemberEnd()) {
            if (!rq->value.IsArray()) ok = r.Fail("scenario", "\"requests\" is a list of command lines");
            else
                for (const auto& line : rq->value.GetArray())
                    if (line.IsString()) s.requests.push_back(line.GetString());
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

namespace {
void PutU16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void PutU32(std::vector<uint8_t>& b, uint32_t v) {
    PutU16(b, v & 0xFFFF);
    PutU16(b, v >> 16);
}
}  // namespace

std::vector<uint8_t> EncodeOldStyle(const OldStyleEntry& e) {
    std::vector<uint8_t> b;
    b.push_back(static_cast<uint8_t>(e.code & 0xFF));
    b.push_back(static_cast<uint8_t>(((e.code >> 8) & 0x3F) | (e.entry_class << 6)));
    b.push_back(0);
    if (e.code == 0x3F00) {
        // A text entry: the text, zero-terminated, fills the argument words from offset 8.
        std::vector<uint8_t> text(e.text.begin(), e.text.end());
        text.push_back(0);
        while (text.size() % 4) text.push_back(0);
        b.push_back(static_cast<uint8_t>(text.size() / 4));
        PutU32(b, e.time);
        b.insert(b.end(), text.begin(), text.end());
        return b;
    }
    size_t words = std::min<size_t>(e.args.size(), 15);
    b.push_back(static_cast<uint8_t>(1 + words));
    PutU32(b, e.time);
    PutU16(b, e.cabinet);
    PutU16(b, e.oid);
    for (size_t i = 0; i < words; ++i) PutU32(b, e.args[i]);
    return b;
}

std::vector<uint8_t> EncodeUnified(const UnifiedEntry& e) {
    std::vector<uint8_t> b = {0, 0, 0, e.platform};
    PutU32(b, e.code);
    PutU32(b, e.css ? 1u : 0u);
    PutU32(b, e.time);
    PutU32(b, e.record_id);
    PutU32(b, 0);
    b.push_back(e.entry_class);
    b.push_back(static_cast<uint8_t>(e.args.size()));
    for (const auto& a : e.args) {
        b.insert(b.end(), a.begin(), a.end());
        b.push_back(0);
    }
    b[0] = static_cast<uint8_t>(b.size());
    b[1] = static_cast<uint8_t>(b.size() >> 8);
    return b;
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
    static const std::string json =
#include "demo_scenario.inc"
        ;
    return json;
}

}  // namespace em::host

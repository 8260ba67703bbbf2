#include "host/lib/substitute_host.h"

#include <cstdio>
#include <stdexcept>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "platform/codepage.h"
#include "platform/sync.h"

namespace em::host {

// ---- lower modules ----------------------------------------------------------------------------------

const Answer* LowerModules::Find(const LowerModule& m, uint32_t oc, uint32_t oe, uint32_t oi) const {
    for (const Answer& a : m.answers) {
        if (a.oc != oc) continue;
        if (a.oe && *a.oe != oe) continue;
        if (a.oi && *a.oi != oi) continue;
        return &a;
    }
    return nullptr;
}

uint32_t LowerModules::ObjectAnswer(const LowerModule& m, uint32_t oc, uint32_t oe, uint32_t oi, Data& d) const {
    for (const ObjectKind& k : m.objects) {
        if (oc == k.count_opcode && oe == k.count_ext) {
            d.kind = Data::Kind::Number;
            d.number = k.n;
            return 0;
        }
        for (const KnownKind& known : KnownObjectKinds()) {
            if (known.count_opcode != k.count_opcode || known.count_ext != k.count_ext) continue;
            for (uint32_t t : known.targets) {
                if (t != oc) continue;
                if (oi >= k.n) return 19;  // no such object on this module
                // The object answers with its module's own numbering.
                d.kind = Data::Kind::Text;
                d.text = platform::Utf8ToUtf16(m.name + " object " + std::to_string(oi));
                return 0;
            }
        }
    }
    return m_scenario.unanswered_status;
}

namespace {

void PutData(CSipRecord& rec, SipValue& cmd, const Data& d) {
    switch (d.kind) {
        case Data::Kind::None: break;
        case Data::Kind::Number: {
            auto it = cmd.FindMember(key::DA);
            SipValue v(static_cast<uint64_t>(d.number));
            if (it != cmd.MemberEnd()) it->value = v;
            else cmd.AddMember(rapidjson::StringRef(key::DA), v, rec.Allocator());
            break;
        }
        case Data::Kind::Bool: {
            auto it = cmd.FindMember(key::DA);
            SipValue v(d.flag);
            if (it != cmd.MemberEnd()) it->value = v;
            else cmd.AddMember(rapidjson::StringRef(key::DA), v, rec.Allocator());
            break;
        }
        case Data::Kind::Text: rec.SetDataString(cmd, d.text.c_str()); break;
        case Data::Kind::TextList: rec.SetDataStringList(cmd, d.texts); break;
        case Data::Kind::Raw: rec.SetDataRaw(cmd, d.raw.data(), d.raw.size()); break;
    }
}

uint32_t U32(const SipValue& cmd, const char16_t* k, uint32_t def) {
    auto it = cmd.FindMember(k);
    return it != cmd.MemberEnd() && it->value.IsUint() ? it->value.GetUint() : def;
}

}  // namespace

void LowerModules::Respond(CSipRecord& record) const {
    SipValue& cmds = const_cast<SipValue&>(record.CommandArray());
    if (!cmds.IsArray()) return;
    auto& a = record.Allocator();
    SipValue out(rapidjson::kArrayType);
    for (auto& cmd : cmds.GetArray()) {
        if (!cmd.IsObject()) {
            SipValue keep;
            keep = cmd;
            out.PushBack(keep, a);
            continue;
        }
        uint32_t ca = U32(cmd, key::CA, 0), oc = U32(cmd, key::OC, 0), oe = U32(cmd, key::OE, 0),
                 oi = U32(cmd, key::OI, 0), mi = U32(cmd, key::MI, 0);
        auto answer_one = [&](SipValue& c, const LowerModule* m) {
            const em::host::Answer* ans = m ? Find(*m, oc, oe, oi) : nullptr;
            if (ans && ans->throw_in_send) throw std::runtime_error("lower module " + m->name + " failed");
            if (ans && ans->delay_ms) platform::Sleep(ans->delay_ms);
            if (ans) {
                record.SetUIntValue(c, key::ST, ans->st, false);
                PutData(record, c, ans->da);
                return;
            }
            Data d;
            uint32_t st = m ? ObjectAnswer(*m, oc, oe, oi, d) : m_scenario.unanswered_status;
            record.SetUIntValue(c, key::ST, st, false);
            PutData(record, c, d);
        };
        if (mi == kAllModules) {
            for (const LowerModule& m : m_scenario.modules) {
                if (m.cabinet != ca) continue;
                SipValue c(rapidjson::kObjectType);
                record.SetCommandAddress(c, oc, oe, oi, ca, kNoStatus);
                if (auto ci = cmd.FindMember(key::CI); ci != cmd.MemberEnd() && ci->value.IsUint())
                    record.SetUIntValue(c, key::CI, ci->value.GetUint(), true);
                record.SetUIntValue(c, key::MI, m.id, false);
                answer_one(c, &m);
                out.PushBack(c, a);
            }
            continue;
        }
        const LowerModule* target = nullptr;
        for (const LowerModule& m : m_scenario.modules) {
            if (m.cabinet != ca) continue;
            Data probe;
            if (mi != 0 ? m.id == mi : (Find(m, oc, oe, oi) != nullptr || ObjectAnswer(m, oc, oe, oi, probe) == 0)) {
                target = &m;
                break;
            }
        }
        answer_one(cmd, target);
        SipValue moved;
        moved = cmd;
        out.PushBack(moved, a);
    }
    cmds = out;
}

// ---- host -------------------------------------------------------------------------------------------------

SubstituteHost::SubstituteHost(Scenario scenario) : m_scenario(std::move(scenario)), m_lower(m_scenario) {
    m_seCabinets = m_scenario.se_cabinets;
}

SubstituteHost::~SubstituteHost() { Unload(); }

bool SubstituteHost::Load(const std::string& path, std::string& error) {
    if (!m_library.Open(path)) {
        error = m_library.Error();
        return false;
    }
    m_create = reinterpret_cast<CreateFn>(m_library.Symbol("EM_Create"));
    m_delete = reinterpret_cast<DeleteFn>(m_library.Symbol("EM_Delete"));
    m_name = reinterpret_cast<NameFn>(m_library.Symbol("EM_GetModuleName"));
    m_setup = reinterpret_cast<SetupFn>(m_library.Symbol("EM_SetupAction"));
    if (!m_create || !m_delete || !m_name || !m_setup) {
        error = path + " lacks one of the EM_ exports";
        m_library.Close();
        return false;
    }
    return true;
}

void SubstituteHost::Unload() {
    m_module = nullptr;
    m_library.Close();
    m_create = nullptr;
    m_delete = nullptr;
    m_name = nullptr;
    m_setup = nullptr;
}

uint32_t SubstituteHost::Create() {
    if (!m_create) return 0;
    IExtensionModule* m = nullptr;
    uint32_t r = m_create(&m, nullptr);
    m_module = m;
    return r;
}

uint32_t SubstituteHost::Delete() {
    if (!m_delete) return 0;
    uint32_t r = m_delete();
    if (r) m_module = nullptr;
    return r;
}

std::u16string SubstituteHost::LibraryModuleName() const {
    const char16_t* n = m_name ? m_name() : nullptr;
    return n ? std::u16string(n) : std::u16string();
}

uint32_t SubstituteHost::SetupAction() { return m_setup ? m_setup(0, nullptr) : 0; }

void SubstituteHost::Record(HostEvent::Kind kind, const CSipRecord& record) {
    HostEvent e{kind, DescribeRecord(record)};
    std::function<void(const HostEvent&)> listener;
    {
        std::lock_guard<std::mutex> g(m_mutex);
        m_events.push_back(e);
        listener = m_listener;
    }
    if (listener) listener(e);
}

uint32_t SubstituteHost::SendRequest(IExtensionModule*, CSipRecord* record, uint32_t) {
    if (!record) return 0;
    bool count_broadcast = false;
    uint32_t oc = record->Value(key::OC), oe = record->Value(key::OE);
    if (record->CommandCount() == 1 && record->Value(key::MI) == kAllModules)
        for (const KnownKind& k : KnownObjectKinds()) count_broadcast |= k.count_opcode == oc && k.count_ext == oe;
    m_lower.Respond(*record);
    if (count_broadcast) {
        ObservedKind seen{record->GetCommandValue(0, key::CA, 0), oc, oe, {}};
        for (uint32_t i = 0; i < record->CommandCount(); ++i) {
            uint32_t n = 0;
            if (IsFinalStatus(record->GetCommandValue(i, key::ST, 22)) && record->GetDataUInt(i, n))
                seen.modules.emplace_back(record->GetCommandValue(i, key::MI, 0), n & 0xFF);
        }
        std::lock_guard<std::mutex> g(m_mutex);
        m_observed.push_back(std::move(seen));
    }
    Record(HostEvent::Kind::SendRequest, *record);
    return 1;
}

uint32_t SubstituteHost::DeliverRecord(IExtensionModule*, CSipRecord* record) {
    if (record) Record(HostEvent::Kind::DeliverRecord, *record);
    return 1;
}

uint32_t SubstituteHost::StartCompleted(IExtensionModule*, uint32_t) {
    CSipRecord none;
    Record(HostEvent::Kind::StartCompleted, none);
    return 1;
}

uint32_t SubstituteHost::GetSECabinets(uint32_t** cabinets, uint8_t* count) {
    if (!cabinets || !count || m_seCabinets.empty()) return 0;
    *cabinets = m_seCabinets.data();
    *count = static_cast<uint8_t>(m_seCabinets.size() > 255 ? 255 : m_seCabinets.size());
    return 1;
}

uint32_t SubstituteHost::ForwardEvent(IExtensionModule*, CSipRecord* record, uint16_t, uint16_t) {
    if (record) Record(HostEvent::Kind::ForwardEvent, *record);
    return 1;
}

uint32_t SubstituteHost::GetHostType() { return m_scenario.host_type; }

std::vector<ObservedKind> SubstituteHost::ObservedKinds() const {
    std::lock_guard<std::mutex> g(m_mutex);
    return m_observed;
}

const LowerModule* SubstituteHost::ModuleById(uint32_t id) const {
    for (const LowerModule& m : m_scenario.modules)
        if (m.id == id) return &m;
    return nullptr;
}

std::vector<HostEvent> SubstituteHost::Events() const {
    std::lock_guard<std::mutex> g(m_mutex);
    return m_events;
}

void SubstituteHost::ClearEvents() {
    std::lock_guard<std::mutex> g(m_mutex);
    m_events.clear();
}

// ---- rendering ----------------------------------------------------------------------------------------------

namespace {

std::string Hex(uint64_t v, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%0*llX", width, static_cast<unsigned long long>(v));
    return buf;
}

std::string Utf8(const SipValue& s) {
    return platform::Utf16ToUtf8(std::u16string_view(s.GetString(), s.GetStringLength()));
}

std::string DescribeData(const SipValue& v) {
    switch (v.GetType()) {
        case rapidjson::kNullType: return "null";
        case rapidjson::kFalseType: return "false";
        case rapidjson::kTrueType: return "true";
        case rapidjson::kNumberType:
            if (v.IsUint64()) return std::to_string(v.GetUint64()) + " (" + Hex(v.GetUint64(), 1) + ")";
            if (v.IsInt64()) return std::to_string(v.GetInt64());
            return std::to_string(v.GetDouble());
        case rapidjson::kStringType: return "\"" + Utf8(v) + "\"";
        case rapidjson::kArrayType: {
            std::string s = "[";
            for (rapidjson::SizeType i = 0; i < v.Size(); ++i) {
                if (i) s += ", ";
                if (i == 16 && v.Size() > 20) {
                    s += "... " + std::to_string(v.Size() - 16) + " more";
                    break;
                }
                s += DescribeData(v[i]);
            }
            return s + "]";
        }
        case rapidjson::kObjectType: {
            auto raw = v.FindMember(key::RAW);
            if (raw != v.MemberEnd() && raw->value.IsArray()) {
                std::string s = "RAW[" + std::to_string(raw->value.Size()) + "]";
                for (rapidjson::SizeType i = 0; i < raw->value.Size() && i < 32; ++i) {
                    char b[4];
                    std::snprintf(b, sizeof b, " %02X", raw->value[i].IsUint() ? raw->value[i].GetUint() & 0xFF : 0);
                    s += b;
                }
                if (raw->value.Size() > 32) s += " ...";
                return s;
            }
            return "{object}";
        }
    }
    return "?";
}

}  // namespace

std::string DescribeRecord(const CSipRecord& record) {
    const SipValue& cmds = record.CommandArray();
    if (!cmds.IsArray() || cmds.Empty()) return "(no commands)";
    std::string out;
    for (rapidjson::SizeType i = 0; i < cmds.Size(); ++i) {
        const SipValue& c = cmds[i];
        if (i) out += "\n";
        if (!c.IsObject()) {
            out += "(not an object)";
            continue;
        }
        auto field = [&](const char16_t* k, const char* label, int width) {
            auto it = c.FindMember(k);
            if (it == c.MemberEnd()) return;
            if (!out.empty() && out.back() != '\n') out += " ";
            out += label;
            out += "=";
            out += it->value.IsUint() ? (width ? Hex(it->value.GetUint(), width) : std::to_string(it->value.GetUint()))
                                      : DescribeData(it->value);
        };
        field(key::CA, "CA", 0);
        field(key::OC, "OC", 4);
        field(key::OE, "OE", 4);
        field(key::OI, "OI", 0);
        field(key::MI, "MI", 8);
        field(key::CI, "CI", 0);
        field(key::ST, "ST", 0);
        if (auto da = c.FindMember(key::DA); da != c.MemberEnd()) out += " DA=" + DescribeData(da->value);
    }
    if (record.GetCFlag()) out += " [C]";
    return out;
}

namespace {
template <class W>
void WriteJson(W& w, const SipValue& v) {
    switch (v.GetType()) {
        case rapidjson::kNullType: w.Null(); break;
        case rapidjson::kFalseType: w.Bool(false); break;
        case rapidjson::kTrueType: w.Bool(true); break;
        case rapidjson::kNumberType:
            if (v.IsUint64()) w.Uint64(v.GetUint64());
            else if (v.IsInt64()) w.Int64(v.GetInt64());
            else w.Double(v.GetDouble());
            break;
        case rapidjson::kStringType: {
            std::string s = Utf8(v);
            w.String(s.c_str(), static_cast<rapidjson::SizeType>(s.size()));
            break;
        }
        case rapidjson::kArrayType:
            w.StartArray();
            for (const auto& e : v.GetArray()) WriteJson(w, e);
            w.EndArray();
            break;
        case rapidjson::kObjectType:
            w.StartObject();
            for (auto m = v.MemberBegin(); m != v.MemberEnd(); ++m) {
                std::string k = m->name.IsString() ? Utf8(m->name) : std::string();
                w.Key(k.c_str(), static_cast<rapidjson::SizeType>(k.size()));
                WriteJson(w, m->value);
            }
            w.EndObject();
            break;
    }
}
}  // namespace

std::string RecordToJson(const CSipRecord& record) {
    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    WriteJson(w, static_cast<const SipValue&>(record.Document()));
    return sb.GetString();
}

}  // namespace em::host

#include "host/lib/substitute_host.h"

#include <cstdio>
#include <stdexcept>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "platform/codepage.h"
#include "platform/sync.h"

namespace em::host {

// ---- lower modules ----------------------------------------------------------------------------------

namespace {

void SetData(CSipRecord& rec, SipValue& cmd, SipValue& v) {
    auto it = cmd.FindMember(key::DA);
    if (it != cmd.MemberEnd()) it->value = v;
    else cmd.AddMember(rapidjson::StringRef(key::DA), v, rec.Allocator());
}

void PutData(CSipRecord& rec, SipValue& cmd, const Data& d) {
    switch (d.kind) {
        case Data::Kind::None: break;
        case Data::Kind::Number: {
            SipValue v(static_cast<uint64_t>(d.number));
            SetData(rec, cmd, v);
            break;
        }
        case Data::Kind::Bool: {
            SipValue v(d.flag);
            SetData(rec, cmd, v);
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

// DA of a request as a number: a number, or up to 8 raw bytes little-endian.
bool DataNumber(const SipValue& cmd, uint64_t& out) {
    auto it = cmd.FindMember(key::DA);
    if (it == cmd.MemberEnd()) return false;
    if (it->value.IsUint64()) {
        out = it->value.GetUint64();
        return true;
    }
    if (it->value.IsObject()) {
        auto raw = it->value.FindMember(key::RAW);
        if (raw == it->value.MemberEnd() || !raw->value.IsArray()) return false;
        out = 0;
        for (rapidjson::SizeType i = 0; i < raw->value.Size() && i < 8; ++i)
            if (raw->value[i].IsUint()) out |= uint64_t{raw->value[i].GetUint() & 0xFF} << (8 * i);
        return true;
    }
    return false;
}

Data Raw(std::vector<uint8_t> bytes) {
    Data d;
    if (bytes.empty()) return d;
    d.kind = Data::Kind::Raw;
    d.raw = std::move(bytes);
    return d;
}

Data Text(const std::u16string& t) {
    Data d;
    d.kind = Data::Kind::Text;
    d.text = t;
    return d;
}

const Answer* FindAnswer(const LowerModule& m, uint32_t oc, uint32_t oe, uint32_t oi) {
    for (const Answer& a : m.answers) {
        if (a.oc != oc) continue;
        if (a.oe && *a.oe != oe) continue;
        if (a.oi && *a.oi != oi) continue;
        return &a;
    }
    return nullptr;
}

constexpr uint32_t kLanguageEnglish = 0x409;

}  // namespace

LowerModules::LowerModules(const Scenario& scenario)
    : m_modules(scenario.modules), m_unanswered(scenario.unanswered_status) {}

std::string LowerModules::NameOf(uint32_t id) const {
    platform::CsLock g(m_mutex);
    for (const LowerModule& m : m_modules)
        if (m.id == id) return m.name.empty() ? "?" : m.name;
    return "?";
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
                d = Text(platform::Utf8ToUtf16(m.name + " object " + std::to_string(oi)));
                return 0;
            }
        }
    }
    return m_unanswered;
}

LowerModules::Reply LowerModules::Simulate(LowerModule& m, uint32_t oc, uint32_t oe, uint32_t oi, uint64_t da,
                                           bool has_da) {
    Reply r;
    if (const Answer* a = FindAnswer(m, oc, oe, oi)) {
        r.st = a->st;
        r.da = a->da;
        r.delay_ms = a->delay_ms;
        r.fail = a->throw_in_send;
        return r;
    }
    // What the module was told about particular objects comes before its object counts.
    if (auto c = m.css.find(oc); c != m.css.end()) {
        r.da.kind = Data::Kind::Number;
        r.da.number = c->second.count(oi) ? 1 : 0;
        return r;
    }
    if (auto d = m.designations.find(oc); d != m.designations.end()) {
        auto name = d->second.find(oi);
        if (name == d->second.end()) r.st = 19;
        else r.da = Text(name->second);
        return r;
    }
    r.st = ObjectAnswer(m, oc, oe, oi, r.da);
    if (r.st != m_unanswered) return r;
    r.st = 0;
    switch (oc) {
        case 0x0B00:  // CM_LogEntry: OI 0 the error log, OI 1 the event log
            if (!m.has_log || oi > 1) break;
            {
                std::vector<uint8_t> bytes;
                for (const OldStyleEntry& e : oi == 0 ? m.error_log : m.event_log) {
                    auto b = EncodeOldStyle(e);
                    bytes.insert(bytes.end(), b.begin(), b.end());
                }
                r.da = Raw(std::move(bytes));
            }
            return r;
        case 0x0B16:  // CM_LogMessageArgumentsRead
            if (!m.has_unified) {
                r.st = 1;
                return r;
            }
            {
                std::vector<uint8_t> bytes;
                for (const UnifiedEntry& e : m.unified) {
                    auto b = EncodeUnified(e);
                    bytes.insert(bytes.end(), b.begin(), b.end());
                }
                r.da = Raw(std::move(bytes));
            }
            return r;
        case 0x0B03:  // log clear
            if (!m.has_log && !m.has_unified) break;
            m.error_log.clear();
            m.event_log.clear();
            m.unified.clear();
            return r;
        case 0xE001:
            if (auto c = m.config.find(oe); c != m.config.end()) {
                r.da.kind = Data::Kind::Number;
                r.da.number = c->second;
                return r;
            }
            break;
        case 0x0B17: case 0x0B1A: case 0x0B21: case 0x0B23: {
            if (m.texts.empty()) break;
            if (oc == 0x0B17 && m.no_resolutions) {
                r.st = 25;
                return r;
            }
            auto code = m.texts.find(static_cast<uint32_t>(da));
            if (!has_da || code == m.texts.end()) {
                r.st = 19;
                return r;
            }
            auto lang = code->second.find(oe);
            if (lang == code->second.end()) lang = code->second.find(kLanguageEnglish);
            if (lang == code->second.end()) {
                r.st = 19;
                return r;
            }
            const MessageTexts& t = lang->second;
            if (oc == 0x0B21) r.da = Text(t.long_text);
            else if (oc == 0x0B23) r.da = Text(t.summary);
            else {
                r.da.kind = Data::Kind::TextList;
                r.da.texts = oc == 0x0B17 ? t.resolutions : t.causes;
                if (r.da.texts.empty()) r.da.kind = Data::Kind::None;
            }
            return r;
        }
        case 0xF048:  // IPMI raw SEL record by its 2-byte id
        case 0x0B19: {  // SMBIOS raw SEL record by its 4-byte id
            auto& table = oc == 0xF048 ? m.ipmi_sel : m.smbios_sel;
            if (table.empty()) break;
            auto rec = table.find(static_cast<uint32_t>(da));
            if (!has_da || rec == table.end()) {
                r.st = 19;
                return r;
            }
            r.da = Raw(rec->second);
            return r;
        }
        default: break;
    }
    if (auto w = m.writes.find(oc); w != m.writes.end()) {
        r.st = w->second;
        return r;
    }
    r.st = m_unanswered;
    return r;
}

void LowerModules::Respond(CSipRecord& record, uint32_t timeout_ms) {
    SipValue& cmds = const_cast<SipValue&>(record.CommandArray());
    if (!cmds.IsArray()) return;
    auto& a = record.Allocator();
    SipValue out(rapidjson::kArrayType);
    std::string failed;
    for (auto& cmd : cmds.GetArray()) {
        if (!cmd.IsObject()) {
            SipValue keep;
            keep = cmd;
            out.PushBack(keep, a);
            continue;
        }
        const uint32_t ca = U32(cmd, key::CA, 0), oc = U32(cmd, key::OC, 0), oe = U32(cmd, key::OE, 0),
                       oi = U32(cmd, key::OI, 0), mi = U32(cmd, key::MI, 0);
        uint64_t da = 0;
        const bool has_da = DataNumber(cmd, da);
        // Who answers: every module of the cabinet for a broadcast, the addressed one, or the
        // first module that knows the request.
        std::vector<std::pair<uint32_t, Reply>> replies;
        {
            platform::CsLock g(m_mutex);
            for (LowerModule& m : m_modules) {
                if (m.cabinet != ca) continue;
                if (mi == kAllModules) {
                    replies.emplace_back(m.id, Simulate(m, oc, oe, oi, da, has_da));
                } else if (mi != 0) {
                    if (m.id != mi) continue;
                    replies.emplace_back(m.id, Simulate(m, oc, oe, oi, da, has_da));
                    break;
                } else {
                    Reply r = Simulate(m, oc, oe, oi, da, has_da);
                    if (r.st == m_unanswered && !r.fail) continue;
                    replies.emplace_back(0, std::move(r));
                    break;
                }
            }
        }
        if (replies.empty() && mi != kAllModules) replies.emplace_back(0, Reply{m_unanswered, {}, 0, false});
        for (auto& [id, reply] : replies) {
            if (reply.fail) failed = NameOf(id);
            if (reply.delay_ms) platform::Sleep(std::min({reply.delay_ms, timeout_ms, 200u}));
            SipValue c(rapidjson::kObjectType);
            if (mi == kAllModules) {
                record.SetCommandAddress(c, oc, oe, oi, ca, kNoStatus);
                if (auto ci = cmd.FindMember(key::CI); ci != cmd.MemberEnd() && ci->value.IsUint())
                    record.SetUIntValue(c, key::CI, ci->value.GetUint(), true);
                record.SetUIntValue(c, key::MI, id, false);
            } else {
                c = cmd;  // the command itself is answered in place
            }
            if (reply.delay_ms > timeout_ms) {
                record.SetUIntValue(c, key::ST, 0x0F, false);  // too late: timed out
                auto it = c.FindMember(key::DA);
                if (it != c.MemberEnd()) c.RemoveMember(it);
            } else {
                record.SetUIntValue(c, key::ST, reply.st, false);
                PutData(record, c, reply.da);
            }
            out.PushBack(c, a);
        }
    }
    cmds = out;
    if (!failed.empty()) throw LowerModuleFailure("lower module " + failed + " failed inside SendRequest");
}

void LowerModules::Apply(const ScenarioEvent& e, CSipRecord& out) {
    out.Reset();
    SipValue& c = out.CurrentCommand();
    if (e.kind == ScenarioEvent::Kind::Record) {
        // Sent as written; the lower modules' own data stay as they are.
        out.SetCommandAddress(c, e.oc, e.oe, e.oi, e.cabinet, e.st);
        out.SetUIntValue(c, key::MI, e.module, true);
        out.SetUIntValue(c, key::CI, e.ci, true);
        PutData(out, c, e.da);
        return;
    }
    std::vector<uint8_t> bytes;
    platform::CsLock g(m_mutex);
    for (LowerModule& m : m_modules) {
        if (m.id != e.module && !(e.module == 0 && m.cabinet == e.cabinet)) continue;
        if (e.kind == ScenarioEvent::Kind::LogClear) {
            m.error_log.clear();
            m.event_log.clear();
            m.unified.clear();
        } else if (e.log == "unified") {
            for (const UnifiedEntry& u : e.unified) {
                m.unified.push_back(u);
                auto b = EncodeUnified(u);
                bytes.insert(bytes.end(), b.begin(), b.end());
            }
        } else {
            auto& log = e.log == "event" ? m.event_log : m.error_log;
            for (const OldStyleEntry& o : e.entries) {
                log.push_back(o);
                auto b = EncodeOldStyle(o);
                bytes.insert(bytes.end(), b.begin(), b.end());
            }
        }
        if (e.module != 0) break;
    }
    uint32_t oc = e.kind == ScenarioEvent::Kind::LogClear ? 0x0B03 : e.log == "unified" ? 0x0B16 : 0x0B00;
    uint32_t oi = e.kind == ScenarioEvent::Kind::NewEntries && e.log == "event" ? 1 : 0;
    out.SetCommandAddress(c, oc, 0, oi, e.cabinet, status::kEvent);
    out.SetUIntValue(c, key::MI, e.module, true);
    if (!bytes.empty()) out.SetDataRaw(c, bytes.data(), bytes.size());
}

size_t LowerModules::ScanSize(uint32_t cabinet, bool& exact) const {
    platform::CsLock g(m_mutex);
    size_t n = 0;
    exact = true;
    for (const LowerModule& m : m_modules) {
        if (m.cabinet != cabinet) continue;
        for (const Answer& a : m.answers) exact &= a.oc != 0x0B00 && a.oc != 0x0B16;
        if (m.has_unified) n += m.unified.size();
        else if (m.has_log) n += m.error_log.size() + m.event_log.size();
    }
    return n;
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
    if (m_observer) m_observer(kind, record);
    if (!m_keepEvents && !m_listener) return;
    HostEvent e{kind, DescribeRecord(record)};
    std::function<void(const HostEvent&)> listener;
    {
        std::lock_guard<std::mutex> g(m_mutex);
        if (m_keepEvents) m_events.push_back(e);
        listener = m_listener;
    }
    if (listener) listener(e);
}

uint32_t SubstituteHost::SendRequest(IExtensionModule* module, CSipRecord* record, uint32_t timeout_ms) {
    if (!record) return 0;
    bool count_broadcast = false;
    uint32_t oc = record->Value(key::OC), oe = record->Value(key::OE);
    if (record->CommandCount() == 1 && record->Value(key::MI) == kAllModules)
        for (const KnownKind& k : KnownObjectKinds()) count_broadcast |= k.count_opcode == oc && k.count_ext == oe;
    m_lower.Respond(*record, timeout_ms);
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
    if (module) PassRepliesUp(*module, *record);
    return 1;
}

void SubstituteHost::PassRepliesUp(IExtensionModule& module, CSipRecord& record) {
    const uint32_t count = record.CommandCount(), current = record.CurrentIndex();
    if (count == 0) return;
    const std::string before = m_keepEvents || m_listener ? DescribeRecord(record) : std::string();
    record.FirstCommand();
    for (uint32_t i = 0; i < count; ++i) {
        module.OnReply(&record);
        record.NextCommand();
    }
    record.FirstCommand();
    for (uint32_t i = 0; i < current; ++i) record.NextCommand();
    // Shown only where the way up changed something (object indexes translated back).
    if ((m_keepEvents || m_listener) && DescribeRecord(record) != before) Record(HostEvent::Kind::ReplyUp, record);
}

uint32_t SubstituteHost::DeliverRecord(IExtensionModule*, CSipRecord* record) {
    if (!record) return 0;
    Record(HostEvent::Kind::DeliverRecord, *record);
    if (const char16_t* tag = record->AttachedText()) {
        std::lock_guard<std::mutex> g(m_mutex);
        auto it = m_pending.find(tag);
        if (it != m_pending.end() && !it->second) {
            it->second = std::make_unique<CSipRecord>(*record);
            m_delivered.notify_all();
        }
    }
    return 1;
}

void SubstituteHost::Number(CSipRecord& request) {
    if (request.Value(key::CI) != 0) return;
    uint32_t ci = m_nextCI.fetch_add(1, std::memory_order_relaxed) + 1;
    if (ci == 0) ci = m_nextCI.fetch_add(1, std::memory_order_relaxed) + 1;  // 0 means none
    request.SetCommandCI(ci);
}

SubstituteHost::Outcome SubstituteHost::Submit(CSipRecord& request, CSipRecord& delivered, uint32_t wait_ms) {
    Outcome o;
    if (!m_module) return o;
    std::u16string tag;
    Number(request);
    {
        std::lock_guard<std::mutex> g(m_mutex);
        tag = u"emhost#" + platform::Utf8ToUtf16(std::to_string(++m_nextTag));
        m_pending.emplace(tag, nullptr);
    }
    request.SetAttachedText(tag.c_str());
    o.result = m_module->OnRequest(&request);
    o.pending = request.Value(key::ST) == status::kPending && o.result == 1;
    std::unique_lock<std::mutex> g(m_mutex);
    if (o.pending) {
        m_delivered.wait_for(g, std::chrono::milliseconds(wait_ms), [&] { return m_pending[tag] != nullptr; });
        if (m_pending[tag]) {
            delivered.CopyFrom(*m_pending[tag]);
            o.delivered = true;
        }
    }
    m_pending.erase(tag);
    return o;
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

std::string SubstituteHost::RaiseEvent(const ScenarioEvent& event) {
    CSipRecord rec;
    m_lower.Apply(event, rec);
    return RaiseRecord(rec);
}

std::string SubstituteHost::RaiseRecord(CSipRecord& record) {
    std::string text = m_keepEvents || m_listener ? DescribeRecord(record) : std::string();
    if (m_module) m_module->OnReply(&record);
    return text;
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

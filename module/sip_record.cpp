#include "module/sip_record.h"

#include <cstring>

#include "platform/codepage.h"

namespace em {

namespace {

constexpr int kMaxCopyDepth = 512;  // deeper values are copied as null

// Byte width of an unsigned number, 0 for anything that is not one.
uint64_t NumberWidth(const SipValue& v) {
    if (!v.IsUint64()) return 0;
    uint64_t x = v.GetUint64();
    if (x <= 0xFF) return 1;
    if (x <= 0xFFFF) return 2;
    if (x <= 0xFFFFFFFFull) return 4;
    return 8;
}

uint8_t LowByte(const SipValue& v) {
    if (v.IsUint64()) return static_cast<uint8_t>(v.GetUint64());
    if (v.IsInt64()) return static_cast<uint8_t>(static_cast<uint64_t>(v.GetInt64()));
    return 0;
}

size_t TextLength(const char16_t* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

void DeepCopy(SipValue& dst, const SipValue& src, CProcessHeapAllocator& a, int depth) {
    if (depth > kMaxCopyDepth) {
        dst.SetNull();
        return;
    }
    switch (src.GetType()) {
        case rapidjson::kNullType: dst.SetNull(); break;
        case rapidjson::kFalseType: dst.SetBool(false); break;
        case rapidjson::kTrueType: dst.SetBool(true); break;
        case rapidjson::kStringType: dst.SetString(src.GetString(), src.GetStringLength(), a); break;
        case rapidjson::kNumberType:
            if (src.IsUint64()) dst.SetUint64(src.GetUint64());
            else if (src.IsInt64()) dst.SetInt64(src.GetInt64());
            else dst.SetDouble(src.GetDouble());
            break;
        case rapidjson::kArrayType: {
            dst.SetArray();
            dst.Reserve(src.Size(), a);
            for (const SipValue& e : src.GetArray()) {
                SipValue copy;
                DeepCopy(copy, e, a, depth + 1);
                dst.PushBack(copy, a);
            }
            break;
        }
        case rapidjson::kObjectType: {
            dst.SetObject();
            for (auto m = src.MemberBegin(); m != src.MemberEnd(); ++m) {
                SipValue name;
                if (m->name.IsString()) name.SetString(m->name.GetString(), m->name.GetStringLength(), a);
                else name.SetString(u"", 0, a);
                SipValue copy;
                DeepCopy(copy, m->value, a, depth + 1);
                dst.AddMember(name, copy, a);
            }
            break;
        }
    }
}

}  // namespace

// ---- construction -------------------------------------------------------------------------------------

CSipRecord::CSipRecord() : m_doc(rapidjson::kObjectType, nullptr, 256) { Reset(); }

CSipRecord::CSipRecord(uint32_t opcode, uint32_t opcode_ext, uint32_t object_id, uint32_t cabinet,
                       uint32_t status)
    : CSipRecord() {
    SetCommandAddress(CurrentCommand(), opcode, opcode_ext, object_id, cabinet, status);
}

CSipRecord::CSipRecord(const CSipRecord& other) : CSipRecord() { CopyFrom(other); }

CSipRecord::~CSipRecord() { FreeText(); }

void CSipRecord::FreeText() {
    if (m_pszText) platform::HeapFree(m_pszText);
    m_pszText = nullptr;
}

void CSipRecord::Reset() {
    auto& a = m_doc.GetAllocator();
    m_doc.SetObject();
    m_nCurrent = 0;
    FreeText();
    SipValue sip(rapidjson::kObjectType);
    sip.AddMember(rapidjson::StringRef(key::V), SipValue(1u), a);
    sip.AddMember(rapidjson::StringRef(key::CMD), SipValue(rapidjson::kArrayType), a);
    m_doc.AddMember(rapidjson::StringRef(key::SIP), sip, a);
}

void CSipRecord::CopyFrom(const CSipRecord& other) {
    if (&other == this) return;
    if (other.m_doc.IsObject()) {
        SipValue copy;
        DeepCopy(copy, other.m_doc, m_doc.GetAllocator(), 0);
        static_cast<SipValue&>(m_doc) = copy;  // releases the old root
    }
    m_nCurrent = other.m_nCurrent;
    if (other.m_pszText) SetAttachedText(other.m_pszText);
}

void CSipRecord::SetAttachedText(const char16_t* text) {
    // The text may be our own (or lie inside it): copy first, free the old one after.
    char16_t* copy = nullptr;
    if (text) {
        size_t n = TextLength(text);
        copy = static_cast<char16_t*>(platform::HeapAllocZero((n + 1) * sizeof(char16_t)));
        if (!copy) return;
        std::memcpy(copy, text, n * sizeof(char16_t));
    }
    FreeText();
    m_pszText = copy;
}

const SipValue& CSipRecord::NullValue() {
    static const SipValue null_value;
    return null_value;
}

// ---- structure helpers -----------------------------------------------------------------------------------

const SipValue* CSipRecord::Member(const SipValue& object, const char16_t* name) {
    if (!object.IsObject()) return nullptr;
    auto it = object.FindMember(name);
    return it == object.MemberEnd() ? nullptr : &it->value;
}

const SipValue* CSipRecord::Cmd() const {
    const SipValue* sip = Member(m_doc, key::SIP);
    if (!sip) return nullptr;
    const SipValue* cmd = Member(*sip, key::CMD);
    return cmd && cmd->IsArray() ? cmd : nullptr;
}

SipValue* CSipRecord::CmdMutable() { return const_cast<SipValue*>(Cmd()); }

// The writers need the skeleton. A record handed in without it (a host's malformed record) gets
// the missing parts added, so that the answer has a place to go.
SipValue* CSipRecord::Ensure() {
    auto& a = m_doc.GetAllocator();
    if (!m_doc.IsObject()) m_doc.SetObject();
    auto sip = m_doc.FindMember(key::SIP);
    if (sip == m_doc.MemberEnd()) {
        m_doc.AddMember(rapidjson::StringRef(key::SIP), SipValue(rapidjson::kObjectType), a);
        sip = m_doc.FindMember(key::SIP);
    }
    if (!sip->value.IsObject()) sip->value.SetObject();
    auto cmd = sip->value.FindMember(key::CMD);
    if (cmd == sip->value.MemberEnd()) {
        sip->value.AddMember(rapidjson::StringRef(key::CMD), SipValue(rapidjson::kArrayType), a);
        cmd = sip->value.FindMember(key::CMD);
    }
    if (!cmd->value.IsArray()) cmd->value.SetArray();
    return &sip->value;
}

const SipValue* CSipRecord::Command(int32_t n) const {
    if (n < 0) return nullptr;
    const SipValue* cmd = Cmd();
    if (!cmd || static_cast<uint32_t>(n) >= cmd->Size()) return nullptr;
    const SipValue& c = (*cmd)[static_cast<rapidjson::SizeType>(n)];
    return c.IsObject() ? &c : nullptr;
}

// ---- commands ---------------------------------------------------------------------------------------------

bool CSipRecord::FirstCommand() {
    m_nCurrent = 0;
    const SipValue* cmd = Cmd();
    return cmd && cmd->Size() > 0;
}

bool CSipRecord::NextCommand() {
    const SipValue* cmd = Cmd();
    if (cmd && static_cast<uint64_t>(m_nCurrent) + 1 < cmd->Size()) {
        ++m_nCurrent;
        return true;
    }
    return false;
}

uint32_t CSipRecord::CommandCount() const {
    const SipValue* cmd = Cmd();
    return cmd ? cmd->Size() : 0;
}

const SipValue& CSipRecord::CommandArray() const {
    const SipValue* sip = Member(m_doc, key::SIP);
    const SipValue* cmd = sip ? Member(*sip, key::CMD) : nullptr;
    return cmd ? *cmd : NullValue();
}

SipValue& CSipRecord::CurrentCommand() {
    SipValue* cmd = Cmd() ? CmdMutable() : &Ensure()->FindMember(key::CMD)->value;
    auto& a = m_doc.GetAllocator();
    while (cmd->Size() < static_cast<uint64_t>(m_nCurrent) + 1) cmd->PushBack(SipValue(rapidjson::kObjectType), a);
    return (*cmd)[m_nCurrent];
}

void CSipRecord::ClearCommands() {
    if (SipValue* cmd = CmdMutable()) cmd->Clear();
    m_nCurrent = 0;
}

// ---- reading ------------------------------------------------------------------------------------------------

uint32_t CSipRecord::GetCommandValue(int32_t n, const char16_t* name, uint32_t def) const {
    const SipValue* c = Command(n);
    if (!c) return def;
    const SipValue* v = Member(*c, name);
    return v && v->IsUint() ? v->GetUint() : def;
}

uint32_t CSipRecord::Value(const char16_t* name) const {
    bool is_status = std::u16string_view(name) == std::u16string_view(key::ST);
    return GetCommandValue(Cur(), name, is_status ? status::kPending : 0);
}

uint64_t CSipRecord::GetDataLength(int32_t n) const {
    const SipValue* c = Command(n);
    const SipValue* da = c ? Member(*c, key::DA) : nullptr;
    if (!da) return 0;
    switch (da->GetType()) {
        case rapidjson::kNumberType: return NumberWidth(*da);
        case rapidjson::kTrueType:
        case rapidjson::kFalseType: return 1;
        case rapidjson::kStringType: return static_cast<uint64_t>(da->GetStringLength()) + 1;
        case rapidjson::kArrayType: {
            if (da->Empty()) return 0;
            uint64_t total = 0;
            if ((*da)[0].IsString()) {
                for (const SipValue& e : da->GetArray())
                    if (e.IsString()) total += 2ull * e.GetStringLength() + 2;
                return total + 2;
            }
            if ((*da)[0].IsNumber()) {
                for (const SipValue& e : da->GetArray()) total += NumberWidth(e);
                return total;
            }
            return 0;
        }
        case rapidjson::kObjectType: {
            const SipValue* raw = Member(*da, key::RAW);
            return raw && raw->IsArray() ? raw->Size() : 0;
        }
        default: return 0;
    }
}

bool CSipRecord::GetDataUInt(int32_t n, uint32_t& value) const {
    const SipValue* c = Command(n);
    const SipValue* da = c ? Member(*c, key::DA) : nullptr;
    if (!da) return false;
    if (da->IsObject()) {
        const SipValue* raw = Member(*da, key::RAW);
        if (!raw || !raw->IsArray() || raw->Empty()) return false;
        uint32_t v = 0;
        uint32_t count = raw->Size() >= 3 ? 4 : raw->Size();
        for (uint32_t i = 0; i < count && i < raw->Size(); ++i) v |= static_cast<uint32_t>(LowByte((*raw)[i])) << (8 * i);
        value = v;
        return true;
    }
    if (da->IsUint()) {
        value = da->GetUint();
        return true;
    }
    return false;
}

bool CSipRecord::GetDataString(int32_t n, std::u16string& text, uint32_t offset) const {
    const SipValue* c = Command(n);
    const SipValue* da = c ? Member(*c, key::DA) : nullptr;
    if (!da) return false;
    if (da->IsNull()) {
        text.clear();
        return true;
    }
    if (da->IsObject()) {
        text.clear();
        const SipValue* raw = Member(*da, key::RAW);
        if (!raw || !raw->IsArray() || offset >= raw->Size() || !(*raw)[0].IsUint()) return false;
        std::string bytes;
        bytes.reserve(raw->Size() - offset);
        for (uint32_t i = offset; i < raw->Size(); ++i) {
            uint8_t b = LowByte((*raw)[i]);
            if (b == 0) break;
            bytes.push_back(static_cast<char>(b));
        }
        text = platform::Utf8ToUtf16(bytes);
        return true;
    }
    if (da->IsString() && offset == 0) {
        text.assign(da->GetString(), da->GetStringLength());
        return true;
    }
    return false;
}

bool CSipRecord::GetDataBytes(int32_t n, std::vector<uint8_t>& bytes) const {
    const SipValue* c = Command(n);
    const SipValue* da = c ? Member(*c, key::DA) : nullptr;
    if (!da) return false;
    if (da->IsObject()) {
        bytes.clear();
        const SipValue* raw = Member(*da, key::RAW);
        if (!raw || !raw->IsArray() || raw->Empty() || !(*raw)[0].IsUint()) return true;
        bytes.reserve(raw->Size());
        for (const SipValue& e : raw->GetArray()) bytes.push_back(LowByte(e));
        return true;
    }
    if (da->IsArray()) {
        bytes.clear();
        if (da->Empty() || !(*da)[0].IsString()) return true;
        std::string utf8;
        for (const SipValue& e : da->GetArray()) {
            if (!e.IsString()) continue;
            platform::Utf16ToUtf8(std::u16string_view(e.GetString(), e.GetStringLength()), utf8);
            bytes.insert(bytes.end(), utf8.begin(), utf8.end());
            bytes.push_back(0);
        }
        bytes.push_back(0);
        return true;
    }
    if (da->IsString()) {
        std::string utf8 = platform::Utf16ToUtf8(std::u16string_view(da->GetString(), da->GetStringLength()));
        bytes.assign(utf8.begin(), utf8.end());
        bytes.push_back(0);
        return true;
    }
    if (da->IsUint64()) {
        uint64_t v = da->GetUint64();
        size_t width = v > 0xFFFFFFFFull ? 8 : v > 0xFFFF ? 4 : v > 0xFF ? 2 : 1;
        bytes.clear();
        for (size_t i = 0; i < width; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return true;
    }
    return false;
}

bool CSipRecord::GetDataStringList(int32_t n, std::vector<std::u16string>& texts) const {
    const SipValue* c = Command(n);
    const SipValue* da = c ? Member(*c, key::DA) : nullptr;
    if (!da) return false;
    if (da->IsArray()) {
        texts.clear();
        if (da->Empty() || !(*da)[0].IsString()) return false;
        for (const SipValue& e : da->GetArray()) {
            if (e.IsString()) texts.emplace_back(e.GetString(), e.GetStringLength());
            else texts.emplace_back();
        }
        return true;
    }
    if (da->IsObject()) {
        const SipValue* raw = Member(*da, key::RAW);
        if (!raw) return true;
        texts.clear();
        if (!raw->IsArray() || raw->Empty() || !(*raw)[0].IsUint()) return true;
        std::string current;
        uint32_t size = raw->Size();
        for (uint32_t i = 0; i < size; ++i) {
            uint8_t b = LowByte((*raw)[i]);
            if (b != 0) {
                current.push_back(static_cast<char>(b));
                continue;
            }
            if (i + 1 == size) break;  // the closing NUL
            texts.push_back(platform::Utf8ToUtf16(current));
            current.clear();
        }
        return true;
    }
    return false;
}

bool CSipRecord::HasData(int32_t n, uint64_t length, bool at_least) const {
    const SipValue* c = Command(n);
    const SipValue* da = c ? Member(*c, key::DA) : nullptr;
    if (!da) return false;
    if (length == 0 || da->IsNumber()) return true;
    uint64_t have = GetDataLength(n);
    return at_least ? have >= length : have == length;
}

bool CSipRecord::HasAnswer(uint64_t length, bool at_least) const {
    return IsFinalStatus(GetCommandValue(Cur(), key::ST, status::kPending)) && HasData(Cur(), length, at_least);
}

// ---- scans ---------------------------------------------------------------------------------------------------

namespace {
// ST of a command object when it is present as an unsigned 32-bit number.
bool StatusOf(const SipValue& c, uint32_t& st) {
    auto it = c.FindMember(key::ST);
    if (it == c.MemberEnd() || !it->value.IsUint()) return false;
    st = it->value.GetUint();
    return true;
}
bool HasMember(const SipValue& c, const char16_t* name) { return c.FindMember(name) != c.MemberEnd(); }
}  // namespace

uint32_t CSipRecord::CountAnsweredCommands() const {
    const SipValue* cmd = Cmd();
    if (!cmd) return 0;
    uint32_t n = 0;
    for (const SipValue& c : cmd->GetArray()) {
        uint32_t st;
        if (c.IsObject() && StatusOf(c, st) && HasMember(c, key::DA) && IsFinalStatus(st)) ++n;
    }
    return n;
}

bool CSipRecord::AnyCommandAnswered() const {
    const SipValue* cmd = Cmd();
    if (!cmd) return false;
    for (const SipValue& c : cmd->GetArray()) {
        uint32_t st;
        if (c.IsObject() && StatusOf(c, st) && IsFinalStatus(st)) return true;
    }
    return false;
}

bool CSipRecord::AnyCommandHasStatus(uint32_t wanted) const {
    const SipValue* cmd = Cmd();
    if (!cmd) return false;
    for (const SipValue& c : cmd->GetArray()) {
        uint32_t st;
        if (c.IsObject() && StatusOf(c, st) && st == wanted) return true;
    }
    return false;
}

bool CSipRecord::SelectFirstAnsweredCommand() {
    const SipValue* cmd = Cmd();
    if (!cmd) return false;
    for (uint32_t i = 0; i < cmd->Size(); ++i) {
        const SipValue& c = (*cmd)[i];
        uint32_t st;
        if (c.IsObject() && StatusOf(c, st) && HasMember(c, key::DA) && IsFinalStatus(st)) {
            m_nCurrent = i;
            return true;
        }
    }
    return false;
}

// ---- writers on a given command ----------------------------------------------------------------------------

namespace {
void RemoveMember(SipValue& object, const char16_t* name) {
    auto it = object.FindMember(name);
    if (it != object.MemberEnd()) object.RemoveMember(it);  // the last member moves into the gap
}
}  // namespace

bool CSipRecord::SetUIntValue(SipValue& object, const char16_t* name, uint32_t value, bool remove_if_zero) {
    if (!object.IsObject() || &object == &NullValue()) return false;
    if (remove_if_zero && value == 0) {
        RemoveMember(object, name);
        return true;
    }
    auto it = object.FindMember(name);
    if (it != object.MemberEnd()) it->value.SetUint(value);
    else object.AddMember(rapidjson::StringRef(name), SipValue(value), m_doc.GetAllocator());
    return true;
}

void CSipRecord::SetCommandAddress(SipValue& command, uint32_t opcode, uint32_t opcode_ext, uint32_t object_id,
                                   uint32_t cabinet, uint32_t st) {
    if (&command == &NullValue()) return;
    command.SetObject();
    SetUIntValue(command, key::OC, opcode, false);
    SetUIntValue(command, key::OE, opcode_ext, true);
    SetUIntValue(command, key::OI, object_id, true);
    SetUIntValue(command, key::CA, cabinet, false);
    if (st != kNoStatus) SetUIntValue(command, key::ST, st, false);
}

namespace {
// Sets DA to the given value (overwriting in place or appending).
bool PutData(SipValue& command, SipValue& value, CProcessHeapAllocator& a) {
    if (!command.IsObject() || &command == &CSipRecord::NullValue()) return false;
    auto it = command.FindMember(key::DA);
    if (it != command.MemberEnd()) it->value = value;
    else command.AddMember(rapidjson::StringRef(key::DA), value, a);
    return true;
}
}  // namespace

bool CSipRecord::SetDataUInt(SipValue& command, uint32_t value) {
    SipValue v(value);
    return PutData(command, v, m_doc.GetAllocator());
}

bool CSipRecord::SetDataString(SipValue& command, const char16_t* text) {
    if (!command.IsObject()) return false;
    const char16_t* t = text ? text : u"";
    SipValue v(t, static_cast<rapidjson::SizeType>(TextLength(t)), m_doc.GetAllocator());
    return PutData(command, v, m_doc.GetAllocator());
}

bool CSipRecord::SetDataStringList(SipValue& command, const std::vector<std::u16string>& texts) {
    if (!command.IsObject()) return false;
    auto& a = m_doc.GetAllocator();
    SipValue v(rapidjson::kArrayType);
    v.Reserve(static_cast<rapidjson::SizeType>(texts.size()), a);
    for (const auto& t : texts) v.PushBack(SipValue(t.data(), static_cast<rapidjson::SizeType>(t.size()), a), a);
    return PutData(command, v, a);
}

bool CSipRecord::SetDataRaw(SipValue& command, const uint8_t* bytes, size_t count) {
    if (!command.IsObject()) return false;
    auto& a = m_doc.GetAllocator();
    SipValue raw(rapidjson::kArrayType);
    raw.Reserve(static_cast<rapidjson::SizeType>(count), a);
    for (size_t i = 0; i < count; ++i) raw.PushBack(SipValue(static_cast<unsigned>(bytes[i])), a);
    SipValue v(rapidjson::kObjectType);
    v.AddMember(rapidjson::StringRef(key::RAW), raw, a);
    return PutData(command, v, a);
}

// ---- writers on the current command -------------------------------------------------------------------------

void CSipRecord::SetObjectId(uint32_t value) { SetUIntValue(CurrentCommand(), key::OI, value, true); }
void CSipRecord::SetModuleId(uint32_t value) { SetUIntValue(CurrentCommand(), key::MI, value, true); }
void CSipRecord::SetModuleId(uint16_t high, uint16_t low) {
    SetModuleId((static_cast<uint32_t>(high) << 16) | low);
}
void CSipRecord::SetCommandCI(uint32_t value) { SetUIntValue(CurrentCommand(), key::CI, value, true); }
void CSipRecord::SetStatus(uint32_t st) { SetUIntValue(CurrentCommand(), key::ST, st, false); }

void CSipRecord::SetReplyUInt(uint32_t value, uint32_t st) {
    SipValue& c = CurrentCommand();
    if (!c.IsObject()) return;
    SetDataUInt(c, value);
    SetUIntValue(c, key::ST, st, false);
}

void CSipRecord::SetReplyRaw(const std::vector<uint8_t>& bytes, uint32_t st) {
    SipValue& c = CurrentCommand();
    if (!c.IsObject()) return;
    if (bytes.empty()) RemoveMember(c, key::DA);
    else SetDataRaw(c, bytes.data(), bytes.size());
    SetUIntValue(c, key::ST, st, false);
}

void CSipRecord::ClearData(uint32_t st) {
    SipValue& c = CurrentCommand();
    if (!c.IsObject()) return;
    RemoveMember(c, key::DA);
    SetUIntValue(c, key::ST, st, false);
}

void CSipRecord::SetCFlag(bool on) {
    SipValue* sip = Ensure();
    if (on) {
        auto it = sip->FindMember(key::C);
        if (it != sip->MemberEnd()) it->value.SetBool(true);
        else sip->AddMember(rapidjson::StringRef(key::C), SipValue(true), m_doc.GetAllocator());
    } else {
        RemoveMember(*sip, key::C);
    }
}

bool CSipRecord::GetCFlag() const {
    const SipValue* sip = Member(m_doc, key::SIP);
    const SipValue* c = sip ? Member(*sip, key::C) : nullptr;
    return c && c->IsTrue();
}

// ---- taking commands over from another record --------------------------------------------------------

bool CSipRecord::MoveCommandFrom(CSipRecord& from, int32_t n) {
    if (&from == this) return false;
    SipValue* source = from.CmdMutable();
    if (!source || n < 0 || static_cast<uint32_t>(n) >= source->Size()) return false;
    Ensure();
    SipValue* cmd = CmdMutable();
    if (!cmd) return false;
    cmd->PushBack((*source)[static_cast<rapidjson::SizeType>(n)], m_doc.GetAllocator());  // leaves a null
    return true;
}

}  // namespace em

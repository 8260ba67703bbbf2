// Fuzz target: every record accessor over an arbitrary tree, then the writers on it and a copy.
//
// The input is a small program that builds the tree: each value takes one byte for its type
// (null, bool, signed, unsigned, 64-bit, double, string, array, object), and the containers take a
// count and then their elements; object members take one byte for the name (the record's own keys
// mostly, arbitrary text otherwise). A count byte of 0xFE or 0xFF repeats one element thousands of
// times, so that huge arrays and deep nests come from short inputs.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "module/sip_record.h"

namespace {

using em::CSipRecord;
using em::SipValue;

const char16_t* const kNames[] = {em::key::SIP, em::key::V,  em::key::C,  em::key::CMD, em::key::CA,
                                  em::key::OC,  em::key::OE, em::key::OI, em::key::MI,  em::key::CI,
                                  em::key::ST,  em::key::DA, em::key::RAW, u""};
constexpr size_t kNameCount = sizeof(kNames) / sizeof(kNames[0]);

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Done() const { return m_pos >= m_size; }
    uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    uint64_t Word(int bytes) {
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= static_cast<uint64_t>(Byte()) << (8 * i);
        return v;
    }
    std::u16string Text() {
        size_t n = Byte() % 24;
        std::u16string s;
        for (size_t i = 0; i < n && !Done(); ++i) s.push_back(static_cast<char16_t>(Word(2)));
        return s;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// Values built so far; bounds the memory and work of one input.
size_t g_budget = 0;
constexpr size_t kBudget = 20000;

SipValue Build(Reader& in, SipValue::AllocatorType& alloc, int depth);

// A copy by hand: the JSON library's own copy goes through a growable stack that starts as a
// null pointer, which the sanitizer stops at.
SipValue Copy(const SipValue& v, SipValue::AllocatorType& alloc) {
    ++g_budget;
    if (v.IsString()) return SipValue(v.GetString(), v.GetStringLength(), alloc);
    if (v.IsArray()) {
        SipValue a(rapidjson::kArrayType);
        for (const auto& e : v.GetArray()) a.PushBack(Copy(e, alloc), alloc);
        return a;
    }
    if (v.IsObject()) {
        SipValue o(rapidjson::kObjectType);
        for (const auto& m : v.GetObject()) o.AddMember(Copy(m.name, alloc), Copy(m.value, alloc), alloc);
        return o;
    }
    if (v.IsBool()) return SipValue(v.GetBool());
    if (v.IsUint64()) return SipValue(v.GetUint64());
    if (v.IsInt64()) return SipValue(v.GetInt64());
    if (v.IsDouble()) return SipValue(v.GetDouble());
    return SipValue();
}

void Fill(Reader& in, SipValue& v, SipValue::AllocatorType& alloc, int depth) {
    const bool object = v.IsObject();
    const uint8_t count_byte = in.Byte();
    const bool repeat = count_byte >= 0xFE;
    const size_t count = repeat ? (static_cast<size_t>(count_byte & 1) + 1) * 10000 : count_byte & 0x0F;
    std::u16string name;
    SipValue element;
    for (size_t i = 0; i < count && g_budget < kBudget; ++i) {
        if (!repeat || i == 0) {
            if (object) {
                const uint8_t nb = in.Byte();
                name = nb < 0xE0 ? std::u16string(kNames[nb % kNameCount]) : in.Text();
            }
            element = Build(in, alloc, depth + 1);
        }
        SipValue copy = Copy(element, alloc);
        if (object) {
            SipValue key(name.data(), static_cast<rapidjson::SizeType>(name.size()), alloc);
            v.AddMember(key, copy, alloc);
        } else {
            v.PushBack(copy, alloc);
        }
    }
}

SipValue Build(Reader& in, SipValue::AllocatorType& alloc, int depth) {
    ++g_budget;
    const uint8_t t = in.Byte();
    switch (depth > 40 ? t % 7 : t % 10) {
    case 0: return SipValue();
    case 1: return SipValue(static_cast<bool>(t & 0x10));
    case 2: return SipValue(static_cast<int32_t>(in.Word(4)));
    case 3: return SipValue(static_cast<uint32_t>(in.Word(t & 0x10 ? 1 : 4)));
    case 4: return SipValue(static_cast<int64_t>(in.Word(8)));
    case 5: {
        const uint64_t bits = in.Word(8);
        double d;
        static_assert(sizeof d == sizeof bits);
        __builtin_memcpy(&d, &bits, sizeof d);
        return SipValue(d);
    }
    case 6: {
        const std::u16string s = in.Text();
        return SipValue(s.data(), static_cast<rapidjson::SizeType>(s.size()), alloc);
    }
    case 7:
    case 8: {
        SipValue a(rapidjson::kArrayType);
        Fill(in, a, alloc, depth);
        return a;
    }
    default: {
        SipValue o(rapidjson::kObjectType);
        Fill(in, o, alloc, depth);
        return o;
    }
    }
}

void ReadAll(const CSipRecord& r, int32_t n) {
    std::u16string text;
    std::vector<uint8_t> bytes;
    std::vector<std::u16string> texts;
    uint32_t value = 0;
    for (const char16_t* k : kNames) (void)r.GetCommandValue(n, k, 22);
    (void)r.GetDataLength(n);
    (void)r.GetDataUInt(n, value);
    for (uint32_t offset : {0u, 1u, 2u, 0xFFFFFFFFu}) (void)r.GetDataString(n, text, offset);
    (void)r.GetDataBytes(n, bytes);
    (void)r.GetDataStringList(n, texts);
    (void)r.HasData(n, 0, false);
    (void)r.HasData(n, 4, false);
    (void)r.HasData(n, 1u << 31, true);
}

// A copy must read exactly like its source.
void CheckCopy(const CSipRecord& a, const CSipRecord& b, int32_t n) {
    std::vector<uint8_t> x, y;
    const bool rx = a.GetDataBytes(n, x), ry = b.GetDataBytes(n, y);
    if (rx != ry || (rx && x != y) || a.GetDataLength(n) != b.GetDataLength(n) ||
        a.GetCommandValue(n, em::key::ST, 22) != b.GetCommandValue(n, em::key::ST, 22))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    g_budget = 0;
    CSipRecord r;
    const uint8_t shape = in.Byte();
    if (shape & 1) {
        // The whole root from the input (it may not even be an object).
        SipValue root = Build(in, r.Allocator(), 0);
        static_cast<SipValue&>(r.Document()) = root;
    } else {
        // The usual skeleton with arbitrary commands.
        SipValue& cmd = const_cast<SipValue&>(r.CommandArray());
        Fill(in, cmd, r.Allocator(), 1);
    }
    const int32_t count = static_cast<int32_t>(r.CommandCount());
    const int32_t probes[] = {INT_MIN, -1, 0, 1, 2, count - 1, count, INT_MAX};
    for (int32_t n : probes) ReadAll(r, n);
    for (int32_t n = 3; n < count && n < 8; ++n) ReadAll(r, n);
    (void)r.CountAnsweredCommands();
    (void)r.AnyCommandAnswered();
    (void)r.AnyCommandHasStatus(0);
    (void)r.GetCFlag();
    (void)r.HasAnswer(0, true);

    CSipRecord copy(r);
    if (r.Document().IsObject())
        for (int32_t n : probes) CheckCopy(r, copy, n);

    // Navigation, then the writers on whatever command becomes current.
    if (r.SelectFirstAnsweredCommand()) ReadAll(r, r.Cur());
    r.FirstCommand();
    for (int i = 0; i < (shape >> 4) && r.NextCommand(); ++i) {
    }
    const uint8_t ops = in.Byte();
    if (ops & 0x01) r.SetObjectId(static_cast<uint32_t>(in.Word(4)));
    if (ops & 0x02) r.SetModuleId(0xFFFF, static_cast<uint16_t>(in.Word(2)));
    if (ops & 0x04) r.SetReplyRaw(std::vector<uint8_t>(data, data + (size < 300 ? size : 300)), 0);
    if (ops & 0x08) r.ClearData(in.Byte());
    if (ops & 0x10) r.SetCFlag(ops & 0x20);
    if (ops & 0x40) r.SetReplyUInt(static_cast<uint32_t>(in.Word(4)), 12);
    (void)r.CurrentCommand();
    r.SetStatus(in.Byte());
    r.SetCommandCI(in.Byte());
    r.SetAttachedText(u"note");
    r.SetAttachedText(r.AttachedText());
    ReadAll(r, r.Cur());
    copy.CopyFrom(r);
    ReadAll(copy, copy.Cur());
    if (ops & 0x80) r.ClearCommands();
    r.Reset();
    return 0;
}

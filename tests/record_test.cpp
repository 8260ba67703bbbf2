// Request record: skeleton, accessors on valid and hostile trees, data forms, copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "module/sip_record.h"

namespace em {
namespace {

using rapidjson::StringRef;

// Builds DA on command 0 from a callback.
template <class F>
CSipRecord WithData(F make) {
    CSipRecord r(0x0B10, 0, 0, 0, kNoStatus);
    SipValue v;
    make(v, r.Allocator());
    r.CurrentCommand().AddMember(StringRef(key::DA), v, r.Allocator());
    return r;
}

CSipRecord WithRaw(std::initializer_list<unsigned> bytes) {
    std::vector<uint8_t> b(bytes.begin(), bytes.end());
    CSipRecord r(0x0B10, 0, 0, 0, kNoStatus);
    r.SetDataRaw(r.CurrentCommand(), b.data(), b.size());
    return r;
}

std::vector<std::u16string> MemberNames(const SipValue& obj) {
    std::vector<std::u16string> names;
    for (auto m = obj.MemberBegin(); m != obj.MemberEnd(); ++m) names.emplace_back(m->name.GetString());
    return names;
}

TEST(RecordSkeleton, FreshAndFiveValueRecords) {
    CSipRecord r;
    EXPECT_EQ(r.CommandCount(), 0u);
    EXPECT_FALSE(r.FirstCommand());
    const SipValue& sip = r.Document()[key::SIP];
    EXPECT_EQ(sip[key::V].GetUint(), 1u);
    EXPECT_TRUE(sip[key::CMD].IsArray());

    CSipRecord q(0x0302, 0, 0, 7, kNoStatus);
    ASSERT_EQ(q.CommandCount(), 1u);
    EXPECT_EQ(MemberNames(q.CurrentCommand()), (std::vector<std::u16string>{u"OC", u"CA"}));
    EXPECT_EQ(q.GetCommandValue(0, key::ST, 22), 22u);

    CSipRecord full(0x0302, 4, 9, 7, 0);
    EXPECT_EQ(MemberNames(full.CurrentCommand()), (std::vector<std::u16string>{u"OC", u"OE", u"OI", u"CA", u"ST"}));
    EXPECT_EQ(full.GetCommandValue(0, key::ST, 22), 0u);
}

TEST(RecordCommands, CurrentCommandGrowsAndNavigationStaysInRange) {
    CSipRecord r;
    // NextCommand never leaves the array; CurrentCommand at index 3 appends four objects.
    EXPECT_FALSE(r.NextCommand());
    SipValue& c = r.CurrentCommand();
    EXPECT_TRUE(c.IsObject());
    EXPECT_EQ(r.CommandCount(), 1u);
    SipValue& cmd = const_cast<SipValue&>(r.CommandArray());
    cmd.PushBack(SipValue(rapidjson::kObjectType), r.Allocator());
    cmd.PushBack(SipValue(rapidjson::kObjectType), r.Allocator());
    EXPECT_TRUE(r.NextCommand());
    EXPECT_TRUE(r.NextCommand());
    EXPECT_FALSE(r.NextCommand());
    EXPECT_EQ(r.CurrentIndex(), 2u);
    EXPECT_TRUE(r.FirstCommand());
    EXPECT_EQ(r.CurrentIndex(), 0u);
}

TEST(RecordCommands, CurrentCommandAtIndexThreeOnEmptyList) {
    CSipRecord r;
    SipValue& cmd = const_cast<SipValue&>(r.CommandArray());
    for (int i = 0; i < 4; ++i) cmd.PushBack(SipValue(rapidjson::kObjectType), r.Allocator());
    while (r.NextCommand()) {
    }
    ASSERT_EQ(r.CurrentIndex(), 3u);
    cmd.Clear();  // index stays 3 while the list is emptied underneath
    r.CurrentCommand();
    EXPECT_EQ(r.CommandCount(), 4u);
}

TEST(RecordRead, MissingAndMistypedKeysReadAsDefaults) {
    CSipRecord r(0x0B10, 0, 0, 0, kNoStatus);
    SipValue& c = r.CurrentCommand();
    c.AddMember(StringRef(key::OI), SipValue(u"seven", r.Allocator()), r.Allocator());
    c.AddMember(StringRef(key::MI), SipValue(-5), r.Allocator());
    c.AddMember(StringRef(key::CI), SipValue(uint64_t{1} << 40), r.Allocator());
    EXPECT_EQ(r.GetCommandValue(0, key::OI, 0), 0u);
    EXPECT_EQ(r.GetCommandValue(0, key::MI, 0), 0u);
    EXPECT_EQ(r.GetCommandValue(0, key::CI, 3), 3u);
    EXPECT_EQ(r.GetCommandValue(-1, key::OC, 9), 9u);
    EXPECT_EQ(r.GetCommandValue(1 << 30, key::OC, 9), 9u);
    EXPECT_EQ(r.GetDataLength(0), 0u);
    EXPECT_FALSE(r.HasData(0, 0, true));

    // A command that is not an object, a CMD that is not an array, a root without SIP.
    CSipRecord bad;
    const_cast<SipValue&>(bad.CommandArray()).PushBack(SipValue(5), bad.Allocator());
    EXPECT_EQ(bad.GetCommandValue(0, key::OC, 1), 1u);
    EXPECT_EQ(bad.CountAnsweredCommands(), 0u);
    bad.Document()[key::SIP][key::CMD].SetString(u"x", bad.Allocator());
    EXPECT_EQ(bad.CommandCount(), 0u);
    EXPECT_TRUE(bad.CommandArray().IsString());
    bad.Document().SetArray();
    EXPECT_TRUE(bad.CommandArray().IsNull());
    EXPECT_EQ(&bad.CommandArray(), &CSipRecord::NullValue());
    EXPECT_FALSE(bad.AnyCommandAnswered());
    // Writers repair the skeleton rather than writing the shared null value.
    bad.SetStatus(0);
    EXPECT_EQ(bad.GetCommandValue(0, key::ST, 22), 0u);
    EXPECT_TRUE(CSipRecord::NullValue().IsNull());
}

TEST(RecordData, LengthsByForm) {
    EXPECT_EQ(WithData([](SipValue& v, auto&) { v.SetUint(0x100); }).GetDataLength(0), 2u);
    EXPECT_EQ(WithData([](SipValue& v, auto&) { v.SetUint(0xFF); }).GetDataLength(0), 1u);
    EXPECT_EQ(WithData([](SipValue& v, auto&) { v.SetUint(0x10000); }).GetDataLength(0), 4u);
    EXPECT_EQ(WithData([](SipValue& v, auto&) { v.SetUint64(1ull << 32); }).GetDataLength(0), 8u);
    EXPECT_EQ(WithData([](SipValue& v, auto&) { v.SetInt(-1); }).GetDataLength(0), 0u);
    EXPECT_EQ(WithData([](SipValue& v, auto& a) { v.SetString(u"abc", a); }).GetDataLength(0), 4u);
    EXPECT_EQ(WithData([](SipValue& v, auto&) { v.SetBool(false); }).GetDataLength(0), 1u);
    EXPECT_EQ(WithData([](SipValue& v, auto&) { v.SetNull(); }).GetDataLength(0), 0u);
    EXPECT_EQ(WithData([](SipValue& v, auto& a) {
                  v.SetArray();
                  v.PushBack(SipValue(u"ab", a), a);
                  v.PushBack(SipValue(u"c", a), a);
              }).GetDataLength(0),
              12u);
    EXPECT_EQ(WithData([](SipValue& v, auto& a) {
                  v.SetArray();
                  v.PushBack(SipValue(1u), a);
                  v.PushBack(SipValue(0x1234u), a);
                  v.PushBack(SipValue(-3), a);
              }).GetDataLength(0),
              3u);
    EXPECT_EQ(WithData([](SipValue& v, auto& a) {
                  v.SetArray();
                  v.PushBack(SipValue(true), a);
              }).GetDataLength(0),
              0u);
    EXPECT_EQ(WithRaw({1, 2, 3, 4, 5, 6, 7}).GetDataLength(0), 7u);
    EXPECT_EQ(WithData([](SipValue& v, auto&) { v.SetObject(); }).GetDataLength(0), 0u);
}

TEST(RecordData, UIntFromNumbersAndRawBytes) {
    uint32_t v = 0;
    EXPECT_TRUE(WithRaw({0x34, 0x12}).GetDataUInt(0, v));
    EXPECT_EQ(v, 0x1234u);
    EXPECT_TRUE(WithRaw({1, 2, 3}).GetDataUInt(0, v));
    EXPECT_EQ(v, 0x030201u);
    EXPECT_TRUE(WithRaw({1, 2, 3, 4, 5}).GetDataUInt(0, v));
    EXPECT_EQ(v, 0x04030201u);
    EXPECT_TRUE(WithRaw({0x1FF}).GetDataUInt(0, v));  // out-of-range byte: its low byte
    EXPECT_EQ(v, 0xFFu);
    v = 77;
    EXPECT_FALSE(WithRaw({}).GetDataUInt(0, v));
    EXPECT_FALSE(WithData([](SipValue& v, auto&) { v.SetUint64(1ull << 33); }).GetDataUInt(0, v));
    EXPECT_FALSE(WithData([](SipValue& v, auto&) { v.SetInt(-2); }).GetDataUInt(0, v));
    EXPECT_FALSE(WithData([](SipValue& v, auto& a) { v.SetString(u"5", a); }).GetDataUInt(0, v));
    EXPECT_EQ(v, 77u);  // untouched on failure
    EXPECT_TRUE(WithData([](SipValue& v, auto&) { v.SetUint(0xDEADBEEF); }).GetDataUInt(0, v));
    EXPECT_EQ(v, 0xDEADBEEFu);
}

TEST(RecordData, StringsFromTextAndRaw) {
    std::u16string t = u"old";
    // Two header bytes, then UTF-8 "Lüfter" and a NUL, then garbage.
    CSipRecord r = WithRaw({9, 9, 'L', 0xC3, 0xBC, 'f', 't', 'e', 'r', 0, 'x'});
    EXPECT_TRUE(r.GetDataString(0, t, 2));
    EXPECT_EQ(t, u"L\u00fcfter");
    EXPECT_FALSE(r.GetDataString(0, t, 11));
    EXPECT_TRUE(WithRaw({0, 'a'}).GetDataString(0, t, 0));
    EXPECT_EQ(t, u"");
    CSipRecord textFirst = WithRaw({'a', 'b'});
    textFirst.CurrentCommand()[key::DA][key::RAW][0].SetString(u"a", textFirst.Allocator());
    EXPECT_FALSE(textFirst.GetDataString(0, t, 0));  // element 0 must be a number

    CSipRecord s = WithData([](SipValue& v, auto& a) { v.SetString(u"text", a); });
    EXPECT_TRUE(s.GetDataString(0, t, 0));
    EXPECT_EQ(t, u"text");
    EXPECT_FALSE(s.GetDataString(0, t, 1));
    t = u"x";
    EXPECT_TRUE(WithData([](SipValue& v, auto&) { v.SetNull(); }).GetDataString(0, t, 0));
    EXPECT_TRUE(t.empty());
    EXPECT_FALSE(WithData([](SipValue& v, auto&) { v.SetUint(3); }).GetDataString(0, t, 0));
}

TEST(RecordData, BytesInEveryForm) {
    std::vector<uint8_t> b;
    EXPECT_TRUE(WithData([](SipValue& v, auto&) { v.SetUint(0x123456); }).GetDataBytes(0, b));
    EXPECT_EQ(b, (std::vector<uint8_t>{0x56, 0x34, 0x12, 0x00}));
    EXPECT_TRUE(WithData([](SipValue& v, auto&) { v.SetUint(7); }).GetDataBytes(0, b));
    EXPECT_EQ(b, (std::vector<uint8_t>{7}));
    EXPECT_TRUE(WithData([](SipValue& v, auto& a) { v.SetString(u"\u00e9", a); }).GetDataBytes(0, b));
    EXPECT_EQ(b, (std::vector<uint8_t>{0xC3, 0xA9, 0}));
    EXPECT_TRUE(WithData([](SipValue& v, auto& a) {
                    v.SetArray();
                    v.PushBack(SipValue(u"a", a), a);
                    v.PushBack(SipValue(u"bc", a), a);
                }).GetDataBytes(0, b));
    EXPECT_EQ(b, (std::vector<uint8_t>{'a', 0, 'b', 'c', 0, 0}));
    EXPECT_TRUE(WithRaw({1, 0x102}).GetDataBytes(0, b));
    EXPECT_EQ(b, (std::vector<uint8_t>{1, 2}));
    EXPECT_TRUE(WithData([](SipValue& v, auto&) { v.SetObject(); }).GetDataBytes(0, b));
    EXPECT_TRUE(b.empty());
    EXPECT_FALSE(WithData([](SipValue& v, auto&) { v.SetInt(-1); }).GetDataBytes(0, b));
    EXPECT_FALSE(WithData([](SipValue& v, auto&) { v.SetBool(true); }).GetDataBytes(0, b));
}

TEST(RecordData, StringListsFromArraysAndRaw) {
    std::vector<std::u16string> t{u"keep"};
    // RAW without a closing NUL: the last string is not used.
    EXPECT_TRUE(WithRaw({'a', 0, 0, 'b', 'c', 0, 0}).GetDataStringList(0, t));
    EXPECT_EQ(t, (std::vector<std::u16string>{u"a", u"", u"bc"}));
    EXPECT_TRUE(WithRaw({'a', 0, 'b'}).GetDataStringList(0, t));
    EXPECT_EQ(t, (std::vector<std::u16string>{u"a"}));
    t = {u"keep"};
    EXPECT_TRUE(WithData([](SipValue& v, auto&) { v.SetObject(); }).GetDataStringList(0, t));
    EXPECT_EQ(t, (std::vector<std::u16string>{u"keep"}));  // no RAW: left as it was
    EXPECT_FALSE(WithData([](SipValue& v, auto& a) { v.SetArray(); }).GetDataStringList(0, t));
    EXPECT_FALSE(WithData([](SipValue& v, auto& a) { v.SetString(u"x", a); }).GetDataStringList(0, t));
    CSipRecord r;
    r.CurrentCommand();
    r.SetDataStringList(r.CurrentCommand(), {u"x", u"yz"});
    EXPECT_TRUE(r.GetDataStringList(0, t));
    EXPECT_EQ(t, (std::vector<std::u16string>{u"x", u"yz"}));
    EXPECT_EQ(r.GetDataLength(0), 4u + 6u + 2u);
}

TEST(RecordStatus, HasDataAnswersAndScans) {
    EXPECT_TRUE(WithData([](SipValue& v, auto&) { v.SetUint(0x12345); }).HasData(0, 4, false));
    EXPECT_TRUE(WithData([](SipValue& v, auto&) { v.SetUint(1); }).HasData(0, 4, false));
    CSipRecord raw = WithRaw({1, 2, 3});
    EXPECT_TRUE(raw.HasData(0, 3, false));
    EXPECT_FALSE(raw.HasData(0, 4, true));
    EXPECT_TRUE(raw.HasData(0, 2, true));
    EXPECT_FALSE(raw.HasAnswer(0, true));  // ST missing reads as 22
    raw.SetStatus(12);
    EXPECT_TRUE(raw.HasAnswer(3, false));

    // ST 22, 0 with DA, 0 with DA: command 1 is the first answered one.
    CSipRecord r;
    auto& cmd = const_cast<SipValue&>(r.CommandArray());
    for (uint32_t st : {22u, 0u, 0u}) {
        SipValue c(rapidjson::kObjectType);
        r.SetUIntValue(c, key::ST, st, false);
        r.SetDataUInt(c, 1);
        cmd.PushBack(c, r.Allocator());
    }
    SipValue noData(rapidjson::kObjectType);
    r.SetUIntValue(noData, key::ST, 255, false);
    cmd.PushBack(noData, r.Allocator());
    EXPECT_EQ(r.CountAnsweredCommands(), 2u);
    EXPECT_TRUE(r.AnyCommandHasStatus(255));
    EXPECT_FALSE(r.AnyCommandHasStatus(1));
    EXPECT_TRUE(r.SelectFirstAnsweredCommand());
    EXPECT_EQ(r.CurrentIndex(), 1u);

    CSipRecord none(0x300, 0, 0, 0, 22);
    EXPECT_FALSE(none.AnyCommandAnswered());
    EXPECT_FALSE(none.SelectFirstAnsweredCommand());
    EXPECT_EQ(none.CurrentIndex(), 0u);
}

TEST(RecordWrite, RemovalMovesLastMemberAndZeroRemovesKeys) {
    CSipRecord r;
    SipValue obj(rapidjson::kObjectType);
    r.SetUIntValue(obj, key::OI, 1, false);
    r.SetUIntValue(obj, key::OC, 2, false);
    r.SetUIntValue(obj, key::CA, 3, false);
    EXPECT_TRUE(r.SetUIntValue(obj, key::OI, 0, true));
    EXPECT_EQ(MemberNames(obj), (std::vector<std::u16string>{u"CA", u"OC"}));
    EXPECT_TRUE(r.SetUIntValue(obj, key::MI, 0, true));  // absent: nothing happens
    EXPECT_EQ(obj.MemberCount(), 2u);
    SipValue notObj(5);
    EXPECT_FALSE(r.SetUIntValue(notObj, key::OI, 1, false));
    EXPECT_FALSE(r.SetDataUInt(notObj, 1));

    CSipRecord q(0x300, 0, 0, 0, kNoStatus);
    q.SetModuleId(0xFFFF, 0xFFFF);
    EXPECT_EQ(q.Value(key::MI), 0xFFFFFFFFu);
    q.SetModuleId(0);
    EXPECT_FALSE(q.CurrentCommand().HasMember(key::MI));
    q.SetReplyUInt(0, 0);
    EXPECT_EQ(q.Value(key::ST), 0u);
    EXPECT_TRUE(q.HasAnswer(1, false));
    q.SetReplyRaw({}, 19);
    EXPECT_FALSE(q.CurrentCommand().HasMember(key::DA));
    EXPECT_EQ(q.Value(key::ST), 19u);
    q.SetReplyRaw({1, 2}, 0);
    EXPECT_EQ(q.GetDataLength(0), 2u);
    q.ClearData(15);
    EXPECT_FALSE(q.CurrentCommand().HasMember(key::DA));
    q.SetCFlag(true);
    q.SetCFlag(true);
    EXPECT_TRUE(q.GetCFlag());
    q.SetCFlag(false);
    EXPECT_FALSE(q.GetCFlag());
    EXPECT_FALSE(q.Document()[key::SIP].HasMember(key::C));
}

TEST(RecordCopy, DeepAndIndependent) {
    CSipRecord src(0x0B10, 0x407, 3, 1, 0);
    src.SetDataString(src.CurrentCommand(), u"payload");
    src.SetAttachedText(u"note");
    auto& a = src.Allocator();
    SipValue nested(rapidjson::kObjectType);
    nested.AddMember(StringRef(u"neg"), SipValue(int64_t{-4}), a);
    nested.AddMember(StringRef(u"big"), SipValue(uint64_t{1} << 63), a);
    src.CurrentCommand().AddMember(StringRef(u"X"), nested, a);
    CSipRecord copy(src);
    // Change the source: the copy keeps its own strings and numbers.
    src.SetDataString(src.CurrentCommand(), u"changed");
    src.SetAttachedText(u"other");
    std::u16string t;
    EXPECT_TRUE(copy.GetDataString(0, t, 0));
    EXPECT_EQ(t, u"payload");
    EXPECT_EQ(std::u16string(copy.AttachedText()), u"note");
    EXPECT_EQ(copy.CurrentCommand()[u"X"][u"neg"].GetInt64(), -4);
    EXPECT_EQ(copy.CurrentCommand()[u"X"][u"big"].GetUint64(), uint64_t{1} << 63);

    // A source whose root is not an object: tree kept, index copied; no text keeps our own.
    CSipRecord odd;
    const_cast<SipValue&>(odd.CommandArray()).PushBack(SipValue(rapidjson::kObjectType), odd.Allocator());
    const_cast<SipValue&>(odd.CommandArray()).PushBack(SipValue(rapidjson::kObjectType), odd.Allocator());
    odd.NextCommand();
    odd.Document().SetArray();
    copy.CopyFrom(odd);
    EXPECT_EQ(copy.CurrentIndex(), 1u);
    EXPECT_TRUE(copy.GetDataString(0, t, 0));
    EXPECT_EQ(std::u16string(copy.AttachedText()), u"note");
    copy.CopyFrom(copy);  // self-copy is harmless
    EXPECT_EQ(copy.CommandCount(), 1u);
    // The record's own text, or a tail of it, given back to it.
    copy.SetAttachedText(copy.AttachedText());
    EXPECT_EQ(std::u16string(copy.AttachedText()), u"note");
    copy.SetAttachedText(copy.AttachedText() + 2);
    EXPECT_EQ(std::u16string(copy.AttachedText()), u"te");
    copy.Reset();
    EXPECT_EQ(copy.AttachedText(), nullptr);
}

TEST(RecordAllocator, GrownTailIsZeroAfterAnyEarlierShrink) {
    CProcessHeapAllocator heap;
    auto* p = static_cast<uint8_t*>(heap.Malloc(100));
    ASSERT_NE(p, nullptr);
    std::memset(p, 0xFF, 100);
    // Shrink, then grow in steps and at once: only the first 10 bytes survive, the rest is zero.
    for (size_t grown : {11u, 24u, 200u, 5000u}) {
        p = static_cast<uint8_t*>(heap.Realloc(p, 0, 10));
        ASSERT_NE(p, nullptr);
        p = static_cast<uint8_t*>(heap.Realloc(p, 10, grown));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(std::count(p, p + 10, 0xFF), 10);
        EXPECT_EQ(std::count(p + 10, p + grown, 0), static_cast<long>(grown - 10)) << grown;
        std::memset(p + 10, 0xFF, grown - 10);
    }
    CProcessHeapAllocator::Free(p);
}

}  // namespace
}  // namespace em

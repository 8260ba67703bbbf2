// Request record: data in every form, hostile trees, scans over replies, writers, copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "host/lib/substitute_host.h"
#include "module/sip_record.h"

namespace em {
namespace {

using Bytes = std::vector<uint8_t>;
using Texts = std::vector<std::u16string>;

// A record whose tree is the given JSON text.
CSipRecord Tree(const std::string& json) {
    CSipRecord r;
    r.Document().Parse<rapidjson::kParseDefaultFlags, rapidjson::UTF8<>>(json.c_str());
    EXPECT_FALSE(r.Document().HasParseError()) << json;
    return r;
}
CSipRecord Commands(const std::string& cmds) { return Tree(R"({"SIP":{"V":1,"CMD":[)" + cmds + "]}}"); }
CSipRecord Da(const std::string& da) { return Commands(R"({"OC":1,"ST":0,"DA":)" + da + "}"); }

// Every reading of DA in every form it can take, from hosts and lower modules alike.
TEST(Record, DataReadInEveryForm) {
    struct Row {
        const char* da;
        uint64_t length;
        std::optional<uint32_t> number;
        std::optional<Bytes> bytes;
        std::optional<std::u16string> text;
        std::optional<Texts> list;  // read over {"keep"}
    } rows[] = {
        {"255", 1, 255, Bytes{255}, {}, {}},
        {"256", 2, 256, Bytes{0, 1}, {}, {}},
        {"65535", 2, 65535, Bytes{255, 255}, {}, {}},
        {"65536", 4, 65536, Bytes{0, 0, 1, 0}, {}, {}},
        {"4294967295", 4, 0xFFFFFFFF, Bytes{255, 255, 255, 255}, {}, {}},
        {"4294967296", 8, {}, Bytes{0, 0, 0, 0, 1, 0, 0, 0}, {}, {}},
        {"-1", 0, {}, {}, {}, {}},
        {"true", 1, {}, {}, {}, {}},
        {"null", 0, {}, {}, u"", {}},
        {R"("L\u00fc")", 3, {}, Bytes{'L', 0xC3, 0xBC, 0}, u"L\u00fc", {}},
        {R"(["ab","c"])", 12, {}, Bytes{'a', 'b', 0, 'c', 0, 0}, {}, Texts{u"ab", u"c"}},
        {R"(["a",5])", 6, {}, Bytes{'a', 0, 0}, {}, Texts{u"a", u""}},
        {"[1,4660,-3]", 3, {}, Bytes{}, {}, {}},
        {"[]", 0, {}, Bytes{}, {}, {}},
        {"[true]", 0, {}, Bytes{}, {}, {}},
        {R"({"RAW":[52,18]})", 2, 0x1234, Bytes{52, 18}, u"4\x12", Texts{}},
        {R"({"RAW":[1,2,3]})", 3, 0x030201, Bytes{1, 2, 3}, u"\x01\x02\x03", Texts{}},
        {R"({"RAW":[1,2,3,4,5]})", 5, 0x04030201, Bytes{1, 2, 3, 4, 5}, u"\x01\x02\x03\x04\x05", Texts{}},
        {R"({"RAW":[511,-1]})", 2, 0xFFFF, Bytes{255, 255}, u"\xFFFD\xFFFD", Texts{}},
        {R"({"RAW":[97,0,0,98,99,0,0]})", 7, 0x62000061, Bytes{97, 0, 0, 98, 99, 0, 0}, u"a", Texts{u"a", u"", u"bc"}},
        {R"({"RAW":[97,0,98]})", 3, 0x620061, Bytes{97, 0, 98}, u"a", Texts{u"a"}},
        {R"({"RAW":["a",98]})", 2, 0x6200, Bytes{}, {}, Texts{}},
        {R"({"RAW":[]})", 0, {}, Bytes{}, {}, Texts{}},
        {R"({"RAW":5})", 0, {}, Bytes{}, {}, Texts{}},
        {"{}", 0, {}, Bytes{}, {}, Texts{u"keep"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.da);
        CSipRecord r = Da(row.da);
        EXPECT_EQ(r.GetDataLength(0), row.length);
        uint32_t v = 77;
        EXPECT_EQ(r.GetDataUInt(0, v), row.number.has_value());
        EXPECT_EQ(v, row.number.value_or(77));
        Bytes b{9};
        std::u16string t = u"old";
        Texts l{u"keep"};
        EXPECT_EQ(r.GetDataBytes(0, b), row.bytes.has_value());
        EXPECT_EQ(r.GetDataString(0, t, 0), row.text.has_value());
        EXPECT_EQ(r.GetDataStringList(0, l), row.list.has_value());
        // A failed read leaves its output as it was, except that an object DA clears the text and
        // an array DA the list.
        EXPECT_EQ(b, row.bytes.value_or(Bytes{9}));
        EXPECT_EQ(t, row.text.value_or(row.da[0] == '{' ? u"" : u"old"));
        EXPECT_EQ(l, row.list.value_or(row.da[0] == '[' ? Texts{} : Texts{u"keep"}));
        EXPECT_TRUE(r.HasData(0, 0, false));
    }
    std::u16string t;
    EXPECT_TRUE(Da(R"({"RAW":[9,9,76,195,188,0,120]})").GetDataString(0, t, 2));  // UTF-8 after a header
    EXPECT_EQ(t, u"L\u00fc");
    EXPECT_FALSE(Da(R"({"RAW":[9,9]})").GetDataString(0, t, 2));
    EXPECT_FALSE(Da(R"("text")").GetDataString(0, t, 1));
}

TEST(Record, HostileTreesReadAsDefaultsAndAreRepairedByWriters) {
    CSipRecord r = Commands(R"({"OC":"x","OI":-5,"CI":1099511627776,"MI":3}, 5, {"OC":2})");
    for (auto k : {key::OC, key::OI, key::CI}) EXPECT_EQ(r.GetCommandValue(0, k, 9), 9u);  // mistyped
    EXPECT_EQ(std::pair(r.GetCommandValue(0, key::MI, 9), r.GetCommandValue(2, key::OC, 9)), std::pair(3u, 2u));
    for (int32_t n : {-1, 1, 3, 1 << 30}) EXPECT_EQ(r.GetCommandValue(n, key::OC, 9), 9u) << n;
    EXPECT_FALSE(r.HasData(1, 0, false) || r.GetDataLength(1));
    std::u16string t;
    Bytes bytes;
    Texts list;
    uint32_t v = 0;
    EXPECT_FALSE(r.GetDataString(2, t, 0) || r.GetDataBytes(2, bytes) || r.GetDataStringList(2, list) || r.GetDataUInt(2, v));

    for (const char* json : {R"({"SIP":{"CMD":"x"}})", R"({"SIP":{}})", R"({"SIP":5})", "{}", "[1]"}) {
        CSipRecord bad = Tree(json);
        EXPECT_EQ(bad.CommandCount(), 0u) << json;
        EXPECT_FALSE(bad.CountAnsweredCommands() || bad.AnyCommandAnswered() || bad.AnyCommandHasStatus(22) ||
                     bad.SelectFirstAnsweredCommand() || bad.FirstCommand() || bad.GetCFlag());
        bad.SetStatus(0);  // the writer builds the skeleton it needs
        EXPECT_EQ(std::pair(bad.CommandCount(), bad.GetCommandValue(0, key::ST, 22)), std::pair(1u, 0u)) << json;
        EXPECT_TRUE(CSipRecord::NullValue().IsNull());
    }
    CSipRecord c = Tree(R"({"SIP":{"C":1}})");
    EXPECT_FALSE(c.GetCFlag());  // only true marks
    c.SetCFlag(true);
    EXPECT_TRUE(c.GetCFlag());
}

TEST(Record, RepliesAreFinalStatusesWithData) {
    CSipRecord r = Commands(R"({"ST":22,"DA":1}, 7, {"ST":"0","DA":1}, {"ST":12,"DA":1}, {"ST":21}, {"ST":255,"DA":2})");
    EXPECT_EQ(r.CountAnsweredCommands(), 2u);
    EXPECT_TRUE(r.AnyCommandAnswered() && r.AnyCommandHasStatus(21) && !r.AnyCommandHasStatus(0));
    EXPECT_TRUE(r.SelectFirstAnsweredCommand() && r.HasAnswer(1, false));
    EXPECT_EQ(r.CurrentIndex(), 3u);
    for (uint32_t st : {0u, 0x0Cu, 0x15u, 0xFFu}) EXPECT_TRUE(Commands(R"({"ST":)" + std::to_string(st) + "}").AnyCommandAnswered());
    CSipRecord none = Commands(R"({"ST":22,"DA":1},{"ST":1,"DA":1},{"DA":1})");
    EXPECT_FALSE(none.AnyCommandAnswered() || none.SelectFirstAnsweredCommand());
    CSipRecord half = Commands(R"({"ST":0},{"DA":1})");  // a status without data, data without a status
    EXPECT_FALSE(half.CountAnsweredCommands() || half.SelectFirstAnsweredCommand());
    CSipRecord raw = Da(R"({"RAW":[1,2,3]})");
    EXPECT_TRUE(raw.HasData(0, 3, false) && raw.HasData(0, 2, true));
    EXPECT_FALSE(raw.HasData(0, 2, false) || raw.HasData(0, 4, true));
    EXPECT_TRUE(Da("70000").HasData(0, 9, false));  // a number has any length asked for
}

TEST(Record, WritersSetRemoveAndMoveMembers) {
    CSipRecord r;
    SipValue notObj(5);
    EXPECT_FALSE(r.SetUIntValue(notObj, key::OI, 1, false) || r.SetDataUInt(notObj, 1) || r.SetDataString(notObj, u"") ||
                 r.SetDataStringList(notObj, {}) || r.SetDataRaw(notObj, nullptr, 0));

    CSipRecord q(0x300, 0, 0, 0, kNoStatus);
    auto json = [&] { return host::RecordToJson(q).substr(20); };  // after {"SIP":{"V":1,"CMD":
    q.SetModuleId(0x8001, 0xFFFE);
    q.SetObjectId(4);
    q.SetReplyUInt(0, 0);
    q.SetCFlag(true);
    q.SetCFlag(true);
    EXPECT_EQ(json(), R"([{"OC":768,"CA":0,"MI":2147614718,"OI":4,"DA":0,"ST":0}],"C":true}})");
    q.SetModuleId(0);
    q.SetObjectId(0);
    q.SetReplyRaw({}, 19);
    q.SetCFlag(false);
    EXPECT_EQ(json(), R"([{"OC":768,"CA":0,"ST":19}]}})");
    q.SetReplyRaw({1, 2}, 0);
    EXPECT_EQ(json(), R"([{"OC":768,"CA":0,"ST":0,"DA":{"RAW":[1,2]}}]}})");
    q.ClearData(15);
    EXPECT_TRUE(q.SetDataString(q.CurrentCommand(), nullptr) && q.SetDataStringList(q.CurrentCommand(), {u"x", u"yz"}));
    EXPECT_EQ(json(), R"([{"OC":768,"CA":0,"ST":15,"DA":["x","yz"]}]}})");
    q.SetCommandAddress(q.CurrentCommand(), 1, 2, 0, 3, 22);  // a new address replaces the command
    EXPECT_EQ(json(), R"([{"OC":1,"OE":2,"CA":3,"ST":22}]}})");

    CSipRecord to, from = Commands(R"({"OC":1},{"OC":2})");
    EXPECT_TRUE(to.MoveCommandFrom(from, 1));
    EXPECT_FALSE(to.MoveCommandFrom(from, 2) || to.MoveCommandFrom(from, -1) || to.MoveCommandFrom(to, 0));
    EXPECT_EQ(host::RecordToJson(to), R"({"SIP":{"V":1,"CMD":[{"OC":2}]}})");
}

TEST(Record, CopiesAreDeepAndIndependent) {
    const std::string tree =
        R"({"SIP":{"V":1,"CMD":[{"OC":1},{"OC":16,"DA":"payload","X":{"neg":-4,"big":9223372036854775808,"d":0.5,"t":true,"f":false,"n":null,"a":[1]}}]}})";
    CSipRecord src = Tree(tree);
    src.NextCommand();
    src.SetAttachedText(u"note");
    CSipRecord copy(src);
    src.SetDataString(src.CurrentCommand(), u"changed");
    src.SetAttachedText(u"other");
    EXPECT_EQ(host::RecordToJson(copy), tree);
    EXPECT_EQ(copy.CurrentIndex(), 1u);
    EXPECT_EQ(std::u16string(copy.AttachedText()), u"note");

    // A root that is not an object: our tree stays, the index is taken; no text keeps our own.
    copy.CopyFrom(Tree("[1]"));
    EXPECT_EQ(copy.CurrentIndex(), 0u);
    EXPECT_EQ(host::RecordToJson(copy), tree);
    EXPECT_EQ(std::u16string(copy.AttachedText()), u"note");
    copy.SetAttachedText(copy.AttachedText() + 2);  // a tail of its own text
    EXPECT_EQ(std::u16string(copy.AttachedText()), u"te");
    copy.Reset();
    EXPECT_EQ(copy.AttachedText(), nullptr);
    EXPECT_EQ(copy.CommandCount(), 0u);

    // Nesting beyond the copy's depth limit arrives as null, the levels above it whole.
    for (auto [depth, kept] : {std::pair{511, "7"}, {512, "null"}}) {
        CSipRecord deep;
        auto nested = [levels = depth](const char* inner) { return std::string(levels, '[') + inner + std::string(levels, ']'); };
        deep.Document().Parse<rapidjson::kParseDefaultFlags, rapidjson::UTF8<>>(("{\"DA\":" + nested("7") + "}").c_str());
        EXPECT_EQ(host::RecordToJson(CSipRecord(deep)), "{\"DA\":" + nested(kept) + "}") << depth;
    }
}

TEST(Record, GrownAllocationsAreZeroBeyondTheKeptBytes) {
    CProcessHeapAllocator heap;
    auto* p = static_cast<uint8_t*>(heap.Malloc(100));
    ASSERT_NE(p, nullptr);
    std::memset(p, 0xFF, 100);
    for (size_t grown : {11u, 24u, 200u, 5000u}) {
        p = static_cast<uint8_t*>(heap.Realloc(p, 0, 10));
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

// OID map table: one numbering across modules, the count-opcode rules and log-entry object indexes.
#include <gtest/gtest.h>

#include "mapping/oid_map_table.h"
#include "module/sip_record.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

constexpr uint32_t kModA = 0x00010001, kModB = 0x00028001;

void AddModule(COidMapTable& t, uint32_t oc, uint32_t oe, uint32_t cabinet, uint32_t mi, uint32_t n) {
    CSipRecord reply(oc, oe, 0, cabinet, 0);
    reply.SetModuleId(mi);
    for (uint32_t i = 0; i < n; ++i) ASSERT_TRUE(t.AddInstanceMapping(reply, i));
}

// An old-style log entry: group, word count, object index.
std::vector<uint8_t> Entry(uint8_t group, uint8_t words, uint16_t oid, uint8_t flags = 0x80) {
    std::vector<uint8_t> e(12, 0);
    e[0] = flags;
    e[1] = group;
    e[3] = words;
    e[10] = static_cast<uint8_t>(oid);
    e[11] = static_cast<uint8_t>(oid >> 8);
    // A text entry (group 0x3F, byte 0 clear) may run past 16 words.
    if (words >= 1 && (words <= 16 || (group == 0x3F && flags == 0))) e.resize(12 + 4 * (words - 1), 0xEE);
    return e;
}

CSipRecord LogReply(const std::vector<std::vector<uint8_t>>& entries, uint32_t mi, uint32_t ca = 0, size_t cut = 0) {
    std::vector<uint8_t> all;
    for (const auto& e : entries) all.insert(all.end(), e.begin(), e.end());
    all.resize(all.size() - cut);
    CSipRecord r(0x0B02, 0, 0, ca, kNoStatus);
    r.SetModuleId(mi);
    r.SetReplyRaw(all, 0);
    return r;
}

uint16_t OidAt(const CSipRecord& r, size_t offset) {
    std::vector<uint8_t> b;
    r.GetDataBytes(0, b);
    return static_cast<uint16_t>(b[offset + 10] | (b[offset + 11] << 8));
}

// The count keys, and every object that is addressed through one of them: by opcode (extension
// 0), by configuration-space value (0xE001/0xE002), by opcode extension (0x0C00/0x0C01) or by the
// error-code group of a log entry.
const std::pair<uint32_t, uint32_t> kKeys[] = {{0x0300, 0}, {0x0400, 0},    {0x0500, 0},   {0x0520, 0},
                                               {0xF041, 0}, {0x0C21, 0x05}, {0x0C21, 0x1C}};
enum By { Opcode, ConfigValue, Extension, LogGroup };
struct Target {
    int key;  // index into kKeys
    By by;
    uint32_t value;
};
const Target kTargets[] = {
    {0, Opcode, 0x0301},      {0, Opcode, 0x0302},      {0, Opcode, 0x0303},      {0, Opcode, 0x0313},
    {0, Opcode, 0x0314},      {0, Opcode, 0x0304},      {0, Opcode, 0x0305},      {1, Opcode, 0x0401},
    {1, Opcode, 0x0402},      {1, Opcode, 0x0403},      {1, Opcode, 0x0404},      {2, Opcode, 0x0501},
    {2, Opcode, 0x0504},      {3, Opcode, 0x0521},      {3, Opcode, 0x0522},      {3, Opcode, 0x0523},
    {3, Opcode, 0x0524},      {3, Opcode, 0x0525},      {3, Opcode, 0x0526},      {3, Opcode, 0x0527},
    {4, Opcode, 0xF042},      {4, Opcode, 0xF043},      {4, Opcode, 0xF044},      {4, Opcode, 0xF045},
    {5, Extension, 0x0508},   {5, Extension, 0x0506},   {6, Extension, 0x1C06},   {6, Extension, 0x1C03},
    {6, Extension, 0x1C0A},   {6, Extension, 0x1C08},   {6, Extension, 0x1C0E},   {6, Extension, 0x1C0F},
    {0, ConfigValue, 0x71},   {0, ConfigValue, 0x72},   {1, ConfigValue, 0x73},   {1, ConfigValue, 0x90},
    {1, ConfigValue, 0x91},   {0, LogGroup, 0x04},      {1, LogGroup, 0x05},      {1, LogGroup, 0x10},
    {3, LogGroup, 0x15},
};

TEST(OidMapRules, EveryTargetIsTranslatedThroughItsOwnCountKey) {
    // In cabinet 3, key k has k + 1 objects on module A and 8 on module B: global index k + 1 is
    // B's object 0 for that key only, so a target tied to another key lands elsewhere.
    COidMapTable t;
    for (uint32_t k = 0; k < 7; ++k) {
        AddModule(t, kKeys[k].first, kKeys[k].second, 3, kModA, k + 1);
        AddModule(t, kKeys[k].first, kKeys[k].second, 3, kModB, 8);
    }
    int n = 0;
    for (const Target& x : kTargets) {
        SCOPED_TRACE(::testing::Message() << std::hex << x.value);
        const uint32_t global = static_cast<uint32_t>(x.key) + 1;
        if (x.by != Opcode) {  // opcode 0 with the value as extension finds the row as well
            CSipRecord zero(0, x.value, global, 3, kNoStatus);
            EXPECT_TRUE(t.TranslateOids(zero, true));
            EXPECT_EQ(zero.Value(key::MI), kModB);
        }
        if (x.by == LogGroup) {
            CSipRecord log = LogReply({Entry(static_cast<uint8_t>(x.value), 1, 0)}, kModB, 3);
            EXPECT_TRUE(t.TranslateOids(log, true));
            EXPECT_EQ(OidAt(log, 0), global);
            continue;
        }
        const uint32_t oc = x.by == Opcode ? x.value : x.by == ConfigValue ? 0xE001 + n % 2 : 0x0C00 + n % 2;
        ++n;
        CSipRecord r(oc, x.by == Opcode ? 0 : x.value, global, 3, kNoStatus);
        EXPECT_TRUE(t.TranslateOids(r, true));
        EXPECT_EQ(r.Value(key::MI), kModB);
        EXPECT_FALSE(r.CurrentCommand().HasMember(key::OI));  // B's object 0: OI removed
        r.SetReplyUInt(1, 0);
        EXPECT_TRUE(t.TranslateOids(r, true));
        EXPECT_EQ(r.Value(key::OI), global);
    }
    // Each way of matching looks at its own rows only.
    for (auto [oc, oe] : {std::pair<uint32_t, uint32_t>{0xE001, 0}, {0xE001, 0x0011}, {0xE002, 0x0508},
                          {0x0C00, 0}, {0x0C01, 0x0509}, {0x0C00, 0x71}, {0x0306, 0}, {0x0301, 1},
                          {0x0C00, 0x1C05}, {0x0C00, 0x1C07}, {0x0C01, 0x0C06}}) {  // 0x1C06 stands twice
        CSipRecord r(oc, oe, 1, 3, kNoStatus);
        EXPECT_FALSE(t.TranslateOids(r, true)) << std::hex << oc << " " << oe;
    }
    for (uint8_t group : {0x00, 0x01, 0x06, 0x11, 0x14}) {
        CSipRecord log = LogReply({Entry(group, 1, 0)}, kModB, 3);
        EXPECT_FALSE(t.TranslateOids(log, true)) << int{group};
    }
}

// The example server: 2 + 3 objects of kind 0x0300 in cabinet 0.
class OidMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        AddModule(t, 0x0300, 0, 0, kModA, 2);
        AddModule(t, 0x0300, 0, 0, kModB, 3);
    }
    COidMapTable t;
};

TEST_F(OidMapTest, RequestGoesDownReplyComesBackGlobalAndCountsAreAnswered) {
    CSipRecord req(0x0302, 0, 3, 0, kNoStatus);
    EXPECT_TRUE(t.TranslateOids(req, true));
    EXPECT_EQ(std::pair(req.Value(key::MI), req.Value(key::OI)), std::pair(kModB, 1u));
    req.SetReplyUInt(99, 0);
    EXPECT_TRUE(t.TranslateOids(req, true));
    EXPECT_EQ(std::pair(req.Value(key::MI), req.Value(key::OI)), std::pair(kModB, 3u));

    // Beyond the count, an unknown reply: left as they are.
    CSipRecord beyond(0x0302, 0, 5, 0, kNoStatus);
    EXPECT_FALSE(t.TranslateOids(beyond, true));
    for (auto [oi, mi] : {std::pair<uint32_t, uint32_t>{7, kModB}, {1, 0x00038001}}) {
        CSipRecord reply(0x0302, 0, oi, 0, 0);
        reply.SetModuleId(mi);
        EXPECT_FALSE(t.TranslateOids(reply, true)) << oi;
    }

    // Count requests are answered with the low byte of the total.
    AddModule(t, 0x0400, 0, 0, kModA, 200);
    AddModule(t, 0x0400, 0, 0, kModB, 191);
    CSipRecord big(0x0400, 0, 0, 0, kNoStatus);
    EXPECT_TRUE(t.TranslateOids(big, true));
    EXPECT_EQ(std::pair(big.Value(key::DA), big.Value(key::ST)), std::pair(391u & 0xFF, 0u));
    CSipRecord last(0x0402, 0, 390, 0, kNoStatus);  // items beyond the first slots kept their order
    EXPECT_TRUE(t.TranslateOids(last, true));
    EXPECT_EQ(last.Value(key::OI), 190u);
    CSipRecord none(0x0C21, 0x1C, 0, 0, kNoStatus);  // no such count key: not answered
    EXPECT_FALSE(t.TranslateOids(none, true));

    // Every module id and instance is an item of its own (key 0x0400 in cabinet 2).
    const std::pair<uint32_t, uint32_t> items[] = {{0, 0x80000000}, {1, 0}, {0x80000001, 0}, {0xFFFF0000, 0xFFFFFFFF}};
    for (auto [mi, instance] : items) {
        CSipRecord reply(0x0400, 0, 0, 2, 0);
        reply.SetModuleId(mi);
        ASSERT_TRUE(t.AddInstanceMapping(reply, instance));
    }
    for (uint32_t position = 0; position < 4; ++position) {
        CSipRecord r(0x0403, 0, items[position].second, 2, 0);
        r.SetModuleId(items[position].first);
        EXPECT_TRUE(t.TranslateOids(r, true)) << position;
        EXPECT_EQ(r.Value(key::OI), position);
    }
}

TEST_F(OidMapTest, LogEntriesArePatchedByErrorGroupWalkedByTheirLengthAndTraced) {
    // Group 0x04 maps through count opcode 0x0300: module B's instance 2 is global 4.
    CSipRecord r = LogReply({Entry(0x04, 3, 2), Entry(0x3F, 2, 2, 0), Entry(0x04, 0, 1), Entry(0x04, 17, 0),
                             Entry(0x09, 1, 2), Entry(0x04, 1, 1)}, kModB);
    EXPECT_TRUE(t.TranslateOids(r, true));
    EXPECT_EQ(OidAt(r, 0), 4u);
    EXPECT_EQ(OidAt(r, 20), 2u);  // text entry of 16 bytes: never patched
    EXPECT_EQ(OidAt(r, 36), 3u);  // word count 0 occupies 12 bytes
    EXPECT_EQ(OidAt(r, 48), 2u);  // word count 17 occupies 12 bytes as well
    EXPECT_EQ(OidAt(r, 60), 2u);  // group without a rule
    EXPECT_EQ(OidAt(r, 72), 3u);

    // A cut last entry ends the walk unpatched; the rest is patched and the length kept.
    CSipRecord cut = LogReply({Entry(0x04, 2, 1), Entry(0x04, 1, 1)}, kModB, 0, 4);
    EXPECT_TRUE(t.PatchLogEntryOids(cut));
    EXPECT_EQ(OidAt(cut, 0), 3u);
    std::vector<uint8_t> b;
    cut.GetDataBytes(0, b);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 16, b.end()), (std::vector<uint8_t>{0x80, 0x04, 0, 1, 0, 0, 0, 0}));

    // A rule that matches without finding an item still counts.
    CSipRecord otherCabinet = LogReply({Entry(0x04, 1, 1)}, kModB, 5);
    EXPECT_TRUE(t.PatchLogEntryOids(otherCabinet));
    EXPECT_EQ(OidAt(otherCabinet, 0), 1u);

    for (CSipRecord bad : {LogReply({Entry(0x09, 1, 0)}, kModB), LogReply({Entry(0x04, 1, 1)}, kModB, 0, 1)})
        EXPECT_FALSE(t.PatchLogEntryOids(bad));
    CSipRecord unanswered = LogReply({Entry(0x04, 1, 1)}, kModB);
    unanswered.SetStatus(22);
    EXPECT_FALSE(t.PatchLogEntryOids(unanswered));

    // Traced, the items are compared one by one, up to the hit or all five, to the same result.
    test::TraceCapture trace(3);
    CSipRecord three = LogReply({Entry(0x04, 1, 1), Entry(0x04, 1, 0), Entry(0x04, 1, 7)}, kModB);
    EXPECT_TRUE(t.PatchLogEntryOids(three));
    EXPECT_EQ(trace.Count("Compare map table values:"), 4u + 3u + 5u);
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : Messag log reply OID patched from 0x0001 to 0x0003"));
    EXPECT_EQ(std::tuple(OidAt(three, 0), OidAt(three, 12), OidAt(three, 24)), std::tuple(3u, 2u, 7u));
    // Without a hit the data stays as it came, not even rewritten in the same bytes.
    CSipRecord missed = LogReply({Entry(0x04, 1, 7)}, kModB);
    missed.CurrentCommand()[key::DA][key::RAW][0].SetUint(0x180);
    EXPECT_TRUE(t.PatchLogEntryOids(missed));
    EXPECT_EQ(missed.CurrentCommand()[key::DA][key::RAW][0].GetUint(), 0x180u);
}

}  // namespace
}  // namespace em

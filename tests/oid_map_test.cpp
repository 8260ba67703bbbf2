// OID map table: numbering across modules, translation both ways, rules, log entry patches.
#include <gtest/gtest.h>

#include "mapping/oid_map_table.h"
#include "module/sip_record.h"
#include "tests/support/trace_capture.h"

namespace em {
namespace {

constexpr uint32_t kModA = 0x00010001, kModB = 0x00020001;

// Adds n instances answered by module mi for a count opcode in a cabinet.
void AddModule(COidMapTable& t, uint32_t oc, uint32_t oe, uint32_t cabinet, uint32_t mi, uint32_t n) {
    CSipRecord reply(oc, oe, 0, cabinet, 0);
    reply.SetModuleId(mi);
    for (uint32_t i = 0; i < n; ++i) ASSERT_TRUE(t.AddInstanceMapping(reply, i));
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

TEST_F(OidMapTest, RequestGoesDownToTheOwningModuleAndReplyComesBackGlobal) {
    CSipRecord req(0x0302, 0, 3, 0, kNoStatus);
    EXPECT_TRUE(t.TranslateOids(req, true));
    EXPECT_EQ(req.Value(key::MI), kModB);
    EXPECT_EQ(req.Value(key::OI), 1u);

    req.SetReplyUInt(99, 0);  // the module answers with its own numbering
    EXPECT_TRUE(t.TranslateOids(req, true));
    EXPECT_EQ(req.Value(key::OI), 3u);
    EXPECT_EQ(req.Value(key::MI), kModB);

    // Global index 0 maps to instance 0 of module A: OI is then removed, not stored as 0.
    CSipRecord first(0x0301, 0, 0, 0, kNoStatus);
    EXPECT_TRUE(t.TranslateOids(first, true));
    EXPECT_EQ(first.Value(key::MI), kModA);
    EXPECT_FALSE(first.CurrentCommand().HasMember(key::OI));

    CSipRecord beyond(0x0302, 0, 5, 0, kNoStatus);
    EXPECT_FALSE(t.TranslateOids(beyond, true));
    EXPECT_FALSE(beyond.CurrentCommand().HasMember(key::MI));
    CSipRecord otherCabinet(0x0302, 0, 1, 4, kNoStatus);
    EXPECT_FALSE(t.TranslateOids(otherCabinet, true));
    CSipRecord unknownReply(0x0302, 0, 7, 0, 0);
    unknownReply.SetModuleId(kModB);
    EXPECT_FALSE(t.TranslateOids(unknownReply, true));
    EXPECT_EQ(unknownReply.Value(key::OI), 7u);
}

TEST_F(OidMapTest, CountRequestsAreAnsweredWithTheTotal) {
    CSipRecord count(0x0300, 0, 0, 0, kNoStatus);
    EXPECT_TRUE(t.TranslateOids(count, true));
    EXPECT_EQ(count.Value(key::ST), 0u);
    uint32_t v = 0;
    EXPECT_TRUE(count.GetDataUInt(0, v));
    EXPECT_EQ(v, 5u);
    EXPECT_EQ(count.GetDataLength(0), 1u);
    // Nothing is translated when mapping is not needed, count requests included.
    CSipRecord off(0x0300, 0, 0, 0, kNoStatus);
    EXPECT_FALSE(t.TranslateOids(off, false));
    EXPECT_FALSE(off.CurrentCommand().HasMember(key::ST));

    AddModule(t, 0x0400, 0, 0, kModA, 200);
    AddModule(t, 0x0400, 0, 0, kModB, 100);
    CSipRecord big(0x0400, 0, 0, 0, kNoStatus);
    EXPECT_TRUE(t.TranslateOids(big, true));
    EXPECT_TRUE(big.GetDataUInt(0, v));
    EXPECT_EQ(v, 300u & 0xFF);
    EXPECT_EQ(t.EntryAt(1)->capacity, 512u);  // 16 doubled until 300 fit
}

TEST_F(OidMapTest, ConfigurationValueAndExtensionGroupRules) {
    AddModule(t, 0x0400, 0, 0, kModA, 1);
    AddModule(t, 0x0400, 0, 0, kModB, 1);
    CSipRecord cfg(0xE001, 0x0091, 1, 0, kNoStatus);
    EXPECT_TRUE(t.TranslateOids(cfg, true));
    EXPECT_EQ(cfg.Value(key::MI), kModB);
    CSipRecord noRule(0xE001, 0x0011, 1, 0, kNoStatus);
    EXPECT_FALSE(t.TranslateOids(noRule, true));

    // 0x0C00 with extension 0x0508 uses the count key (0x0C21, 0x05).
    AddModule(t, 0x0C21, 0x05, 0, kModA, 1);
    AddModule(t, 0x0C21, 0x05, 0, kModB, 2);
    CSipRecord grp(0x0C00, 0x0508, 2, 0, kNoStatus);
    EXPECT_TRUE(t.TranslateOids(grp, true));
    EXPECT_EQ(grp.Value(key::MI), kModB);
    EXPECT_EQ(grp.Value(key::OI), 1u);
    CSipRecord grpNone(0x0C01, 0x0509, 0, 0, kNoStatus);
    EXPECT_FALSE(t.TranslateOids(grpNone, true));
    // 0x0C21 is only ever answered as a count.
    CSipRecord cnt(0x0C21, 0x05, 0, 0, kNoStatus);
    EXPECT_TRUE(t.TranslateOids(cnt, true));
    uint32_t v = 0;
    EXPECT_TRUE(cnt.GetDataUInt(0, v));
    EXPECT_EQ(v, 3u);
    CSipRecord cntNone(0x0C21, 0x1C, 0, 0, kNoStatus);
    EXPECT_FALSE(t.TranslateOids(cntNone, true));
}

TEST(OidMapRules, TableShape) {
    EXPECT_EQ(MappingRules[42].kind, 0xFFFFFFFFu);
    EXPECT_EQ(MappingRules[41].kind, static_cast<uint32_t>(RuleByLogErrorGroup));
    EXPECT_EQ(MappingRules[41].targetOpcodeExt, 0x15u);
    EXPECT_EQ(MappingRules[19].targetOpcode, 0x0527u);
    EXPECT_EQ(MappingRules[27].targetOpcodeExt, 0x1C06u);
    EXPECT_EQ(MappingRules[26].targetOpcodeExt, 0x1C06u);
    size_t distinct = 0;
    for (size_t i = 0; i < kMappingRuleCount; ++i) {
        bool seen = false;
        for (size_t j = 0; j < i; ++j)
            seen |= MappingRules[j].countOpcode == MappingRules[i].countOpcode &&
                    MappingRules[j].countOpcodeExt == MappingRules[i].countOpcodeExt;
        distinct += !seen;
    }
    EXPECT_EQ(distinct, 7u);
}

// An old-style entry: group, word count, object index.
std::vector<uint8_t> Entry(uint8_t group, uint8_t words, uint16_t oid, uint8_t flags = 0x80) {
    std::vector<uint8_t> e(12, 0);
    e[0] = flags;
    e[1] = group;
    e[3] = words;
    e[10] = static_cast<uint8_t>(oid);
    e[11] = static_cast<uint8_t>(oid >> 8);
    if (words >= 1 && words <= 16) e.resize(12 + 4 * (words - 1), 0xEE);
    return e;
}

CSipRecord LogReply(const std::vector<std::vector<uint8_t>>& entries, uint32_t mi, size_t cut = 0) {
    std::vector<uint8_t> all;
    for (const auto& e : entries) all.insert(all.end(), e.begin(), e.end());
    all.resize(all.size() - cut);
    CSipRecord r(0x0B02, 0, 0, 0, kNoStatus);
    r.SetModuleId(mi);
    r.SetReplyRaw(all, 0);
    return r;
}

uint16_t OidAt(const CSipRecord& r, size_t offset) {
    std::vector<uint8_t> b;
    r.GetDataBytes(0, b);
    return static_cast<uint16_t>(b[offset + 10] | (b[offset + 11] << 8));
}

TEST_F(OidMapTest, LogEntriesArePatchedByErrorGroup) {
    // Group 0x04 maps through count opcode 0x0300: module B's instance 2 is global 4.
    CSipRecord r = LogReply({Entry(0x04, 3, 2), Entry(0x3F, 2, 2, 0), Entry(0x04, 0, 1), Entry(0x09, 1, 2)}, kModB);
    EXPECT_TRUE(t.TranslateOids(r, true));
    EXPECT_EQ(OidAt(r, 0), 4u);
    EXPECT_EQ(OidAt(r, 20), 2u);  // text entry of 16 bytes: never patched
    EXPECT_EQ(OidAt(r, 36), 3u);  // word count 0 occupies 12 bytes
    EXPECT_EQ(OidAt(r, 48), 2u);  // group without a rule

    CSipRecord noRule = LogReply({Entry(0x09, 1, 0)}, kModB);
    EXPECT_FALSE(t.PatchLogEntryOids(noRule));
    CSipRecord shortData = LogReply({Entry(0x04, 1, 1)}, kModB, 1);
    EXPECT_FALSE(t.PatchLogEntryOids(shortData));  // fewer than 12 bytes answered
    CSipRecord unanswered = LogReply({Entry(0x04, 1, 1)}, kModB);
    unanswered.SetStatus(22);
    EXPECT_FALSE(t.PatchLogEntryOids(unanswered));
}

TEST_F(OidMapTest, TruncatedTailAndOversizedWordCountsEndSafely) {
    // Word count 17 occupies 12 bytes; a cut last entry ends the walk unpatched.
    CSipRecord r = LogReply({Entry(0x04, 17, 1), Entry(0x04, 2, 1), Entry(0x04, 1, 1)}, kModB, 4);
    EXPECT_TRUE(t.PatchLogEntryOids(r));
    EXPECT_EQ(OidAt(r, 0), 3u);
    EXPECT_EQ(OidAt(r, 12), 3u);
    std::vector<uint8_t> b;
    r.GetDataBytes(0, b);
    EXPECT_EQ(b.size(), 12u + 16u + 8u);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 28, b.end()), (std::vector<uint8_t>{0x80, 0x04, 0, 1, 0, 0, 0, 0}));
}

TEST_F(OidMapTest, PatchTracesEachComparison) {
    test::TraceCapture trace(3);
    CSipRecord r = LogReply({Entry(0x04, 1, 1)}, kModB);
    EXPECT_TRUE(t.PatchLogEntryOids(r));
    EXPECT_EQ(trace.Count("OID map table entry for CABID 0x0000 OC 0x0300 found!"), 1u);
    EXPECT_EQ(trace.Count("Compare map table values:"), 4u);  // A0, A1, B0, B1
    EXPECT_TRUE(trace.Contains("  SIP MID 0x00020001 <-> MAP MID 0x0000000200000001"));
    EXPECT_TRUE(trace.Contains("\nEM_TARNEL           : Messag log reply OID patched from 0x0001 to 0x0003"));
    EXPECT_EQ(OidAt(r, 0), 3u);
}

}  // namespace
}  // namespace em

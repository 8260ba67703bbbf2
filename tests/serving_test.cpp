// Requests are answered even where the lower modules or the host behave oddly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/lib/scenario.h"
#include "module/sip_record.h"
#include "module/tarnel_module.h"
#include "tests/support/down_host.h"
#include "tests/support/scenario_util.h"

namespace em {
namespace {

using test::DownHost;

// Two modules in cabinet 0 number their fans independently (2 and 3 of them), so the module maps
// them to one numbering: global 0-1 on the first, 2-4 on the second. B supports CSS on global fan
// 4 only (256: a low byte of 0).
const char* kSharedFans = R"({"modules":[
    {"id":"0x10001","name":"A","objects":{"0x0300":2},"designations":{"0x0304":["A0","A1"]}},
    {"id":"0x20001","name":"B","objects":{"0x0300":3},"designations":{"0x0304":["B0","B1","B2"]},
     "answers":[{"oc":"0x0307","oi":3,"da":256},{"oc":"0x0307","oi":4,"da":1}]}]})";

TEST(Serving, EventEntriesGetTheGlobalNumberingBeforeTheyAreCached) {
    DownHost host(test::ParseScenarioOrFail(kSharedFans));
    CTarnelModule m;
    m.Start(&host, 0x00FE0001);
    host::ScenarioEvent e;
    e.module = 0x20001;
    for (uint32_t code : {0x0401, 0x0401, 0x0501})
        e.entries.push_back(host::OldStyleEntry{code, 1796460000, 0, uint16_t(e.entries.size() == 1 ? 2 : 1), 2, {}, {}});
    CSipRecord event;
    host.Lower().Apply(e, event);
    const std::string as_sent = host::DescribeRecord(event);
    m.OnReply(&event);
    EXPECT_EQ(host::DescribeRecord(event), as_sent);  // the host's record goes on unchanged

    CMsgLogEntry entry;
    ASSERT_TRUE(m.MsgLogCache().FindEntryBySequence(0, 1, entry));
    ASSERT_GE(entry.rawSel.size(), 12u);
    EXPECT_EQ(entry.rawSel[10] | (entry.rawSel[11] << 8), 3);  // global index of B's fan 1
    EXPECT_EQ(entry.stringArgs[0], u"B1");
    // The designation was asked of B about its own fan 1; CSS support (no mapped opcode) in the
    // global numbering, where group 0x05 has no CSS request.
    EXPECT_EQ(host.Down({"OC=0x0304 OI=1"}), std::vector<std::string>{"CA=0 OC=0x0304 OI=1 MI=0x00020001 ST=22"});
    EXPECT_EQ(host.Down({"OC=0x0307"}), (std::vector<std::string>{"CA=0 OC=0x0307 OI=3 ST=22", "CA=0 OC=0x0307 OI=4 ST=22"}));
    m.Stop();
}

}  // namespace
}  // namespace em

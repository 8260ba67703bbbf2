// Locked pointer list, with and without its lock: order, insertion past the end, first match, head removal.
#include <gtest/gtest.h>

#include "module/locked_ptr_list.h"

namespace em {
namespace {

void* P(uintptr_t v) { return reinterpret_cast<void*>(v); }

TEST(LockedPtrList, KeepsOrderFindsTheFirstMatchAndTellsWhenTheHeadWasTheLast) {
    for (bool locked : {true, false}) {
        CLockedPtrList l(locked);
        for (uintptr_t v : {1u, 2u}) EXPECT_EQ(l.AddTail(P(v)), v - 1);
        EXPECT_TRUE(l.InsertAt(1, P(9)) && l.InsertAt(0, P(8)) && l.InsertAt(9, P(9)));  // the last: appended
        EXPECT_EQ(std::pair(l.GetAt(4), l.GetAt(5)), std::pair(P(9), P(0)));
        EXPECT_EQ(std::pair(l.Find(P(9)), l.Find(P(42))), std::pair(2, -1));  // 8 1 9 2 9
        EXPECT_FALSE(l.RemoveHead());
        EXPECT_EQ(l.GetAt(0), P(1));
        EXPECT_TRUE(l.RemoveAll() && l.GetCount() == 0 && l.RemoveHead());
    }
}

}  // namespace
}  // namespace em

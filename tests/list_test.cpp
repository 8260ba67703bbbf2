// Locked pointer list: order, indexes, first match, head removal, the optional lock.
#include <gtest/gtest.h>

#include "module/locked_ptr_list.h"

namespace em {
namespace {

void* P(uintptr_t v) { return reinterpret_cast<void*>(v); }

std::vector<uintptr_t> Items(const CLockedPtrList& l) {
    std::vector<uintptr_t> out;
    for (uint32_t i = 0; i < l.GetCount(); ++i) out.push_back(reinterpret_cast<uintptr_t>(l.GetAt(i)));
    return out;
}

TEST(LockedPtrList, KeepsOrderAndFindsTheFirstMatch) {
    CLockedPtrList l;
    EXPECT_NE(l.Lock(), nullptr);
    for (uintptr_t v : {1u, 2u, 3u}) EXPECT_EQ(l.AddTail(P(v)), v - 1);
    EXPECT_EQ(l.GetAt(3), nullptr);
    EXPECT_TRUE(l.InsertAt(1, P(9)) && l.InsertAt(0, P(8)) && l.InsertAt(6, P(7)));  // the last beyond the end: appended
    EXPECT_EQ(Items(l), (std::vector<uintptr_t>{8, 1, 9, 2, 3, 7}));
    l.AddTail(P(9));
    EXPECT_EQ(l.Find(P(9)), 2);
    EXPECT_EQ(l.Find(P(42)), -1);
}

TEST(LockedPtrList, HeadRemovalTellsWhetherTheListIsEmpty) {
    CLockedPtrList l(false);
    EXPECT_EQ(l.Lock(), nullptr);
    EXPECT_TRUE(l.RemoveHead());
    l.AddTail(P(1));
    l.AddTail(P(2));
    EXPECT_FALSE(l.RemoveHead());
    EXPECT_EQ(Items(l), (std::vector<uintptr_t>{2}));
    EXPECT_TRUE(l.RemoveHead());
    EXPECT_EQ(l.AddTail(P(5)), 0u);
    EXPECT_TRUE(l.RemoveAll());
    EXPECT_EQ(l.GetCount(), 0u);
    EXPECT_EQ(l.Find(nullptr), -1);
}

}  // namespace
}  // namespace em

// Locked pointer list: order, indexes, first match, head removal.
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

TEST(LockedPtrList, AppendInsertAndLookup) {
    CLockedPtrList l;
    EXPECT_EQ(l.AddTail(P(1)), 0u);
    EXPECT_EQ(l.AddTail(P(2)), 1u);
    EXPECT_EQ(l.AddTail(P(3)), 2u);
    EXPECT_EQ(l.GetAt(3), nullptr);
    EXPECT_TRUE(l.InsertAt(1, P(9)));
    EXPECT_EQ(Items(l), (std::vector<uintptr_t>{1, 9, 2, 3}));
    EXPECT_TRUE(l.InsertAt(0, P(8)));
    EXPECT_TRUE(l.InsertAt(50, P(7)));
    EXPECT_EQ(Items(l), (std::vector<uintptr_t>{8, 1, 9, 2, 3, 7}));
    l.AddTail(P(9));
    EXPECT_EQ(l.Find(P(9)), 2);
    EXPECT_EQ(l.Find(P(42)), -1);
}

TEST(LockedPtrList, HeadRemovalAndClear) {
    CLockedPtrList l(false);
    EXPECT_TRUE(l.RemoveHead());  // empty before and after
    EXPECT_EQ(l.Find(nullptr), -1);
    l.AddTail(P(1));
    l.AddTail(P(2));
    EXPECT_FALSE(l.RemoveHead());
    EXPECT_EQ(Items(l), (std::vector<uintptr_t>{2}));
    EXPECT_TRUE(l.RemoveHead());
    EXPECT_EQ(l.GetCount(), 0u);
    EXPECT_EQ(l.AddTail(P(5)), 0u);
    EXPECT_TRUE(l.RemoveAll());
    EXPECT_EQ(l.GetCount(), 0u);
    EXPECT_EQ(l.GetAt(0), nullptr);
    EXPECT_EQ(l.Lock(), nullptr);
}

TEST(LockedPtrList, NumbersStoredInPlaceOfPointers) {
    CLockedPtrList keys;
    for (uintptr_t k : {0x0300u, 0x0400u, 0x0300u}) {
        if (keys.Find(P(k)) < 0) keys.AddTail(P(k));
    }
    EXPECT_EQ(Items(keys), (std::vector<uintptr_t>{0x0300, 0x0400}));
    EXPECT_NE(keys.Lock(), nullptr);
}

}  // namespace
}  // namespace em

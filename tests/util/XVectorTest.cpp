// Tests of XVector: stable sorted insertion, search and ownership.
#include <gtest/gtest.h>

#include <vector>

#include "util/XVector.h"

namespace {

struct Item {
    int key;
    static int destroyed;
    explicit Item(int k) : key(k) {}
    virtual ~Item() { ++destroyed; }
};
int Item::destroyed = 0;

int CompareItems(const Item* a, const Item* b)
{
    return a->key - b->key;
}

TEST(XVector, SortedInsertKeepsEqualItemsInArrivalOrder)
{
    struct Case {
        std::vector<int> keys;
        std::vector<int> expected;   // indexes into keys, in final order
    } cases[] = {
        {{3, 1, 2, 1}, {1, 3, 2, 0}},
        {{}, {}},
        {{5, 5, 5}, {0, 1, 2}},
        {{4, 3, 2, 1, 0}, {4, 3, 2, 1, 0}},
        {{0, 1, 1, 0, 2, 1}, {0, 3, 1, 2, 5, 4}},
    };
    for (const Case& c : cases) {
        std::vector<Item> items;
        items.reserve(c.keys.size());
        for (int k : c.keys)
            items.emplace_back(k);
        XVector<Item> v(2, CompareItems);
        for (Item& item : items)
            v.Add(&item);
        ASSERT_EQ(c.expected.size(), v.GetCount());
        for (size_t i = 0; i < c.expected.size(); ++i)
            EXPECT_EQ(&items[c.expected[i]], v[i]) << "position " << i;
    }
}

TEST(XVector, FindAndRemove)
{
    Item a(1), b(2), c(3), probe(2), missing(9);
    XVector<Item> sorted(1, CompareItems);
    sorted.Add(&c);
    sorted.Add(&a);
    sorted.Add(&b);
    EXPECT_EQ(&b, sorted.Find(&probe));   // sorted: found by value
    EXPECT_EQ(nullptr, sorted.Find(&missing));
    sorted.Remove(&probe);
    EXPECT_EQ(2u, sorted.GetCount());
    EXPECT_EQ(&c, sorted[1]);
    sorted.Remove(&missing);
    EXPECT_EQ(2u, sorted.GetCount());

    XVector<Item> plain;
    plain.Add(&b);
    plain.Add(&a);
    EXPECT_EQ(-1, plain.FindIndex(&probe));   // unsorted: found by identity only
    EXPECT_EQ(1, plain.FindIndex(&a));
    plain.RemoveAt(0);
    EXPECT_EQ(&a, plain[0]);
    EXPECT_EQ(nullptr, plain[5]);

    XVector<Item>::Iterator it(plain);
    plain.Clear();   // the iterator walks what it took when made
    EXPECT_EQ(&a, it.Next());
    EXPECT_EQ(nullptr, it.Next());
}

TEST(XVector, DeleteAllDestroysItems)
{
    Item::destroyed = 0;
    XVector<Item> v(0);   // a zero step is taken as one
    for (int i = 0; i < 5; ++i)
        v.Add(new Item(i));
    v.DeleteAll();
    EXPECT_EQ(5, Item::destroyed);
    EXPECT_EQ(0u, v.GetCount());
}

} // namespace

#include "object/InstancesStackable.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

struct Item : object::InstancesStackable<Item> {
    explicit Item(int id) : id(id) {}
    int id;
};

std::vector<int> ids_head_first() {
    std::vector<int> ids;
    for (Item* i = Item::instances(); i; i = i->get_next())
        ids.push_back(i->id);
    return ids;
}

std::vector<int> ids_tail_first() {
    std::vector<int> ids;
    Item* last = Item::instances();
    while (last && last->get_next())
        last = last->get_next();
    for (Item* i = last; i; i = i->get_prev())
        ids.push_back(i->id);
    return ids;
}

TEST(InstancesStackable, ListIsMostRecentFirstAndLinkedBothWays) {
    EXPECT_EQ(Item::instances(), nullptr);
    Item a(1), b(2), c(3);
    EXPECT_EQ(ids_head_first(), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(ids_tail_first(), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(c.get_prev(), nullptr);
    EXPECT_EQ(a.get_next(), nullptr);
}

TEST(InstancesStackable, DestructionInReverseOrderPopsTheHead) {
    {
        Item a(1);
        {
            Item b(2);
            EXPECT_EQ(Item::instances(), &b);
        }
        EXPECT_EQ(Item::instances(), &a);
        EXPECT_EQ(a.get_prev(), nullptr);
    }
    EXPECT_EQ(Item::instances(), nullptr);
}

TEST(InstancesStackable, RemovingFromTheMiddleOrTailKeepsTheListWhole) {
    std::unique_ptr<Item> a(new Item(1)), b(new Item(2)), c(new Item(3));
    b.reset();
    EXPECT_EQ(ids_head_first(), (std::vector<int>{3, 1}));
    EXPECT_EQ(ids_tail_first(), (std::vector<int>{1, 3}));
    a.reset();
    EXPECT_EQ(ids_head_first(), (std::vector<int>{3}));
    EXPECT_EQ(c->get_next(), nullptr);
    c.reset();
    EXPECT_EQ(Item::instances(), nullptr);
}

} // namespace

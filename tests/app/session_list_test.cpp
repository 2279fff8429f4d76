#include "app/session_list.h"

#include <gtest/gtest.h>

using zelvo::app::SessionList;

TEST(SessionList, EntriesAreNumberedByPosition)
{
    SessionList l;
    EXPECT_EQ(l.DefaultNewName(), "Setting0");
    l.AddSession("office");
    l.AddSession("R&D");
    EXPECT_EQ(SessionList::Caption(0, "office"), "&0 office");
    EXPECT_EQ(SessionList::Caption(1, "R&D"), "&1 R&&D");
    ASSERT_NE(l.byTag(2), nullptr);
    EXPECT_EQ(*l.byTag(2), "R&D");
    EXPECT_EQ(l.byTag(0), nullptr);
    EXPECT_EQ(l.byTag(3), nullptr);
    EXPECT_EQ(l.DefaultNewName(), "Setting2");
}

TEST(SessionList, SaveRebuildsFromTheSortedListAndAppendsANewName)
{
    SessionList l;
    l.assign({"zeta", "Alpha", "beta"});
    auto box = SessionList::SortedForBox(l.names());
    EXPECT_EQ(box, (std::vector<std::string>{"Alpha", "beta", "zeta"}));
    l.rebuildAfterSave(box, "gamma");
    EXPECT_EQ(l.names(), (std::vector<std::string>{"Alpha", "beta", "zeta", "gamma"}));
    // Saving over an existing session, in any case, adds no second entry for it.
    l.rebuildAfterSave(SessionList::SortedForBox(l.names()), "BETA");
    EXPECT_EQ(l.names(), (std::vector<std::string>{"Alpha", "beta", "gamma", "zeta"}));
}

TEST(SessionList, DeleteRenumbersTheRest)
{
    SessionList l;
    l.assign({"a", "b", "c"});
    EXPECT_FALSE(l.remove("x"));
    EXPECT_TRUE(l.remove("B"));
    EXPECT_EQ(l.names(), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(*l.byTag(2), "c");
    EXPECT_TRUE(l.remove("a"));
    EXPECT_TRUE(l.remove("c"));
    EXPECT_TRUE(l.empty());
}

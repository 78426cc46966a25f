#include "ui/menus.h"

#include <gtest/gtest.h>

namespace vokar::ui {
namespace {

TEST(MenusTest, EveryMenuHasItsLeftKeyAndPopupsHoldCommands)
{
    const int ids[] = {100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 112, 113, 114, 115,
                       116, 117, 118, 119, 120, 130, 131, 132, 133, 140, 141, 142, 143, 144, 145};
    for (int id : ids) {
        const Menu* menu = find_menu(id);
        ASSERT_NE(menu, nullptr) << id;
        EXPECT_NE(menu->left.command, 0) << id;
        EXPECT_TRUE(menu->right.command != 0 || menu->right.opens_popup() ||
                    menu->right.label.empty())
            << id;
    }
    EXPECT_EQ(find_menu(111), nullptr);
    EXPECT_EQ(find_menu(146), nullptr);
}

TEST(MenusTest, FriendsMenuNestsItsSubmenus)
{
    const Menu& m = *find_menu(103);
    ASSERT_EQ(m.right.items.size(), 7u);
    const MenuItem& selected = m.right.items[0];
    EXPECT_EQ(selected.label, L"Selected Friend");
    ASSERT_EQ(selected.items.size(), 6u);
    EXPECT_EQ(selected.items[4].command, command(CommandId::HOLLER_FRIEND));
    EXPECT_EQ(m.right.items[2].items.size(), 7u); // Add Friend: one per network
    EXPECT_EQ(m.right.items[6].command, command(CommandId::EXIT_VOKAR));
    EXPECT_EQ(find_menu(100)->right.items.back().command, command(CommandId::EXIT));
}

} // namespace
} // namespace vokar::ui

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

} // namespace
} // namespace vokar::ui

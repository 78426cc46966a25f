#include "ui/menus.h"

#include <map>

namespace vokar::ui {
namespace {

enum Slot { LEFT, RIGHT, ITEM, SUBITEM };

struct Row {
    int menu;
    Slot slot;
    std::wstring_view label;
    uint16_t command;
};

constexpr Row kRows[] = {
#define VOKAR_MENU_ITEM(menu, slot, label, command) {menu, slot, label, command},
#include "resources/menus.def"
#undef VOKAR_MENU_ITEM
};

std::map<int, Menu> build_menus()
{
    std::map<int, Menu> menus;
    for (const Row& row : kRows) {
        Menu& m = menus[row.menu];
        m.id = row.menu;
        const MenuItem item{row.label, row.command, {}};
        switch (row.slot) {
        case LEFT:
            m.left = item;
            break;
        case RIGHT:
            m.right = item;
            break;
        case ITEM:
            m.right.items.push_back(item);
            break;
        case SUBITEM:
            if (!m.right.items.empty())
                m.right.items.back().items.push_back(item);
            break;
        }
    }
    return menus;
}

} // namespace

const Menu* find_menu(int id)
{
    static const std::map<int, Menu> menus = build_menus();
    const auto it = menus.find(id);
    return it == menus.end() ? nullptr : &it->second;
}

} // namespace vokar::ui

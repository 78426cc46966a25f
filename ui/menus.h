#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace vokar::ui {

// Command identifiers delivered by the soft keys and the options popup.
enum class CommandId : uint16_t {
#define VOKAR_COMMAND(id, name) name = id,
#include "resources/menus.def"
#undef VOKAR_COMMAND
};

constexpr uint16_t command(CommandId c)
{
    return static_cast<uint16_t>(c);
}

// A soft key or popup entry: a command, or (command 0) a list of entries.
struct MenuItem {
    std::wstring_view label;
    uint16_t command = 0;
    std::vector<MenuItem> items;
    bool opens_popup() const { return command == 0 && !items.empty(); }
};

// A soft-key menu: the left key and, when present, the right key.
struct Menu {
    int id = 0;
    MenuItem left;
    MenuItem right; // empty label when the menu has no right key
};

// The menu with this resource identifier, or null.
const Menu* find_menu(int id);

} // namespace vokar::ui

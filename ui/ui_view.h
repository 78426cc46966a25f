#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vokar::ui {

enum class ControlKind {
    Label,
    TextBox,
    CheckBox,
    ChoiceList,
    ListView,
    Progress,
    LoginFooter,
    Other
};

enum class MessageKind { None, Error, Information, Warning };

// A read-only copy of what the user interface shows, for tests.
struct ControlView {
    int id = 0; // the window identifier; for text boxes the template's edit identifier
    ControlKind kind = ControlKind::Other;
    std::wstring caption;
    std::wstring text;  // the value (a text box's real text)
    std::wstring shown; // what is drawn (masked for a password field)
    bool checked = false;
    std::vector<std::wstring> items;
    int selection = -1;
    bool visible = true;
};

struct SoftKeyView {
    std::wstring label; // empty when the key does nothing
    uint16_t command = 0;
    bool opens_popup = false;
};

struct PopupView {
    bool open = false;
    int level = 0;                   // 0: the options popup, 1: a submenu
    std::vector<std::wstring> items; // entries of the innermost open list
    std::vector<uint16_t> commands;  // 0 for a submenu
    int selected = -1;
};

struct UiView {
    std::wstring title;
    int menu_id = 0;
    SoftKeyView left;
    SoftKeyView right;
    PopupView popup;
    size_t depth = 0;
    int focused_id = 0; // 0 when no control has the focus
    std::vector<ControlView> controls;
    MessageKind message_kind = MessageKind::None; // the message screen, when current
    std::wstring message_text;
    bool ended = false;
    int end_result = 0;

    // The control with this identifier, or null. Only on a named view: a
    // pointer into a temporary one would dangle.
    const ControlView* control(int id) const&
    {
        for (const ControlView& c : controls)
            if (c.id == id)
                return &c;
        return nullptr;
    }
    const ControlView* control(int id) const&& = delete;
};

} // namespace vokar::ui

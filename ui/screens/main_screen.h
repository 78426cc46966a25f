#pragma once

#include <functional>

#include "ui/virtual_dialog.h"

namespace vokar::ui {

// The screen after login. Its pages (dialer, friends, contacts, history)
// come later; for now it carries the main menu's common commands.
class MainScreen : public VirtualDialog {
public:
    struct Actions {
        std::function<void()> hide;
        std::function<void(uint16_t)> other; // commands the screen does not handle itself
    };
    explicit MainScreen(Actions actions);
    intptr_t handle_message(const platform::Message& message) override;

private:
    Actions actions_;
};

} // namespace vokar::ui

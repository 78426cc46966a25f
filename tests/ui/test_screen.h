#pragma once

#include <string>
#include <vector>

#include "platform/input.h"
#include "ui/ui_messages.h"
#include "ui/virtual_dialog.h"

namespace vokar::ui::testing {

// A screen that records the commands and unhandled keys it receives.
class TestScreen : public VirtualDialog {
public:
    TestScreen(std::wstring title, int menu) : VirtualDialog(std::move(title), menu) {}

    template <class T, class... Args> T& add_control(Args&&... args)
    {
        return add<T>(std::forward<Args>(args)...);
    }

    intptr_t handle_message(const platform::Message& m) override
    {
        if (m.code == code(UiMessage::Command)) {
            commands.push_back(static_cast<uint16_t>(m.wparam));
            return 1;
        }
        const intptr_t handled = VirtualDialog::handle_message(m);
        if (!handled && m.code == code(UiMessage::KeyDown))
            unhandled_keys.push_back(static_cast<platform::Key>(m.wparam));
        if (!handled && m.code != code(UiMessage::KeyDown) && m.code != code(UiMessage::KeyUp) &&
            m.code != code(UiMessage::Char))
            other_messages.push_back(m.code);
        return handled;
    }

    void activate(bool first_time) override
    {
        activations.push_back(first_time);
        VirtualDialog::activate(first_time);
    }

    std::vector<bool> activations;
    std::vector<uint16_t> commands;
    std::vector<platform::Key> unhandled_keys;
    std::vector<uint32_t> other_messages;
};

} // namespace vokar::ui::testing

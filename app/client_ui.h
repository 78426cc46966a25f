#pragma once

#include <functional>
#include <string>

#include "core/controller_ui.h"
#include "ui/ui_root.h"

namespace vokar::app {

// What the core shows, on the windowed client's UiRoot. Any thread; the
// screens are reached through the dialog window's messages.
class ClientUi final : public ControllerUi {
public:
    struct Screens {
        ui::VirtualDialog* login = nullptr;
        ui::VirtualDialog* main = nullptr;
        // Soft keys of the login progress screen (Cancel).
        std::function<void(uint16_t)> on_progress_command;
        // Shows the first-run import question.
        std::function<void()> ask_import_accounts;
        std::function<void(const JabberEvent&)> show_new_version;
        std::function<void(bool)> network_check;
    };

    explicit ClientUi(ui::UiRoot& root) : root_(root) {}
    // GUI thread, before the core starts.
    void set_screens(Screens screens) { screens_ = std::move(screens); }

    intptr_t send_message(MessageCode code, uintptr_t wparam) override;
    void post_message(MessageCode code, uintptr_t wparam) override;
    void show_progress(StringId text) override;
    void show_message(StringId text, StringId title) override;
    void show_message(const std::wstring& text, StringId title) override;
    void show_main_screen() override;
    void ask_import_accounts() override;
    bool progress_screen_current() override;
    void show_new_version(const JabberEvent& event) override;
    void show_network_check(bool checking) override;

private:
    // Runs `fn` on the GUI thread and waits for it; nothing once the pump has stopped.
    void on_gui(const std::function<void()>& fn);

    ui::UiRoot& root_;
    Screens screens_;
};

} // namespace vokar::app

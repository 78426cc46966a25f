#pragma once

#include <string>

#include "ui/ui_timers.h"
#include "ui/ui_view.h"
#include "ui/virtual_dialog.h"

namespace vokar::ui {

// The shared screen of errors, information and warnings (menu 113: OK goes
// back). An auto-closing message goes back by itself after kAutoCloseMs
// unless it was dismissed or replaced first.
class MessageScreen : public VirtualDialog {
public:
    static constexpr uint32_t kAutoCloseMs = 4000;

    MessageScreen();
    ~MessageScreen() override;

    void set_message(const std::wstring& text, MessageKind kind, bool auto_close);
    MessageKind kind() const { return kind_; }
    const std::wstring& text() const { return text_; }

    intptr_t handle_message(const platform::Message& message) override;
    void paint(platform::Canvas& canvas) override;
    void deactivate() override;

private:
    void cancel_auto_close();

    std::wstring text_;
    MessageKind kind_ = MessageKind::None;
    UiTimers::Id auto_close_ = 0;
};

} // namespace vokar::ui

#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ui/progress_animation.h"
#include "ui/virtual_dialog.h"

namespace vokar::ui {

// The shared screen of every operation that waits ("Vokar - Logging in"): a
// text with the animated indicator; its soft keys' commands go to the handler
// of whoever showed it.
class ProgressScreen : public VirtualDialog {
public:
    ProgressScreen();

    void set_progress(const std::wstring& text, int menu_id,
                      std::function<void(uint16_t)> on_command);
    const ProgressAnimation& animation() const { return *animation_; }

    intptr_t handle_message(const platform::Message& message) override;
    void layout(const platform::Rect& client) override;

private:
    ProgressAnimation* animation_;
    std::function<void(uint16_t)> on_command_;
};

} // namespace vokar::ui

#pragma once

#include <functional>
#include <string>

#include "ui/custom_control.h"

namespace vokar::ui {

// A line of text; with an action it is a link that takes the focus and runs
// the action on the action key.
class Label : public CustomControl {
public:
    explicit Label(std::wstring text, int id = 0, bool bold = false)
        : CustomControl(id), text_(std::move(text)), bold_(bold)
    {
    }

    ControlKind kind() const override { return ControlKind::Label; }
    int preferred_height() const override { return 16; }
    void paint(platform::Canvas& canvas, bool focused) override;
    bool handle_key(platform::Key key) override;
    void describe(ControlView& view) const override;

    const std::wstring& text() const { return text_; }
    void set_text(std::wstring text);
    void set_action(std::function<void()> action);

private:
    std::wstring text_;
    bool bold_;
    std::function<void()> action_;
};

} // namespace vokar::ui

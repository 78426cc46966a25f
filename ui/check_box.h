#pragma once

#include <string>

#include "ui/custom_control.h"

namespace vokar::ui {

// A captioned check box; the action key toggles it.
class CheckBox : public CustomControl {
public:
    CheckBox(int id, std::wstring caption, bool checked = false)
        : CustomControl(id), caption_(std::move(caption)), checked_(checked)
    {
        set_tab_stop(true);
    }

    ControlKind kind() const override { return ControlKind::CheckBox; }
    void paint(platform::Canvas& canvas, bool focused) override;
    bool handle_key(platform::Key key) override;
    void describe(ControlView& view) const override;

    bool checked() const { return checked_; }
    void set_checked(bool checked);

private:
    std::wstring caption_;
    bool checked_;
};

} // namespace vokar::ui

#pragma once

#include <string>
#include <vector>

#include "ui/custom_control.h"

namespace vokar::ui {

// A captioned choice of one of several items; Left and Right (or the action
// key) step through them, wrapping.
class ChoiceList : public CustomControl {
public:
    ChoiceList(int id, std::wstring caption, std::vector<std::wstring> items, int selection = 0);

    ControlKind kind() const override { return ControlKind::ChoiceList; }
    int preferred_height() const override { return 16 + 20; }
    void paint(platform::Canvas& canvas, bool focused) override;
    bool handle_key(platform::Key key) override;
    void describe(ControlView& view) const override;

    // -1 when there are no items.
    int selection() const { return selection_; }
    // Out-of-range values select nothing (-1).
    void set_selection(int index);
    const std::vector<std::wstring>& items() const { return items_; }

private:
    std::wstring caption_;
    std::vector<std::wstring> items_;
    int selection_ = -1;
};

} // namespace vokar::ui

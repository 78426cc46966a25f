#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/custom_control.h"

namespace vokar::ui {

// A list of rows, each with an optional icon (an image identifier) and a
// second, dimmer text. Up and Down move the selection and scroll; the action
// key runs the activation callback on the selected row. With no rows it shows
// its empty text ("No data" unless set).
class ListView : public CustomControl {
public:
    struct Row {
        int icon = 0; // 0: none
        std::wstring text;
        std::wstring detail;
    };

    explicit ListView(int id = 0);

    ControlKind kind() const override { return ControlKind::ListView; }
    int preferred_height() const override { return 0; }
    void paint(platform::Canvas& canvas, bool focused) override;
    bool handle_key(platform::Key key) override;
    void describe(ControlView& view) const override;

    // Keeps the selection on the same index when it still exists.
    void set_rows(std::vector<Row> rows);
    const std::vector<Row>& rows() const { return rows_; }
    // -1 when nothing is selected.
    int selection() const { return selection_; }
    void set_selection(int index);
    void set_empty_text(std::wstring text);
    void set_on_activate(std::function<void(int)> fn) { on_activate_ = std::move(fn); }

private:
    int visible_rows() const;
    void scroll_to_selection();

    std::vector<Row> rows_;
    int selection_ = -1;
    int first_ = 0;
    std::wstring empty_text_;
    std::function<void(int)> on_activate_;
};

} // namespace vokar::ui

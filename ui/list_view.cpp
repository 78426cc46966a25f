#include "ui/list_view.h"

#include "base/strings.h"
#include "ui/theme.h"

namespace vokar::ui {

using platform::Key;

ListView::ListView(int id)
    : CustomControl(id), empty_text_(LoadResourceString(StringId::LIST_NO_DATA))
{
    set_tab_stop(true);
}

int ListView::visible_rows() const
{
    return std::max(1, rect().h / theme::kRowHeight);
}

void ListView::scroll_to_selection()
{
    const int n = visible_rows();
    if (selection_ < first_)
        first_ = std::max(0, selection_);
    else if (selection_ >= first_ + n)
        first_ = selection_ - n + 1;
    first_ = std::clamp(first_, 0, std::max(0, static_cast<int>(rows_.size()) - n));
}

void ListView::paint(platform::Canvas& canvas, bool focused)
{
    const platform::Rect& r = rect();
    if (rows_.empty()) {
        canvas.text({r.x, r.y, r.w, theme::kRowHeight}, empty_text_, theme::kTextFont,
                    theme::kDimText, platform::Align::Center);
        return;
    }
    const int n = std::min(visible_rows(), static_cast<int>(rows_.size()) - first_);
    for (int i = 0; i < n; ++i) {
        const Row& row = rows_[first_ + i];
        const platform::Rect line{r.x, r.y + i * theme::kRowHeight, r.w, theme::kRowHeight};
        if (first_ + i == selection_) {
            if (focused)
                canvas.fill_gradient(line, theme::kSelectionTop, theme::kSelectionBottom);
            else
                canvas.frame(line, theme::kSelectionBottom);
        }
        int x = line.x + 2;
        if (row.icon != 0) {
            const platform::Size icon = canvas.image_size(row.icon);
            canvas.image(row.icon, x, line.y + (line.h - icon.h) / 2);
            x += 22;
        }
        int detail_w = 0;
        if (!row.detail.empty()) {
            detail_w = canvas.measure(row.detail, theme::kTextFont).w + 4;
            canvas.text({line.right() - detail_w - 2, line.y, detail_w, line.h}, row.detail,
                        theme::kTextFont, theme::kDimText, platform::Align::Right);
        }
        canvas.text({x, line.y, line.right() - x - detail_w - 4, line.h}, row.text,
                    theme::kTextFont, theme::kText);
    }
    if (static_cast<int>(rows_.size()) > visible_rows()) {
        // Scroll bar: where the visible rows lie in the list.
        const int total = static_cast<int>(rows_.size());
        const int bar_h = std::max(6, r.h * visible_rows() / total);
        const int bar_y = r.y + (r.h - bar_h) * first_ / std::max(1, total - visible_rows());
        canvas.fill({r.right() - 3, bar_y, 3, bar_h}, theme::kFrame);
    }
}

bool ListView::handle_key(Key key)
{
    const int n = static_cast<int>(rows_.size());
    if (n == 0)
        return false;
    if (key == Key::Down && selection_ + 1 < n) {
        set_selection(selection_ + 1);
        return true;
    }
    if (key == Key::Up && selection_ > 0) {
        set_selection(selection_ - 1);
        return true;
    }
    if (key == Key::Action && selection_ >= 0 && on_activate_) {
        on_activate_(selection_);
        return true;
    }
    return false;
}

void ListView::describe(ControlView& view) const
{
    CustomControl::describe(view);
    for (const Row& row : rows_)
        view.items.push_back(row.text);
    view.selection = selection_;
    view.text = selection_ >= 0 ? rows_[selection_].text : std::wstring();
    view.shown = rows_.empty() ? empty_text_ : view.text;
}

void ListView::set_rows(std::vector<Row> rows)
{
    rows_ = std::move(rows);
    const int n = static_cast<int>(rows_.size());
    selection_ = n == 0 ? -1 : std::clamp(selection_, 0, n - 1);
    scroll_to_selection();
    invalidate();
}

void ListView::set_selection(int index)
{
    const int n = static_cast<int>(rows_.size());
    selection_ = index >= 0 && index < n ? index : -1;
    scroll_to_selection();
    invalidate();
}

void ListView::set_empty_text(std::wstring text)
{
    empty_text_ = std::move(text);
    invalidate();
}

} // namespace vokar::ui

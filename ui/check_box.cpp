#include "ui/check_box.h"

#include "ui/theme.h"

namespace vokar::ui {

void CheckBox::paint(platform::Canvas& canvas, bool focused)
{
    const platform::Rect& r = rect();
    if (focused)
        canvas.fill_gradient(r, theme::kSelectionTop, theme::kSelectionBottom);
    const platform::Rect box{r.x + 2, r.y + (r.h - 12) / 2, 12, 12};
    canvas.fill(box, theme::kFieldBackground);
    canvas.frame(box, theme::kFocusFrame);
    if (checked_) {
        canvas.line(box.x + 2, box.y + 6, box.x + 5, box.y + 9, theme::kText);
        canvas.line(box.x + 5, box.y + 9, box.x + 10, box.y + 2, theme::kText);
    }
    canvas.text({r.x + 20, r.y, r.w - 20, r.h}, caption_, theme::kTextFont, theme::kText);
}

bool CheckBox::handle_key(platform::Key key)
{
    if (key != platform::Key::Action)
        return false;
    set_checked(!checked_);
    return true;
}

void CheckBox::describe(ControlView& view) const
{
    CustomControl::describe(view);
    view.caption = caption_;
    view.checked = checked_;
}

void CheckBox::set_checked(bool checked)
{
    checked_ = checked;
    invalidate();
}

} // namespace vokar::ui

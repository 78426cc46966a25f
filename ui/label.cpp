#include "ui/label.h"

#include "ui/theme.h"

namespace vokar::ui {

void Label::paint(platform::Canvas& canvas, bool focused)
{
    const platform::Rect& r = rect();
    if (action_) {
        if (focused)
            canvas.fill_gradient(r, theme::kSelectionTop, theme::kSelectionBottom);
        canvas.text(r, text_, theme::kTextFont, theme::kBarBottom);
        const int underline = r.y + r.h / 2 + canvas.line_height(theme::kTextFont) / 2 - 2;
        canvas.line(r.x, underline, r.x + canvas.measure(text_, theme::kTextFont).w, underline,
                    theme::kBarBottom);
        return;
    }
    canvas.text(r, text_, bold_ ? theme::kBoldFont : theme::kTextFont, theme::kText);
}

bool Label::handle_key(platform::Key key)
{
    if (key != platform::Key::Action || !action_)
        return false;
    action_();
    return true;
}

void Label::describe(ControlView& view) const
{
    CustomControl::describe(view);
    view.text = text_;
    view.shown = text_;
}

void Label::set_text(std::wstring text)
{
    text_ = std::move(text);
    invalidate();
}

void Label::set_action(std::function<void()> action)
{
    action_ = std::move(action);
    set_tab_stop(static_cast<bool>(action_));
}

} // namespace vokar::ui

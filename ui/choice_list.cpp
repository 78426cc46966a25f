#include "ui/choice_list.h"

#include "ui/theme.h"

namespace vokar::ui {

using platform::Key;

ChoiceList::ChoiceList(int id, std::wstring caption, std::vector<std::wstring> items, int selection)
    : CustomControl(id), caption_(std::move(caption)), items_(std::move(items))
{
    set_tab_stop(true);
    set_selection(selection);
}

void ChoiceList::paint(platform::Canvas& canvas, bool focused)
{
    const platform::Rect& r = rect();
    canvas.text({r.x, r.y, r.w, 16}, caption_, theme::kBoldFont, theme::kText);
    const platform::Rect field{r.x, r.y + 16, r.w, r.h - 16};
    canvas.fill(field, theme::kFieldBackground);
    canvas.frame(field, focused ? theme::kFocusFrame : theme::kFrame);
    const platform::Color arrows = focused ? theme::kFocusFrame : theme::kFrame;
    canvas.text({field.x + 4, field.y, 10, field.h}, L"\u2039", theme::kTextFont, arrows);
    canvas.text({field.right() - 14, field.y, 10, field.h}, L"\u203A", theme::kTextFont, arrows);
    if (selection_ >= 0)
        canvas.text({field.x + 16, field.y, field.w - 32, field.h}, items_[selection_],
                    theme::kTextFont, theme::kText, platform::Align::Center);
}

bool ChoiceList::handle_key(Key key)
{
    const int n = static_cast<int>(items_.size());
    if (n == 0 || (key != Key::Left && key != Key::Right && key != Key::Action))
        return false;
    set_selection(key == Key::Left ? (selection_ + n - 1) % n : (selection_ + 1) % n);
    return true;
}

void ChoiceList::describe(ControlView& view) const
{
    CustomControl::describe(view);
    view.caption = caption_;
    view.items = items_;
    view.selection = selection_;
    if (selection_ >= 0)
        view.text = view.shown = items_[selection_];
}

void ChoiceList::set_selection(int index)
{
    selection_ = index >= 0 && index < static_cast<int>(items_.size()) ? index : -1;
    invalidate();
}

} // namespace vokar::ui

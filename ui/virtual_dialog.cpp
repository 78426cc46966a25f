#include "ui/virtual_dialog.h"

#include "ui/theme.h"
#include "ui/ui_messages.h"
#include "ui/ui_root.h"

namespace vokar::ui {

using platform::Key;

intptr_t VirtualDialog::handle_message(const platform::Message& message)
{
    CustomControl* focused = focused_control();
    switch (static_cast<UiMessage>(message.code)) {
    case UiMessage::KeyDown: {
        const auto key = static_cast<Key>(message.wparam);
        if (focused && focused->handle_key(key))
            return 1;
        if (key == Key::Down)
            return move_focus(+1) ? 1 : 0;
        if (key == Key::Up)
            return move_focus(-1) ? 1 : 0;
        return 0;
    }
    case UiMessage::Char:
        return focused && focused->handle_char(static_cast<wchar_t>(message.wparam)) ? 1 : 0;
    default:
        return 0;
    }
}

void VirtualDialog::activate(bool)
{
    for (auto& c : controls_)
        c->on_activate();
    if (focused_ < 0 || !controls_[focused_]->tab_stop())
        move_focus(+1);
}

void VirtualDialog::deactivate()
{
    for (auto& c : controls_)
        c->on_deactivate();
}

void VirtualDialog::layout(const platform::Rect& client)
{
    client_ = client;
    int fixed = 0;
    int flexible = 0;
    for (const auto& c : controls_) {
        if (!c->visible())
            continue;
        const int h = c->preferred_height();
        fixed += h + theme::kMargin;
        flexible += h == 0 ? 1 : 0;
    }
    const int spare = std::max(0, client.h - fixed - theme::kMargin);
    int y = client.y + theme::kMargin;
    for (const auto& c : controls_) {
        if (!c->visible())
            continue;
        int h = c->preferred_height();
        if (h == 0)
            h = spare / flexible;
        c->move({client.x + theme::kMargin, y, client.w - 2 * theme::kMargin, h});
        y += h + theme::kMargin;
    }
    invalidate();
}

void VirtualDialog::paint(platform::Canvas& canvas)
{
    const CustomControl* focused = focused_control();
    for (const auto& c : controls_)
        if (c->visible())
            c->paint(canvas, c.get() == focused);
}

void VirtualDialog::invalidate()
{
    // Only the current screen (or page) is on view.
    if (root_ && root_->current() && &root_->current()->content() == &content())
        root_->invalidate();
}

bool VirtualDialog::focus_control(int id)
{
    for (size_t i = 0; i < controls_.size(); ++i) {
        if (controls_[i]->id() == id) {
            set_focused_index(static_cast<int>(i));
            return true;
        }
    }
    return false;
}

CustomControl* VirtualDialog::focused_control() const
{
    if (focused_ < 0 || focused_ >= static_cast<int>(controls_.size()))
        return nullptr;
    return controls_[focused_].get();
}

bool VirtualDialog::move_focus(int step)
{
    const int n = static_cast<int>(controls_.size());
    for (int i = focused_ + step; i >= 0 && i < n; i += step) {
        if (controls_[i]->tab_stop()) {
            set_focused_index(i);
            return true;
        }
    }
    return false;
}

void VirtualDialog::set_focused_index(int index)
{
    focused_ = index;
    invalidate();
}

void VirtualDialog::adopt(std::unique_ptr<CustomControl> control)
{
    control->owner_ = this;
    controls_.push_back(std::move(control));
}

} // namespace vokar::ui

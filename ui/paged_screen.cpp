#include "ui/paged_screen.h"

#include "ui/ui_messages.h"
#include "ui/ui_root.h"

namespace vokar::ui {

using platform::Key;

void PagedScreen::show_page(size_t index)
{
    if (index >= pages_.size())
        return;
    const bool is_current = root() && root()->current() == this;
    if (is_current && index != current_)
        pages_[current_]->deactivate();
    current_ = index;
    set_title(pages_[current_]->title());
    set_menu_bar_id(pages_[current_]->menu_bar_id());
    if (is_current)
        root()->reactivate();
}

void PagedScreen::attach(UiRoot& root)
{
    VirtualDialog::attach(root);
    for (auto& page : pages_)
        page->attach(root);
}

intptr_t PagedScreen::handle_message(const platform::Message& message)
{
    if (pages_.empty())
        return 0;
    if (message.code == code(UiMessage::KeyDown)) {
        const auto key = static_cast<Key>(message.wparam);
        const size_t n = pages_.size();
        if (key == Key::Left) {
            show_page((current_ + n - 1) % n);
            return 1;
        }
        if (key == Key::Right) {
            show_page((current_ + 1) % n);
            return 1;
        }
    }
    return pages_[current_]->handle_message(message);
}

void PagedScreen::activate(bool first_time)
{
    if (!pages_.empty())
        pages_[current_]->activate(first_time);
}

void PagedScreen::deactivate()
{
    if (!pages_.empty())
        pages_[current_]->deactivate();
}

void PagedScreen::layout(const platform::Rect& client)
{
    if (!pages_.empty())
        pages_[current_]->layout(client);
}

void PagedScreen::paint(platform::Canvas& canvas)
{
    if (!pages_.empty())
        pages_[current_]->paint(canvas);
}

bool PagedScreen::focus_control(int id)
{
    return !pages_.empty() && pages_[current_]->focus_control(id);
}

int PagedScreen::focused_index() const
{
    return pages_.empty() ? -1 : pages_[current_]->focused_index();
}

const VirtualDialog& PagedScreen::content() const
{
    if (pages_.empty())
        return *this;
    return *pages_[current_];
}

} // namespace vokar::ui

#include "ui/text_box.h"

#include "ui/edit_ids.h"
#include "ui/theme.h"

namespace vokar::ui {

using platform::Key;

TextBox::TextBox(int edit_id, std::wstring caption, Options options)
    : CustomControl(edit_id), caption_(std::move(caption)), options_(options),
      password_(is_password_edit(edit_id)), multiline_(is_multiline_edit(edit_id))
{
    set_tab_stop(true);
}

int TextBox::preferred_height() const
{
    const int field = multiline_ ? 3 * theme::kRowHeight : theme::kRowHeight;
    return (caption_.empty() ? 0 : 16) + field;
}

void TextBox::paint(platform::Canvas& canvas, bool focused)
{
    platform::Rect r = rect();
    if (!caption_.empty()) {
        canvas.text({r.x, r.y, r.w, 16}, caption_, theme::kBoldFont, theme::kText);
        r.y += 16;
        r.h -= 16;
    }
    canvas.fill(r, theme::kFieldBackground);
    canvas.frame(r, focused ? theme::kFocusFrame : theme::kFrame);
    if (focused)
        canvas.frame({r.x + 1, r.y + 1, r.w - 2, r.h - 2}, theme::kFocusFrame);
    const std::wstring shown = shown_text();
    // Long text scrolls: the end stays in view. Lines of a multi-line field
    // are drawn one under the other.
    const platform::Rect inner{r.x + 4, r.y, r.w - 8, theme::kRowHeight};
    std::wstring last_line = shown;
    if (multiline_) {
        size_t start = 0;
        int row = 0;
        const int rows = std::max(1, r.h / theme::kRowHeight);
        std::vector<std::wstring> lines;
        for (size_t nl; (nl = shown.find(L'\n', start)) != std::wstring::npos; start = nl + 1)
            lines.push_back(shown.substr(start, nl - start));
        lines.push_back(shown.substr(start));
        const size_t first = lines.size() > static_cast<size_t>(rows) ? lines.size() - rows : 0;
        for (size_t i = first; i < lines.size(); ++i, ++row)
            canvas.text({inner.x, inner.y + row * theme::kRowHeight, inner.w, inner.h}, lines[i],
                        theme::kTextFont, theme::kText);
        last_line = lines.back();
        if (focused) {
            const int x = inner.x + canvas.measure(last_line, theme::kTextFont).w;
            const int y = inner.y + (row - 1) * theme::kRowHeight;
            canvas.line(x + 1, y + 4, x + 1, y + theme::kRowHeight - 4, theme::kText);
        }
        return;
    }
    while (!last_line.empty() && canvas.measure(last_line, theme::kTextFont).w > inner.w - 4)
        last_line.erase(0, 1);
    canvas.text(inner, last_line, theme::kTextFont, theme::kText);
    if (focused) {
        const int x = inner.x + canvas.measure(last_line, theme::kTextFont).w;
        canvas.line(x + 1, inner.y + 4, x + 1, inner.y + inner.h - 4, theme::kText);
    }
}

bool TextBox::handle_key(Key key)
{
    if (key == Key::Backspace || (key == Key::Back && !text_.empty())) {
        if (!text_.empty()) {
            text_.pop_back();
            invalidate();
        }
        return true;
    }
    if (key == Key::Action && multiline_)
        return handle_char(L'\n');
    // A keypad key the field accepts is typing: its character follows.
    const wchar_t c = platform::key_char(key);
    return c != 0 && accepts(c);
}

bool TextBox::handle_char(wchar_t c)
{
    if (!accepts(c))
        return false;
    if (text_.size() < options_.max_length) {
        text_ += c;
        invalidate();
    }
    return true;
}

bool TextBox::accepts(wchar_t c) const
{
    if (c == L'\n')
        return multiline_;
    if (c < 32 || c == 127)
        return false;
    if (options_.numeric)
        return (c >= L'0' && c <= L'9') || c == L'+' || c == L'*' || c == L'#';
    return true;
}

void TextBox::describe(ControlView& view) const
{
    CustomControl::describe(view);
    view.caption = caption_;
    view.text = text_;
    view.shown = shown_text();
}

void TextBox::set_text(const std::wstring& text)
{
    text_.clear();
    for (wchar_t c : text)
        if (accepts(c) && text_.size() < options_.max_length)
            text_ += c;
    invalidate();
}

void TextBox::set_caption(std::wstring caption)
{
    caption_ = std::move(caption);
    invalidate();
}

std::wstring TextBox::shown_text() const
{
    return password_ ? std::wstring(text_.size(), L'*') : text_;
}

} // namespace vokar::ui

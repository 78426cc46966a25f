#include "ui/chat_view.h"

#include "ui/theme.h"

namespace vokar::ui {

std::vector<std::wstring> wrap_text(platform::Canvas& canvas, const std::wstring& text, int width,
                                    platform::Font font)
{
    std::vector<std::wstring> lines;
    std::wstring line;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == L'\n') {
            lines.push_back(line);
            line.clear();
            ++i;
            continue;
        }
        size_t end = text.find_first_of(L" \n", i);
        if (end == std::wstring::npos)
            end = text.size();
        const std::wstring word = text.substr(i, end - i);
        std::wstring candidate = line.empty() ? word : line + L" " + word;
        if (!line.empty() && canvas.measure(candidate, font).w > width) {
            lines.push_back(line);
            candidate = word;
        }
        // A word wider than the line is cut into pieces that fit.
        while (candidate.size() > 1 && canvas.measure(candidate, font).w > width) {
            size_t fit = candidate.size() - 1;
            while (fit > 1 && canvas.measure(candidate.substr(0, fit), font).w > width)
                --fit;
            lines.push_back(candidate.substr(0, fit));
            candidate.erase(0, fit);
        }
        line = candidate;
        i = end < text.size() && text[end] == L' ' ? end + 1 : end;
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

void ChatView::paint_tail(platform::Canvas& canvas, const platform::Rect& r, const Lines& lines)
{
    const int line_h = canvas.line_height(theme::kTextFont);
    int bottom = r.bottom();
    for (auto it = lines.rbegin(); it != lines.rend() && bottom - line_h >= r.y; ++it) {
        const std::vector<std::wstring> wrapped = wrap_text(canvas, *it, r.w - 4, theme::kTextFont);
        for (auto w = wrapped.rbegin(); w != wrapped.rend() && bottom - line_h >= r.y; ++w) {
            bottom -= line_h;
            canvas.text({r.x + 2, bottom, r.w - 4, line_h}, *w, theme::kTextFont, theme::kText);
        }
    }
}

void ChatView::paint(platform::Canvas& canvas, bool)
{
    const platform::Rect& r = rect();
    canvas.fill(r, theme::kFieldBackground);
    canvas.frame(r, theme::kFrame);
    if (lines_)
        paint_tail(canvas, {r.x, r.y + 1, r.w, r.h - 2}, *lines_);
}

void ChatView::describe(ControlView& view) const
{
    CustomControl::describe(view);
    if (!lines_)
        return;
    view.items.assign(lines_->begin(), lines_->end());
    view.text = lines_->empty() ? std::wstring() : lines_->back();
    view.shown = view.text;
}

void ChatView::set_lines(const Lines* lines)
{
    lines_ = lines;
    invalidate();
}

} // namespace vokar::ui

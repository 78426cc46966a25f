#include "ui/progress_animation.h"

#include "ui/theme.h"

namespace vokar::ui {

void ProgressAnimation::paint(platform::Canvas& canvas, bool)
{
    const platform::Rect& r = rect();
    canvas.text({r.x, r.y, r.w, 24}, text_, theme::kBoldFont, theme::kText,
                platform::Align::Center);
    const int size = 10;
    const int gap = 8;
    const int x0 = r.x + (r.w - (3 * size + 2 * gap)) / 2;
    for (int i = 0; i < 3; ++i) {
        const platform::Rect dot{x0 + i * (size + gap), r.y + 34, size, size};
        if (i == frame())
            canvas.fill_gradient(dot, theme::kSelectionTop, theme::kSelectionBottom);
        else
            canvas.fill(dot, theme::kFrame);
    }
}

void ProgressAnimation::describe(ControlView& view) const
{
    CustomControl::describe(view);
    view.text = view.shown = text_;
    view.selection = frame();
}

void ProgressAnimation::set_text(std::wstring text)
{
    text_ = std::move(text);
    invalidate();
}

} // namespace vokar::ui

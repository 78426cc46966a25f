#pragma once

#include <deque>
#include <string>
#include <vector>

#include "ui/custom_control.h"

namespace vokar::ui {

// Splits text into lines that fit `width` in `font`, breaking at spaces where
// possible and cutting words wider than a line.
std::vector<std::wstring> wrap_text(platform::Canvas& canvas, const std::wstring& text, int width,
                                    platform::Font font);

// A multi-line chat transcript drawn bottom-up: the newest lines at the
// bottom, wrapped to the width, older ones above as far as they fit. It
// shows lines it does not own (a chat log's storage, which outlives it or is
// replaced with set_lines before it goes); only the visible tail is wrapped,
// so a long transcript costs no more to paint than a short one.
class ChatView : public CustomControl {
public:
    using Lines = std::deque<std::wstring>;

    explicit ChatView(int id = 0) : CustomControl(id) {}

    ControlKind kind() const override { return ControlKind::Other; }
    int preferred_height() const override { return 0; }
    void paint(platform::Canvas& canvas, bool focused) override;
    void describe(ControlView& view) const override;

    // Null: nothing to show.
    void set_lines(const Lines* lines);
    const Lines* lines() const { return lines_; }

    // Paints `lines` bottom-up into `r` (used by other controls too).
    static void paint_tail(platform::Canvas& canvas, const platform::Rect& r, const Lines& lines);

private:
    const Lines* lines_ = nullptr;
};

} // namespace vokar::ui

#pragma once

#include <cstddef>
#include <string>

#include "ui/custom_control.h"

namespace vokar::ui {

// A captioned text field standing for one of the dialog template's edit
// identifiers, whose traits it takes: password fields are drawn masked, the
// SMS field is multi-line. Typed characters are appended; Backspace, or Back
// while there is text, removes the last one.
class TextBox : public CustomControl {
public:
    struct Options {
        bool numeric = false;    // digits, '+', '*' and '#' only (phone numbers)
        size_t max_length = 500; // characters
    };

    TextBox(int edit_id, std::wstring caption) : TextBox(edit_id, std::move(caption), Options{}) {}
    TextBox(int edit_id, std::wstring caption, Options options);

    ControlKind kind() const override { return ControlKind::TextBox; }
    int preferred_height() const override;
    void paint(platform::Canvas& canvas, bool focused) override;
    bool handle_key(platform::Key key) override;
    bool handle_char(wchar_t c) override;
    void describe(ControlView& view) const override;

    const std::wstring& text() const { return text_; }
    // Keeps at most max_length characters; for a numeric field only the
    // characters it accepts.
    void set_text(const std::wstring& text);
    const std::wstring& caption() const { return caption_; }
    void set_caption(std::wstring caption);
    bool password() const { return password_; }
    bool multiline() const { return multiline_; }
    // What the field shows: one '*' per character of a password.
    std::wstring shown_text() const;

private:
    bool accepts(wchar_t c) const;

    std::wstring caption_;
    std::wstring text_;
    Options options_;
    bool password_;
    bool multiline_;
};

} // namespace vokar::ui

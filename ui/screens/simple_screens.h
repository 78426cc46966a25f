#pragma once

#include <functional>
#include <string>

#include "ui/label.h"
#include "ui/text_box.h"
#include "ui/virtual_dialog.h"

namespace vokar::ui {

// "Vokar - About": the product name and version; OK goes back.
class AboutScreen : public VirtualDialog {
public:
    static constexpr int kVersion = 3401;
    static constexpr const wchar_t* kVersionText = L"2.2.2 (beta)";
    AboutScreen();
    intptr_t handle_message(const platform::Message& message) override;
};

// A one-line text input, reused with other titles and captions (nickname,
// custom status); OK hands the text to the caller, Cancel goes back.
class EntryScreen : public VirtualDialog {
public:
    static constexpr int kEdit = 1036;
    EntryScreen();
    // Shows the screen with this title, caption and text; `on_ok` decides
    // what happens next (the screen stays until it moves on).
    void ask(std::wstring title, std::wstring caption, std::wstring text,
             std::function<void(const std::wstring&)> on_ok);
    intptr_t handle_message(const platform::Message& message) override;

private:
    TextBox& edit_;
    std::function<void(const std::wstring&)> on_ok_;
};

// A Yes/No question (the first-run question about importing IM accounts).
class QuestionScreen : public VirtualDialog {
public:
    static constexpr int kText = 3411;
    QuestionScreen();
    // Shows the question; Yes goes back and runs `on_yes`, No goes back.
    void ask(std::wstring title, std::wstring text, std::function<void()> on_yes);
    intptr_t handle_message(const platform::Message& message) override;

private:
    Label& text_;
    std::function<void()> on_yes_;
};

} // namespace vokar::ui

#pragma once

#include <string>

#include "ui/text_box.h"
#include "ui/virtual_dialog.h"

namespace vokar::ui {

class MainScreens;

// "Vokar - Touch Dialer": the number being typed. Dial calls it; Send SMS and
// Invite carry it into those screens; the other commands are the main menu's.
class DialerScreen : public VirtualDialog {
public:
    static constexpr int kNumberEdit = 1023;
    explicit DialerScreen(MainScreens& hub);
    // Shows the dialer with `typed` in the field.
    void open(const std::wstring& typed);
    intptr_t handle_message(const platform::Message& message) override;
    const std::wstring& number() const { return number_.text(); }

private:
    void dial();

    MainScreens& hub_;
    TextBox& number_;
};

} // namespace vokar::ui

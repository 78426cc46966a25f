#pragma once

#include <string>

#include "ui/label.h"
#include "ui/virtual_dialog.h"

namespace vokar::ui {

// Opens a web address in the user's browser.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    // False when no browser could be started.
    virtual bool open(const std::string& url) = 0;
};

// "New version detected": asks whether to upgrade now. Yes opens the download
// address and ends the program after a second; No on a compulsory upgrade
// ends it after two seconds, on an optional one goes back.
class NewVersionScreen : public VirtualDialog {
public:
    static constexpr int kText = 3101;
    static constexpr int kDetails = 3102;
    static constexpr uint32_t kExitAfterYesMs = 1000;
    static constexpr uint32_t kExitAfterNoMs = 2000;

    explicit NewVersionScreen(UrlOpener& opener);

    // GUI thread: shows the screen for this version notice.
    void show(bool compulsory, const std::wstring& details, const std::string& url);

    intptr_t handle_message(const platform::Message& message) override;

    // Only web addresses are handed to the browser: the notice comes over the
    // network and could otherwise name a local program or file.
    static bool is_web_address(const std::string& url);

private:
    void finish(int text_id, uint32_t exit_after_ms);

    UrlOpener& opener_;
    Label& text_;
    Label& details_;
    bool compulsory_ = false;
    bool finishing_ = false;
    std::string url_;
};

} // namespace vokar::ui

#pragma once

#include <functional>
#include <string>

#include "ui/ui_root.h"
#include "webapi/web_request.h"

namespace vokar::app {

// The web requests' progress screen and final messages, on the windowed
// client's UiRoot.
class WebRequestScreens final : public WebRequestUi {
public:
    explicit WebRequestScreens(ui::UiRoot& root) : root_(root) {}

    void show_progress(const std::wstring& text, std::function<void(int command)> on_key) override;
    void hide_progress() override;
    void show_message(const std::wstring& text, bool error, MessagePlacement placement) override;

private:
    ui::UiRoot& root_;
};

} // namespace vokar::app

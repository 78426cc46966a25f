#include "ui/message_screen.h"

#include "base/strings.h"
#include "ui/chat_view.h"
#include "ui/image_ids.h"
#include "ui/menus.h"
#include "ui/theme.h"
#include "ui/ui_messages.h"
#include "ui/ui_root.h"

namespace vokar::ui {
namespace {

constexpr int kMessageMenu = 113;

} // namespace

MessageScreen::MessageScreen() : VirtualDialog(L"Vokar", kMessageMenu) {}

MessageScreen::~MessageScreen()
{
    cancel_auto_close();
}

void MessageScreen::set_message(const std::wstring& text, MessageKind kind, bool auto_close)
{
    cancel_auto_close();
    text_ = text;
    kind_ = kind;
    set_title(kind == MessageKind::Error ? LoadResourceString(StringId::ERROR_TITLE) : L"Vokar");
    if (auto_close && root()) {
        auto_close_ = root()->timers().start(kAutoCloseMs, 0, [this] {
            auto_close_ = 0;
            if (root()->current() == this)
                root()->back();
        });
    }
    invalidate();
}

intptr_t MessageScreen::handle_message(const platform::Message& message)
{
    if (message.code == code(UiMessage::Command) &&
        (message.wparam == command(CommandId::OK) || message.wparam == command(CommandId::CLOSE))) {
        root()->back();
        return 1;
    }
    if (message.code == code(UiMessage::KeyDown) &&
        (static_cast<platform::Key>(message.wparam) == platform::Key::Action ||
         static_cast<platform::Key>(message.wparam) == platform::Key::Back)) {
        root()->back();
        return 1;
    }
    return VirtualDialog::handle_message(message);
}

void MessageScreen::paint(platform::Canvas& canvas)
{
    const platform::Rect& r = client();
    int x = r.x + theme::kMargin;
    const ImageId icon = kind_ == MessageKind::Error     ? ImageId::Error
                         : kind_ == MessageKind::Warning ? ImageId::Warning
                                                         : ImageId::Success;
    if (canvas.image(image(icon), x, r.y + 8))
        x += canvas.image_size(image(icon)).w + theme::kMargin;
    const int width = r.right() - theme::kMargin - x;
    const int line_h = canvas.line_height(theme::kTextFont);
    int y = r.y + 8;
    for (const std::wstring& line : wrap_text(canvas, text_, width, theme::kTextFont)) {
        if (y + line_h > r.bottom())
            break;
        canvas.text({x, y, width, line_h}, line, theme::kTextFont, theme::kText);
        y += line_h;
    }
}

void MessageScreen::deactivate()
{
    // Dismissed: a pending auto-close must not take away a later screen.
    cancel_auto_close();
    VirtualDialog::deactivate();
}

void MessageScreen::cancel_auto_close()
{
    if (auto_close_ != 0 && root())
        root()->timers().stop(auto_close_);
    auto_close_ = 0;
}

} // namespace vokar::ui

#include "ui/login_footer.h"

#include "base/strings.h"
#include "ui/theme.h"

namespace vokar::ui {

std::wstring LoginFooter::text() const
{
    if (connected_)
        return LoadResourceString(StringId::LOGIN_FOOTER_ESTABLISHED);
    return LoadResourceString(checking_ ? StringId::LOGIN_FOOTER_CHECKING_NETWORK
                                        : StringId::LOGIN_FOOTER_ESTABLISHING);
}

void LoginFooter::paint(platform::Canvas& canvas, bool)
{
    const platform::Rect& r = rect();
    canvas.fill_gradient(r, theme::kBarTop, theme::kBarBottom);
    canvas.text({r.x + 24, r.y, r.w - 28, r.h}, text(), theme::kTextFont, theme::kBarText);
    // Three pips on the left: all lit once connected, one moving while waiting.
    for (int i = 0; i < 3; ++i) {
        const bool lit = connected_ || i == frame();
        canvas.fill({r.x + 4 + i * 6, r.y + r.h / 2 - 2, 4, 4},
                    lit ? theme::kSelectionTop : theme::kFrame);
    }
}

void LoginFooter::on_activate()
{
    if (!connected_)
        start(kStepMs, kStepMs);
}

void LoginFooter::describe(ControlView& view) const
{
    CustomControl::describe(view);
    view.text = view.shown = text();
    view.checked = connected_;
    view.selection = frame();
}

void LoginFooter::set_connected(bool connected)
{
    connected_ = connected;
    if (connected)
        stop();
    else
        start(kStepMs, kStepMs);
    invalidate();
}

void LoginFooter::set_checking(bool checking)
{
    checking_ = checking;
    invalidate();
}

} // namespace vokar::ui

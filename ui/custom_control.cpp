#include "ui/custom_control.h"

#include "ui/virtual_dialog.h"

namespace vokar::ui {

void CustomControl::describe(ControlView& view) const
{
    view.id = id_;
    view.kind = kind();
    view.visible = visible_;
}

void CustomControl::move(const platform::Rect& r)
{
    rect_ = r;
    invalidate();
}

void CustomControl::set_visible(bool visible)
{
    if (visible_ == visible)
        return;
    visible_ = visible;
    invalidate();
}

void CustomControl::set_enabled(bool enabled)
{
    enabled_ = enabled;
    invalidate();
}

void CustomControl::invalidate()
{
    if (owner_)
        owner_->invalidate();
}

} // namespace vokar::ui

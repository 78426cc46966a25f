#include "ui/animated_control.h"

#include "ui/ui_root.h"
#include "ui/virtual_dialog.h"

namespace vokar::ui {

AnimatedControl::~AnimatedControl()
{
    stop();
}

UiTimers* AnimatedControl::timers() const
{
    return owner() && owner()->root() ? &owner()->root()->timers() : nullptr;
}

void AnimatedControl::start(uint32_t first_ms, uint32_t period_ms)
{
    stop();
    UiTimers* t = timers();
    if (!t)
        return;
    timer_ = t->start(first_ms, period_ms, [this] {
        frame_ = (frame_ + 1) % 3;
        invalidate();
    });
}

void AnimatedControl::stop()
{
    if (timer_ == 0)
        return;
    if (UiTimers* t = timers())
        t->stop(timer_);
    timer_ = 0;
}

} // namespace vokar::ui

#pragma once

#include <cstdint>

#include "ui/custom_control.h"
#include "ui/ui_timers.h"

namespace vokar::ui {

// A control whose frame counter steps through 0, 1, 2, 0, ... on a GUI-thread
// timer while it runs, repainting after each step. It stops when its screen
// stops being current.
class AnimatedControl : public CustomControl {
public:
    using CustomControl::CustomControl;
    ~AnimatedControl() override;

    // Steps after `first_ms`, then every `period_ms`. Restarts a running one.
    void start(uint32_t first_ms, uint32_t period_ms);
    void stop();
    bool running() const { return timer_ != 0; }
    int frame() const { return frame_; }
    void on_deactivate() override { stop(); }

private:
    UiTimers* timers() const;

    UiTimers::Id timer_ = 0;
    int frame_ = 0;
};

} // namespace vokar::ui

#pragma once

#include <string>

#include "ui/animated_control.h"

namespace vokar::ui {

// The waiting indicator of the progress screen: a text over three dots, one
// lit per frame, stepping every 400 ms while its screen is current.
class ProgressAnimation : public AnimatedControl {
public:
    static constexpr uint32_t kStepMs = 400;

    explicit ProgressAnimation(int id = 0) : AnimatedControl(id) {}

    ControlKind kind() const override { return ControlKind::Progress; }
    int preferred_height() const override { return 60; }
    void paint(platform::Canvas& canvas, bool focused) override;
    void on_activate() override { start(kStepMs, kStepMs); }
    void describe(ControlView& view) const override;

    const std::wstring& text() const { return text_; }
    void set_text(std::wstring text);

private:
    std::wstring text_;
};

} // namespace vokar::ui

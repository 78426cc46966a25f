#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/input.h"
#include "platform/sdl_window.h"
#include "platform/window.h"
#include "ui/ui_root.h"
#include "ui/ui_view.h"

namespace vokar::ui::testing {

// Drives a UiRoot in SDL's off-screen window from the test thread, which is
// the GUI thread. Input goes through SDL's event queue like a user's; time
// moves only when the test advances the manual clock.
class UiDriver {
public:
    explicit UiDriver(platform::Size logical = {240, 320}, int scale = 2);
    ~UiDriver();

    UiRoot& root() { return *root_; }
    platform::SdlWindow& window() { return *window_; }
    platform::ManualClock& clock() { return clock_; }
    platform::MessagePump& pump() { return pump_; }

    // Presses a key, holds it for `hold_ms` of the manual clock, releases it,
    // and handles everything that follows.
    void press(platform::Key key, uint32_t hold_ms = 0);
    // Types text (characters other than the keypad's) as text input.
    void type(const std::wstring& text);
    // Advances the manual clock and runs the timers that become due.
    void advance(uint32_t ms);
    // Handles queued input and messages until none are left.
    void settle();
    // Runs the event loop until `done` holds for the view, up to `ms` of real
    // time (for messages from other threads); returns whether it held.
    bool wait_for(const std::function<bool(const UiView&)>& done, uint32_t ms = 5000);
    UiView view() const { return root_->view(); }
    // Saves the current frame as NAME.png in the build folder's screenshot
    // directory; returns the path, empty on failure.
    std::string screenshot(const std::string& name);

private:
    platform::MessagePump pump_;
    platform::ManualClock clock_{1000};
    std::unique_ptr<platform::SdlWindow> window_;
    std::unique_ptr<UiRoot> root_;
};

} // namespace vokar::ui::testing

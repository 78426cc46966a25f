#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/canvas.h"
#include "platform/input.h"
#include "platform/window.h"

namespace vokar::platform {

struct WindowOptions {
    std::wstring_view title = L"Vokar";
    Size logical{240, 320};
    int scale = 2;
    // SDL's off-screen video driver: no display needed (tests, benchmarks).
    bool offscreen = false;
};

// What the window reports to the user interface, on the GUI thread.
class WindowEvents {
public:
    virtual ~WindowEvents() = default;
    virtual void on_input(const InputEvent& event) = 0;
    // The client area changed; `logical` is in logical pixels.
    virtual void on_resize(Size logical) = 0;
    // The user asked to close the window.
    virtual void on_close() = 0;
};

// The one desktop window of the client, driven by SDL's event loop on the GUI
// thread (the thread that owns `pump`). Messages queued on the pump from other
// threads wake the loop through the pump's wake hook. With
// SDL_VIDEODRIVER=offscreen it runs without a display. Initialises only SDL's
// video and event subsystems, so SDL audio used elsewhere is unaffected.
class SdlWindow {
public:
    // Throws std::runtime_error when SDL cannot make the window.
    SdlWindow(MessagePump& pump, const WindowOptions& options = {});
    ~SdlWindow();
    SdlWindow(const SdlWindow&) = delete;
    SdlWindow& operator=(const SdlWindow&) = delete;

    Canvas& canvas();
    // The client area in logical pixels.
    Size client_size() const;
    void set_title(std::wstring_view title);
    // Hides or shows the window; the client keeps running while hidden.
    void set_visible(bool visible);
    // Shows the window and brings it to the front with the input focus.
    void raise();
    // Shows what was drawn into the canvas.
    void present();

    // Waits up to `timeout_ms` for an SDL event or a queued window message,
    // then handles every pending event and message; returns how many.
    size_t process_events(WindowEvents& sink, uint32_t timeout_ms);
    // Queues input through SDL as if the user had typed it.
    void push_input(const InputEvent& event);
    // Resizes the client area (logical pixels).
    void resize(Size logical);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace vokar::platform

#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/sdl_window.h"
#include "platform/window.h"
#include "ui/menus.h"
#include "ui/ui_timers.h"
#include "ui/ui_view.h"
#include "ui/virtual_dialog.h"

namespace vokar::ui {

class MessageScreen;
class ProgressScreen;

// The user interface: the dialog window with its title bar, screen area and
// soft-key bar, the registry of screens, the screen stack and the options
// popup. Created on the GUI thread, which runs its event loop.
class UiRoot : private platform::WindowEvents {
public:
    UiRoot(platform::MessagePump& pump, platform::SdlWindow& window, platform::Clock& clock);
    ~UiRoot() override;
    UiRoot(const UiRoot&) = delete;
    UiRoot& operator=(const UiRoot&) = delete;

    // The registry: creates a screen that lives as long as the root.
    template <class T, class... Args> T& add_screen(Args&&... args)
    {
        auto screen = std::make_unique<T>(std::forward<Args>(args)...);
        T& ref = *screen;
        screen->attach(*this);
        screens_.push_back(std::move(screen));
        return ref;
    }
    MessageScreen& message_screen() { return *message_screen_; }
    ProgressScreen& progress_screen() { return *progress_screen_; }

    // Any thread; posted, so they take effect on the GUI thread's next turn.
    void show_screen(VirtualDialog& screen);
    void replace_screen(VirtualDialog& screen);
    void reset_to_screen(VirtualDialog& screen);

    // GUI thread. Pops the current screen; the dialog ends with
    // kEndApplication when none is left.
    void back();
    void reactivate();
    // Asks for a repaint (coalesced); repaint() paints at once.
    void invalidate();
    void repaint();
    // Shows the soft keys of this menu until the next activation.
    void set_soft_keys(int menu_id);

    // Any thread (a worker blocks until the GUI thread has done it). The
    // message screen: shown over the current screen, or in its place when
    // `replace`; only repainted when it is already current. An auto-closing
    // message goes away by itself after 4 s.
    void message(const std::wstring& text, MessageKind kind, bool replace = false,
                 bool auto_close = false);
    // The progress screen with this text and soft-key menu; `on_command`
    // receives the soft keys' command identifiers.
    void progress(const std::wstring& text, int menu_id, std::function<void(uint16_t)> on_command);

    // Gets the dialog's messages before the current screen (controller events
    // that concern no particular screen); returns a result when it handled one.
    using GlobalHandler = std::function<std::optional<intptr_t>(const platform::Message&)>;
    void set_global_handler(GlobalHandler handler) { global_handler_ = std::move(handler); }
    // Gets vokar::MessageCode::CallChanged whatever screen is current.
    void set_call_screen(VirtualDialog* screen) { call_screen_ = screen; }

    // Ends the dialog; run() returns.
    void end_dialog(int result);
    bool ended() const { return ended_; }
    int end_result() const { return end_result_; }

    // The dialog window: other threads post their messages here.
    platform::Window window() const { return window_; }
    platform::MessagePump& pump() { return pump_; }
    UiTimers& timers() { return timers_; }
    platform::Clock& clock() { return clock_; }
    platform::Canvas& canvas() { return sdl_.canvas(); }
    VirtualDialog* current() const { return current_; }
    size_t depth() const { return stack_.size(); }
    // The area between the title bar and the soft-key bar.
    platform::Rect screen_area() const;
    // Height of one line of the text font, measured at the first activation.
    int line_height() const { return line_height_; }

    // One turn of the event loop: waits up to `max_wait_ms` (less when a timer
    // is due) for input or messages, handles them and runs due timers.
    // Returns how many events and messages it handled.
    size_t run_once(uint32_t max_wait_ms);
    // Runs the loop until the dialog ends; returns its result.
    int run();

    // GUI thread: what the user interface shows now.
    UiView view() const;
    // GUI thread: paints and writes the frame to a PNG file.
    bool screenshot(const std::string& path);

    // The dialog procedure: every message of the dialog window.
    intptr_t dialog_proc(const platform::Message& message);

private:
    void on_input(const platform::InputEvent& event) override;
    void on_resize(platform::Size logical) override;
    void on_close() override;

    void change_stack(uint32_t code, VirtualDialog* screen);
    void activate_current();
    void send_command(uint16_t command);
    bool popup_key(platform::Key key);
    const std::vector<MenuItem>* popup_items() const;
    void paint_frame(platform::Canvas& canvas);
    void paint_popup(platform::Canvas& canvas);
    void run_on_gui_thread(const std::function<void()>& fn);

    platform::MessagePump& pump_;
    platform::SdlWindow& sdl_;
    platform::Clock& clock_;
    UiTimers timers_;
    std::vector<std::unique_ptr<VirtualDialog>> screens_;
    MessageScreen* message_screen_ = nullptr;
    ProgressScreen* progress_screen_ = nullptr;
    std::deque<VirtualDialog*> stack_;
    VirtualDialog* current_ = nullptr;
    std::vector<const VirtualDialog*> activated_; // screens and pages activated at least once
    platform::Window window_;
    MenuItem left_key_;
    MenuItem right_key_;
    int soft_keys_menu_ = 0;
    // The open popup: the selected entry of each open level.
    std::vector<int> popup_path_;
    GlobalHandler global_handler_;
    VirtualDialog* call_screen_ = nullptr;
    bool first_activation_done_ = false;
    bool repaint_pending_ = false;
    bool painted_once_ = false;
    int line_height_ = 0;
    bool ended_ = false;
    int end_result_ = 0;
};

} // namespace vokar::ui

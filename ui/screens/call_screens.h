#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/call_controller.h"
#include "platform/window.h"
#include "ui/custom_control.h"
#include "ui/ui_timers.h"
#include "ui/virtual_dialog.h"

namespace vokar {
class PhoneInterface;
}

namespace vokar::ui {

class UiRoot;
class CallScreens;

// A line of text drawn centred (the call screens' name, state and counter).
class CenteredText : public CustomControl {
public:
    CenteredText(int id, std::wstring text, platform::Font font, int height);

    ControlKind kind() const override { return ControlKind::Label; }
    int preferred_height() const override { return height_; }
    void paint(platform::Canvas& canvas, bool focused) override;
    void describe(ControlView& view) const override;

    const std::wstring& text() const { return text_; }
    void set_text(std::wstring text);

private:
    std::wstring text_;
    platform::Font font_;
    int height_;
};

// The in-call volume, a step from 0 to kSteps - 1: Left and Down make it
// softer, Right and Up louder. `on_change` hears the user's changes only.
class VolumeControl : public CustomControl {
public:
    static constexpr int kSteps = 8;

    VolumeControl(int id, std::function<void(int)> on_change);

    ControlKind kind() const override { return ControlKind::ChoiceList; }
    int preferred_height() const override { return 30; }
    void paint(platform::Canvas& canvas, bool focused) override;
    bool handle_key(platform::Key key) override;
    void describe(ControlView& view) const override;

    int value() const { return value_; }
    // Clamped to the steps.
    void set_value(int value);

private:
    std::function<void(int)> on_change_;
    int value_ = 3;
};

// "Vokar - Call": the other party, the call's state or end text, the mm:ss
// duration counter while talking and the volume. Digit keys and # play their
// key tones into the call; Hangup, Cancel (while the call is set up) and the
// End key (on key-up) hang up.
class CallScreen : public VirtualDialog {
public:
    static constexpr int kName = 3501;
    static constexpr int kStatus = 3502;
    static constexpr int kDuration = 3503;
    static constexpr int kVolume = 3504;

    explicit CallScreen(CallScreens& owner);
    intptr_t handle_message(const platform::Message& message) override;
    void layout(const platform::Rect& client) override;
    void paint(platform::Canvas& canvas) override;

    // The call on view; null once it is over and detached.
    CallController* call() const { return call_.get(); }

private:
    friend class CallScreens;
    friend class OutgoingCallScreen;

    // Shows `call`, which the screen now holds.
    void show_call(std::shared_ptr<CallController> call);
    // Name, state text, soft keys, counter and volume from the call.
    void refresh();
    // The call is over: the counter stops, the end text stays, the settings
    // are saved and the call is let go; 500 ms later the screen goes back if
    // it is still the current screen.
    void finish();
    // Hangs the call up here, then finishes it.
    void hang_up();
    void show_duration();
    void stop_counter();

    CallScreens& owner_;
    CenteredText& name_;
    CenteredText& status_;
    CenteredText& duration_;
    VolumeControl& volume_;
    std::shared_ptr<CallController> call_;
    UiTimers::Id counter_ = 0;
    uint32_t talk_start_ = 0;
    bool talking_seen_ = false;
};

// "Vokar - Outgoing call": on top of the call screen while a call that went
// out over SIP (charged) is set up. Reject cancels the call and returns to
// the root screen.
class OutgoingCallScreen : public VirtualDialog {
public:
    static constexpr int kExternal = 3511;
    static constexpr int kCharged = 3512;

    explicit OutgoingCallScreen(CallScreens& owner);
    intptr_t handle_message(const platform::Message& message) override;
    void activate(bool first_time) override;

private:
    friend class CallScreens;
    CallScreens& owner_;
    // Still wanted on view; cleared when the call connects or ends.
    bool wanted_ = false;
};

// "Vokar - Incoming Call": the caller; Accept answers, Reject refuses. Both,
// and the caller giving up, are written to the call log.
class IncomingCallScreen : public VirtualDialog {
public:
    static constexpr int kText = 3521;
    static constexpr int kCaller = 3522;

    explicit IncomingCallScreen(CallScreens& owner);
    intptr_t handle_message(const platform::Message& message) override;

    CallController* call() const { return call_.get(); }

private:
    friend class CallScreens;
    void show_call(std::shared_ptr<CallController> call);

    CallScreens& owner_;
    CenteredText* caller_ = nullptr;
    std::shared_ptr<CallController> call_;
};

// The call screens and the call window messages (CallCreated, CallIncoming,
// CallChanged, CallConnected, CallMissed, CallOver, CallAudioStopped and
// CallMoved), which
// the client's global handler hands to handle_event whatever screen is
// current. A screen holds its call while it shows it; the phones hold it
// while it is theirs. The message parameter is only matched against the
// calls held here, never followed otherwise, except in the sent messages
// that announce a new call (the sender keeps it alive meanwhile).
class CallScreens {
public:
    struct Services {
        // The phone every outgoing call starts on; a call owned by another
        // phone has moved to SIP.
        const PhoneInterface* jingle_phone = nullptr;
        // Writes an incoming call to the call log (kCallIncoming, kCallMissed).
        std::function<void(const std::wstring& number, const std::wstring& name, int type)>
            log_call;
        // The stored call volume (0 to 7).
        std::function<int()> call_volume;
        // Saves the settings (the call volume with them).
        std::function<void()> save_settings;
        // Lets go of a finished call; empty: dropped on the GUI thread. A call
        // freed last frees its audio engine, which joins its threads.
        std::function<void(std::shared_ptr<CallController>)> release;
        // Makes the root screen (the main screen) the only one.
        std::function<void()> show_home;
        // Shows the main window and brings it to the front.
        std::function<void()> raise_window;
        // Plays a key tone in the call; empty: CallController::playKeyTone.
        std::function<void(CallController&, int tone)> key_tone;
    };

    static constexpr uint32_t kBackDelayMs = 500;
    static constexpr uint32_t kRaiseDelayMs = 150;

    // Registers the three screens with `root`.
    CallScreens(UiRoot& root, Services services);
    // Lets go of every call the screens hold and stops their timers; the
    // screens stay registered with the root.
    ~CallScreens();
    CallScreens(const CallScreens&) = delete;
    CallScreens& operator=(const CallScreens&) = delete;

    // GUI thread: a call window message; nothing for other messages.
    std::optional<intptr_t> handle_event(const platform::Message& message);

    CallScreen& call_screen() { return *call_; }
    OutgoingCallScreen& outgoing_screen() { return *outgoing_; }
    IncomingCallScreen& incoming_screen() { return *incoming_; }

private:
    friend class CallScreen;
    friend class OutgoingCallScreen;
    friend class IncomingCallScreen;

    void on_created(CallController* call);
    void on_incoming(CallController* call);
    void on_changed(CallController* call);
    void on_missed(CallController* call);
    void on_over(CallController* call);
    // The outgoing-call screen goes (at once when current, else when next
    // activated).
    void drop_outgoing();
    // Shows the call screen with `call` (in the current screen's place when
    // `replace`), hanging up a call it still shows.
    void show_on_call_screen(std::shared_ptr<CallController> call, bool replace);
    void release(std::shared_ptr<CallController> call);
    // A GUI timer that the destructor stops.
    void start_timer(uint32_t delay_ms, std::function<void()> fn);
    // Keeps a finished call until it is let go kBackDelayMs later.
    void finish_later(std::shared_ptr<CallController> call);
    void log_call(const CallController& call, int type);

    UiRoot& root_;
    Services services_;
    CallScreen* call_ = nullptr;
    OutgoingCallScreen* outgoing_ = nullptr;
    IncomingCallScreen* incoming_ = nullptr;
    // The call the outgoing-call screen was shown for (identity only).
    const CallController* outgoing_for_ = nullptr;
    std::vector<std::shared_ptr<CallController>> finishing_;
    std::vector<UiTimers::Id> timers_;
};

} // namespace vokar::ui

#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/client.h"
#include "platform/audio_device.h"
#include "tests/support/full_stack.h"
#include "ui_driver.h"

namespace vokar::ui::testing {

struct LiveUiOptions {
    // The stack to run against; null: the fixture starts its own with
    // LiveUi::kAccounts (and `extra_config`).
    test::FullStack* stack = nullptr;
    std::map<std::string, std::string> extra_config;
    // The client's call audio: "none", or WAV files (see platform::AudioChoice).
    platform::AudioChoice audio{"none", "none"};
    // The new-message beep's speaker: "none" or the path of a WAV file.
    std::string alert_out = "none";
    // Starts as a fresh installation, which asks at its first login whether
    // to import IM accounts; false: as one that ran before, which does not.
    bool first_run = false;
};

// The windowed client against the whole operator stack on loopback: a
// UiDriver (off-screen SDL; the test thread is the GUI thread) with an
// app::Client on it, its data directory in a scratch folder. The core runs
// on real time; the screens' timers on the driver's manual clock.
//
//   LiveUi live;
//   ASSERT_TRUE(live.start()) << live.error();
//   ASSERT_TRUE(live.log_in(LiveUi::kAccounts[0].user, LiveUi::kAccounts[0].password));
class LiveUi {
public:
    // Numbers, so that they can be typed on the keypad.
    static inline const std::vector<test::XmppAccount> kAccounts = {
        {"15550101", "first-pass"},
        {"15550102", "second-pass"},
    };

    explicit LiveUi(LiveUiOptions options = {});
    // Against a stack the test started (and owns), with the other defaults.
    explicit LiveUi(test::FullStack& stack);
    // Stops the client (it logs out), then its own stack.
    ~LiveUi();
    LiveUi(const LiveUi&) = delete;
    LiveUi& operator=(const LiveUi&) = delete;

    // Starts the stack (when the fixture owns it) and the client, which shows
    // the login screen; false with error() when something does not come up.
    bool start();
    const std::string& error() const { return error_; }
    // Shuts the client down as the program does once its dialog has ended:
    // the GUI pump stops, then the client logs out and goes. client() and
    // program() are gone afterwards.
    void stop();

    // Waits (real time) until the network monitor reports a network.
    bool wait_for_network(uint32_t ms = 30000);
    // Types the number and password on the login screen like a user, presses
    // Login and waits (real time) until the main screen is current; false when
    // the login ends otherwise (the message screen then shows why).
    bool log_in(const std::string& number, const std::string& password, uint32_t ms = 30000);
    // Waits (real time) until the main screen is current or an error message
    // ended the login; whether the main screen is current (or, with first_run,
    // the import question that comes over it).
    bool wait_for_main_screen(uint32_t ms = 30000);
    // Runs the GUI (real time) until `done` holds, up to `ms`. The core's
    // threads wait for the GUI thread, so a test waits for anything else
    // (a second client's events, a file) through this, never by blocking.
    bool pump_until(const std::function<bool()>& done, uint32_t ms = 10000);
    // Whether this screen is the current one.
    bool showing(const VirtualDialog& screen) { return driver_.root().current() == &screen; }

    UiDriver& driver() { return driver_; }
    app::Client& client() { return *client_; }
    Program& program() { return client_->program(); }
    test::FullStack& stack() { return *stack_; }
    // The client's data directory, ending with '/'.
    const std::string& data_dir() const { return data_dir_; }

private:
    class NoBrowser final : public UrlOpener {
    public:
        bool open(const std::string&) override { return false; }
    };

    // Makes the login screen current and its number field focused.
    bool to_login_screen();
    void clear_focused_field();

    LiveUiOptions options_;
    std::unique_ptr<test::FullStack> own_stack_;
    test::FullStack* stack_ = nullptr;
    std::string data_dir_;
    NoBrowser opener_;
    UiDriver driver_;
    std::unique_ptr<app::Client> client_;
    std::string error_;
};

} // namespace vokar::ui::testing

#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/alert_sound.h"
#include "app/client_ui.h"
#include "app/web_request_screens.h"
#include "core/program.h"
#include "platform/clock.h"
#include "platform/network.h"
#include "platform/operator_config.h"
#include "ui/screens/account_screens.h"
#include "ui/screens/app_friends_service.h"
#include "ui/screens/call_screens.h"
#include "ui/screens/login_screen.h"
#include "ui/screens/main_screen.h"
#include "ui/screens/new_version_screen.h"
#include "ui/screens/settings_screens.h"
#include "ui/screens/simple_screens.h"
#include "ui/screens/sms_screens.h"
#include "ui/ui_root.h"
#include "webapi/account_web_api.h"

namespace vokar::app {

// The windowed client: the core's Program with the UiRoot as its user
// interface, and the screens wired to it. Created on the GUI thread.
class Client {
public:
    struct Options {
        platform::OperatorConfig config;
        // The data directory, ending with '/'.
        std::string data_dir;
        // Null: the machine's adapters and the system pinger.
        std::unique_ptr<platform::AdapterSource> adapters;
        std::unique_ptr<platform::Pinger> pinger;
        // Empty: the real SIP stack.
        SipPhone::StackFactory make_stack;
        // Hides the window (the client keeps running).
        std::function<void()> hide;
        // Opens the new version's download address.
        ui::UrlOpener& opener;
        platform::Clock& clock = platform::system_clock();
        // The call audio's devices; empty: those of platform::default_audio_choice().
        std::function<std::unique_ptr<platform::AudioDevices>()> make_audio_devices = {};
        // Opens the speaker of the new-message beep, once per beep. Empty: the
        // default speaker when that is the sound card (a WAV file is the
        // calls'), else none.
        AlertSound::OpenSpeaker open_alert_speaker = {};
    };

    Client(ui::UiRoot& root, Options options);
    // Logs out of both services and tears the Program down. The GUI pump must
    // have stopped (what the core still shows is then dropped) or keep running
    // on another thread.
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Shows the login screen and starts the network monitor.
    void start();

    Program& program() { return *program_; }
    // The account web service's requests, shown on this client's screens.
    AccountWebApi& web_api() { return *web_api_; }
    ui::LoginScreen& login_screen() { return *login_; }
    ui::MainScreen& main_screen() { return *main_; }
    ui::MainScreens& main_screens() { return *main_screens_; }
    ui::NewVersionScreen& new_version_screen() { return *new_version_; }
    ui::SettingsScreen& settings_screen() { return *settings_; }
    ui::QuestionScreen& question_screen() { return *question_; }
    ui::FriendsSettingsScreen& friends_settings_screen() { return *friends_settings_; }
    ui::CallScreens& call_screens() { return *call_screens_; }
    ui::SendSmsScreen& send_sms_screen() { return *send_sms_; }
    ui::InviteScreen& invite_screen() { return *invite_; }

private:
    std::optional<intptr_t> handle_event(const platform::Message& message);
    void log_in(const std::wstring& user, const std::wstring& password);
    void main_command(uint16_t command);
    // The contacts picker for the SMS and invitation screens.
    void pick_contact(ui::ContactPicked on_pick);
    void create_account(const std::wstring& number, const std::wstring& password,
                        const std::wstring& nickname, const std::wstring& email,
                        const std::wstring& country_code);

    ui::UiRoot& root_;
    ClientUi ui_;
    std::unique_ptr<Program> program_;
    WebRequestScreens web_screens_;
    std::unique_ptr<AccountWebApi> web_api_;
    // Installed as the platform's sound back-end while the client lives.
    std::shared_ptr<AlertSound> alert_;
    ui::LoginScreen* login_ = nullptr;
    ui::MainScreen* main_ = nullptr;
    ui::NewVersionScreen* new_version_ = nullptr;
    ui::SettingsScreen* settings_ = nullptr;
    ui::AboutScreen* about_ = nullptr;
    ui::EntryScreen* entry_ = nullptr;
    ui::QuestionScreen* question_ = nullptr;
    ui::CreateAccountScreen* create_account_ = nullptr;
    ui::SelectCountryScreen* select_country_ = nullptr;
    ui::FriendsSettingsScreen* friends_settings_ = nullptr;
    bool logged_in_once_ = false;
    std::unique_ptr<ui::AppFriendsService> friends_service_;
    std::unique_ptr<ui::MainScreens> main_screens_;
    // The call screens; they let go of their calls before the Program goes.
    std::unique_ptr<ui::CallScreens> call_screens_;
    // Send SMS and Invite a friend, on the web API.
    ui::SendSmsScreen* send_sms_ = nullptr;
    ui::InviteScreen* invite_ = nullptr;
    std::function<void()> hide_;
};

} // namespace vokar::app

#include "app/client.h"

#include "account/number_normalizer.h"
#include "base/messages.h"
#include "platform/text.h"
#include "platform/window.h"
#include "ui/screens/contacts_picker.h"
#include "ui/screens/gateway_screens.h"
#include "ui/ui_messages.h"
#include "xmpp/jabber_event.h"

namespace vokar::app {

namespace {

// Runs `fn` on the GUI thread (at once when called there); nothing once the
// pump has stopped.
void on_gui(ui::UiRoot& root, const std::function<void()>& fn)
{
    platform::send_message(root.window(), ui::code(ui::UiMessage::RunOnGuiThread),
                           reinterpret_cast<uintptr_t>(&fn));
}

AlertSound::OpenSpeaker default_alert_speaker()
{
    if (platform::default_audio_choice().out != "sdl")
        return {};
    return [] { return platform::make_audio_devices({"none", "sdl"})->open_wave_out(); };
}

} // namespace

Client::Client(ui::UiRoot& root, Options options) : root_(root), ui_(root), web_screens_(root)
{
    // The core's singletons in start-up order (see Program).
    program_ = std::make_unique<Program>(Program::Options{
        .config = std::move(options.config),
        .settings_path = options.data_dir + "__settings",
        .ui = ui_,
        .adapters = std::move(options.adapters),
        .pinger = std::move(options.pinger),
        .make_stack = std::move(options.make_stack),
        // Asked for after a login and by number normalisation; the web API
        // exists by then (no thread asks before start()).
        .request_dialing_prefix =
            [this] {
                if (web_api_)
                    web_api_->fetch_dialing_prefix();
            },
        .terminate = {},
        .clock = options.clock,
        .make_audio_devices = std::move(options.make_audio_devices),
    });
    Program& p = *program_;
    hide_ = options.hide;
    alert_ = std::make_shared<AlertSound>(options.open_alert_speaker
                                              ? std::move(options.open_alert_speaker)
                                              : default_alert_speaker());
    platform::set_sound_backend(alert_);
    web_api_ = std::make_unique<AccountWebApi>(p.settings(), p.config(), bearer_of(p.monitor()),
                                               &web_screens_, options.clock);

    login_ = &root.add_screen<ui::LoginScreen>(ui::LoginScreen::Actions{
        .network_available = [&p] { return p.monitor().connected(); },
        .normalize =
            [&p](const std::wstring& typed) {
                return normalize_number(typed, p.settings().get(&Settings::dialing_prefix), {});
            },
        .log_in = [this](const std::wstring& user,
                         const std::wstring& password) { log_in(user, password); },
        .stored_user = [&p] { return p.settings().get(&Settings::username); },
        .stored_password = [&p] { return p.settings().get(&Settings::password); },
        .autologin = [&p] { return p.settings().get(&Settings::autologin); },
        .udp_needs_tunnel = [&p] { return p.probe().needsTunnel(false); },
        .fetch_server_lists =
            [this, &p] {
                if (p.monitor().connected())
                    web_api_->fetch_servers();
            },
        .create_account = [this] { root_.show_screen(*create_account_); },
        .open_main_screen = [this] { root_.reset_to_screen(*main_); },
    });
    create_account_ = &root.add_screen<ui::CreateAccountScreen>(ui::CreateAccountScreen::Actions{
        .select_country = [this] { root_.show_screen(*select_country_); },
        .create =
            [this](const std::wstring& number, const std::wstring& password,
                   const std::wstring& nickname, const std::wstring& email,
                   const std::wstring& country_code) {
                create_account(number, password, nickname, email, country_code);
            },
    });
    select_country_ = &root.add_screen<ui::SelectCountryScreen>(*create_account_);
    about_ = &root.add_screen<ui::AboutScreen>();
    entry_ = &root.add_screen<ui::EntryScreen>();
    question_ = &root.add_screen<ui::QuestionScreen>();
    friends_service_ = std::make_unique<ui::AppFriendsService>(p.app(), p.settings());
    main_screens_ = std::make_unique<ui::MainScreens>(
        root, ui::MainScreens::Deps{
                  .service = *friends_service_,
                  .friends = p.friends(),
                  .contacts = p.contacts(),
                  .call_log = &p.call_log(),
                  .cellular = nullptr,
                  .entry = *entry_,
                  .question = *question_,
                  .actions = {
                      .hide = std::move(options.hide),
                      .other = [this](uint16_t command) { main_command(command); },
                      .send_sms = [this](const std::wstring& number) { send_sms_->show(number); },
                      .invite = [this](const std::wstring& number) { invite_->show(number); },
                  },
              });
    main_ = &main_screens_->main();
    p.friends().addWindow(root.window());
    new_version_ = &root.add_screen<ui::NewVersionScreen>(options.opener);
    settings_ = &root.add_screen<ui::SettingsScreen>(ui::SettingsScreen::Store{
        .load =
            [&p] {
                const Settings s = p.settings().values();
                return ui::SettingsScreen::Values{s.ring_volume, s.dialing_prefix, s.autologin};
            },
        .save =
            [&p](const ui::SettingsScreen::Values& v) {
                p.settings().update([&](Settings& s) {
                    s.ring_volume = v.ring_volume;
                    s.dialing_prefix = v.dialing_prefix;
                    s.autologin = v.autologin;
                });
                p.settings().save_soon();
            },
    });
    friends_settings_ =
        &root.add_screen<ui::FriendsSettingsScreen>(ui::FriendsSettingsScreen::Store{
            .load =
                [&p] {
                    const Settings s = p.settings().values();
                    return ui::FriendsSettingsScreen::Values{
                        s.message_alert, s.show_offline_friends, s.allow_holler};
                },
            .save =
                [&p](const ui::FriendsSettingsScreen::Values& v) {
                    p.settings().update([&](Settings& s) {
                        s.message_alert = v.message_alert;
                        s.show_offline_friends = v.show_offline_friends;
                        s.allow_holler = v.allow_holler;
                    });
                    p.settings().save_soon();
                },
            .edit_im_accounts = [this] { main_screens_->gateways().open(); },
        });
    call_screens_ = std::make_unique<ui::CallScreens>(
        root, ui::CallScreens::Services{
                  .jingle_phone = &p.app(),
                  .log_call = [&p](const std::wstring& number, const std::wstring& name,
                                   int type) { p.call_log().add(number, name, type); },
                  .call_volume = [&p] { return p.settings().get(&Settings::volume); },
                  .save_settings = [&p] { p.settings().save_soon(); },
                  // Freed on the disposal thread, which may join the call's audio.
                  .release =
                      [&p](std::shared_ptr<CallController> call) {
                          p.disposal().release_after(std::move(call), 0);
                      },
                  .show_home = [this] { root_.reset_to_screen(*main_); },
                  .raise_window = {},
                  .key_tone = {},
              });
    send_sms_ = &root.add_screen<ui::SendSmsScreen>(ui::SendSmsScreen::Actions{
        .send =
            [this](const std::wstring& recipient, const std::wstring& message,
                   std::function<void()> on_sent) {
                web_api_->send_sms(recipient, message, std::move(on_sent));
            },
        .pick_contact = [this](ui::ContactPicked on_pick) { pick_contact(std::move(on_pick)); },
        .other = [this](uint16_t command) { main_command(command); },
    });
    invite_ = &root.add_screen<ui::InviteScreen>(ui::InviteScreen::Actions{
        .invite = [this](const std::wstring& number) { web_api_->send_invitation(number); },
        .pick_contact = [this](ui::ContactPicked on_pick) { pick_contact(std::move(on_pick)); },
    });
    ui_.set_screens(ClientUi::Screens{
        .login = login_,
        .main = main_,
        .on_progress_command =
            [this](uint16_t) {
                // Cancel: both logins stop and the login screen comes back.
                program_->sip().logout();
                program_->app().logout();
                root_.reset_to_screen(*login_);
            },
        // Yes opens the IM gateway editor.
        .ask_import_accounts =
            [this] {
                question_->ask(LoadResourceString(StringId::IMPORT_IM_ACCOUNTS_TITLE),
                               LoadResourceString(StringId::IMPORT_IM_ACCOUNTS_QUESTION),
                               [this] { main_screens_->gateways().open(); });
            },
        .show_new_version =
            [this](const JabberEvent& event) {
                new_version_->show(event.force_update, platform::to_wide(event.update_message),
                                   event.update_url);
            },
        .network_check = [this](bool checking) { login_->network_check(checking); },
    });
    root.set_global_handler([this](const platform::Message& m) { return handle_event(m); });
    p.monitor().add_window(root.window());
}

Client::~Client()
{
    root_.set_global_handler({});
    main_screens_->stop();
    call_screens_.reset();
    // Its requests use the Program's settings and monitor.
    web_api_.reset();
    platform::set_sound_backend(nullptr);
    program_.reset();
}

void Client::start()
{
    root_.show_screen(*login_);
    main_screens_->start_loading();
    program_->start();
}

void Client::log_in(const std::wstring& user, const std::wstring& password)
{
    program_->settings().update([&](Settings& s) {
        s.username = user;
        s.password = password;
    });
    program_->settings().save_soon();
    logged_in_once_ = true;
    const std::string u = platform::to_utf8(user);
    const std::string pw = platform::to_utf8(password);
    program_->sip().login(u, pw);
    program_->app().login(u, pw);
}

void Client::create_account(const std::wstring& number, const std::wstring& password,
                            const std::wstring& nickname, const std::wstring& email,
                            const std::wstring& country_code)
{
    // A new account is put in the login screen's fields, ready to log in.
    web_api_->create_account(number, password, nickname, email, country_code,
                             [this, number, password] {
                                 on_gui(root_, [&] { login_->set_credentials(number, password); });
                             });
}

void Client::pick_contact(ui::ContactPicked on_pick)
{
    main_screens_->picker().pick(ui::ContactsPicker::kCancelMenu, std::move(on_pick));
}

void Client::main_command(uint16_t command)
{
    constexpr uint16_t kSettings = 10006;
    constexpr uint16_t kFriendsSettings = 10024;
    constexpr uint16_t kCheckBalance = 10005;
    constexpr uint16_t kHide = 10007;
    if (command == kCheckBalance)
        web_api_->check_balance();
    else if (command == kHide && hide_)
        hide_();
    constexpr uint16_t kAbout = 10008;
    if (command == kAbout)
        root_.show_screen(*about_);
    else if (command == kSettings)
        root_.show_screen(*settings_);
    else if (command == kFriendsSettings)
        root_.show_screen(*friends_settings_);
}

std::optional<intptr_t> Client::handle_event(const platform::Message& message)
{
    if (const auto handled = call_screens_->handle_event(message))
        return handled;
    switch (static_cast<MessageCode>(message.code)) {
    case MessageCode::BearerLabelChanged:
        // The login screen acts on it (warning, server lists, automatic login)
        // only while it is current: over a session it would log in again.
        if (root_.current() == login_)
            login_->network_status_changed();
        else
            login_->show_network_status();
        return 0;
    default:
        if (program_->on_bearer_message(static_cast<MessageCode>(message.code), logged_in_once_))
            return 0;
        return main_screens_->handle_event(message);
    }
}

} // namespace vokar::app

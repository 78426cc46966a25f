// The windowed client: one per data directory, the core's Program with the
// UiRoot as its user interface, run on the GUI thread until the user leaves.

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "account/number_normalizer.h"
#include "app/client_ui.h"
#include "app/instance_channel.h"
#include "base/messages.h"
#include "base/strings.h"
#include "core/program.h"
#include "platform/clock.h"
#include "platform/data_dir.h"
#include "platform/operator_config.h"
#include "platform/sdl_window.h"
#include "platform/text.h"
#include "platform/window.h"
#include "ui/screens/login_screen.h"
#include "ui/screens/main_screen.h"
#include "ui/ui_messages.h"
#include "ui/ui_root.h"

namespace vokar::app {
namespace {

// Exit codes: another client runs on this data directory and came to the front.
constexpr int kExitRaisedOther = 1337;
constexpr int kExitFailure = 1;
constexpr auto kRaiseAnswerLimit = std::chrono::seconds(2);

// The user interface reads it: false on this desktop client (no touch screen).
constexpr bool kPlatformIsTouchScreen = false;
// The language of the string table: the built-in one.
const std::string kLanguageCode;

// Brings the window to the front when another start asks for it; a request
// that comes before the window exists is kept until it does.
class RaiseTarget {
public:
    void raise()
    {
        std::unique_lock lock(mutex_);
        if (!root_) {
            pending_ = true;
            return;
        }
        ui::UiRoot* root = root_;
        platform::SdlWindow* window = window_;
        lock.unlock();
        const std::function<void()> fn = [window] { raise_window(*window); };
        platform::send_message(root->window(), ui::code(ui::UiMessage::RunOnGuiThread),
                               reinterpret_cast<uintptr_t>(&fn));
    }

    // GUI thread.
    void set(ui::UiRoot* root, platform::SdlWindow* window)
    {
        bool pending;
        {
            std::lock_guard lock(mutex_);
            root_ = root;
            window_ = window;
            pending = pending_ && root;
            pending_ = false;
        }
        if (pending)
            raise_window(*window);
    }

private:
    static void raise_window(platform::SdlWindow& window)
    {
        window.raise();
        std::printf("vokar: brought to the front\n");
        std::fflush(stdout);
    }

    std::mutex mutex_;
    ui::UiRoot* root_ = nullptr;
    platform::SdlWindow* window_ = nullptr;
    bool pending_ = false;
};

int run_client()
{
    std::string error;
    const std::string dir = platform::data_directory(&error);
    if (dir.empty()) {
        std::fprintf(stderr, "vokar: %s\n", error.c_str());
        return kExitFailure;
    }
    platform::InstanceLock lock;
    if (!lock.acquire(dir, &error)) {
        if (InstanceChannel::raise_running(dir, kRaiseAnswerLimit))
            return kExitRaisedOther;
        std::fprintf(stderr, "vokar: %s, and it did not answer\n", error.c_str());
        return kExitFailure;
    }
    RaiseTarget raise_target;
    InstanceChannel channel(dir, [&raise_target] { raise_target.raise(); });
    std::printf("vokar ready data=%s\n", dir.c_str());
    std::fflush(stdout);

    const auto config = platform::OperatorConfig::from_environment(&error);
    if (!config) {
        std::fprintf(stderr, "vokar: %s\n", error.c_str());
        return kExitFailure;
    }
    (void)kPlatformIsTouchScreen;
    (void)kLanguageCode;

    platform::MessagePump pump;
    platform::SdlWindow window(pump, {.title = LoadResourceString(StringId::APP_NAME)});
    ui::UiRoot root(pump, window, platform::system_clock());
    ClientUi client_ui(root);

    // Created in start-up order; its destructor logs out of both services.
    auto program = std::make_unique<Program>(Program::Options{
        .config = *config,
        .settings_path = dir + "__settings",
        .ui = client_ui,
        .adapters = nullptr,
        .pinger = nullptr,
        .make_stack = {},
        .request_dialing_prefix = {},
        .terminate = {},
    });
    Program& p = *program;
    bool logged_in_once = false;

    auto& login = root.add_screen<ui::LoginScreen>(ui::LoginScreen::Actions{
        .network_available = [&p] { return p.monitor().connected(); },
        .normalize =
            [&p](const std::wstring& typed) {
                return normalize_number(typed, p.settings().get(&Settings::dialing_prefix), [] {});
            },
        .log_in =
            [&p, &logged_in_once](const std::wstring& user, const std::wstring& password) {
                p.settings().update([&](Settings& s) {
                    s.username = user;
                    s.password = password;
                });
                p.settings().save();
                logged_in_once = true;
                p.sip().login(platform::to_utf8(user), platform::to_utf8(password));
                p.app().login(platform::to_utf8(user), platform::to_utf8(password));
            },
        .stored_user = [&p] { return p.settings().get(&Settings::username); },
        .stored_password = [&p] { return p.settings().get(&Settings::password); },
        .autologin = [&p] { return p.settings().get(&Settings::autologin); },
        .udp_needs_tunnel = [&p] { return p.probe().needsTunnel(false); },
        .fetch_server_lists = {},
        .create_account = {},
        .open_main_screen = {},
    });
    auto& main_screen = root.add_screen<ui::MainScreen>(ui::MainScreen::Actions{
        .hide = [&window] { window.set_visible(false); },
        .other = {},
    });
    client_ui.set_screens(ClientUi::Screens{
        .login = &login,
        .main = &main_screen,
        .on_progress_command =
            [&p, &root, &login](uint16_t) {
                // Cancel: both logins stop and the login screen comes back.
                p.sip().logout();
                p.app().logout();
                root.reset_to_screen(login);
            },
        .ask_import_accounts = {},
        .show_new_version = {},
        .network_check = {},
    });
    root.set_global_handler([&](const platform::Message& m) -> std::optional<intptr_t> {
        switch (static_cast<MessageCode>(m.code)) {
        case MessageCode::BearerLabelChanged:
            login.network_status_changed();
            return 0;
        case MessageCode::BearerAvailable:
            if (logged_in_once)
                p.app().bearerAvailable();
            return 0;
        case MessageCode::BearerLost:
            p.app().bearerLost();
            return 0;
        default:
            return std::nullopt;
        }
    });
    p.monitor().add_window(root.window());
    raise_target.set(&root, &window);

    root.show_screen(login);
    p.start();
    root.run();

    // Shutdown: the screens stop taking messages, so what the core still
    // shows while it logs out of both services is dropped instead of waited for.
    raise_target.set(nullptr, nullptr);
    pump.quit();
    program.reset();
    return 0;
}

} // namespace
} // namespace vokar::app

int main()
{
    try {
        return vokar::app::run_client();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vokar: %s\n", e.what());
        return 1;
    }
}

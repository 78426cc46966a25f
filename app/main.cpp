// The windowed client: one per data directory, the core's Program with the
// UiRoot as its user interface, run on the GUI thread until the user leaves.

#include <charconv>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "app/client.h"
#include "app/xdg_opener.h"
#include "base/strings.h"
#include "platform/clock.h"
#include "platform/data_dir.h"
#include "platform/instance_channel.h"
#include "platform/operator_config.h"
#include "platform/sdl_window.h"
#include "platform/window.h"
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

// The command line: "--scale N" (or "--scale=N") sets the window's scale.
struct CommandLine {
    int scale = 2;
};

constexpr int kMaxScale = 6;
constexpr const char* kUsage = "usage: vokar [--scale N]   (N: window scale, 1 to 6; default 2)";

std::optional<int> parse_scale(std::string_view text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > kMaxScale)
        return std::nullopt;
    return value;
}

std::optional<CommandLine> parse_command_line(int argc, char** argv, std::string* error)
{
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::optional<std::string_view> value;
        if (arg == "--scale" && i + 1 < argc)
            value = argv[++i];
        else if (arg.starts_with("--scale="))
            value = arg.substr(std::string_view("--scale=").size());
        if (!value) {
            *error = "unknown argument '" + std::string(arg) + "'";
            return std::nullopt;
        }
        const auto scale = parse_scale(*value);
        if (!scale) {
            *error = "--scale takes a whole number from 1 to " + std::to_string(kMaxScale);
            return std::nullopt;
        }
        line.scale = *scale;
    }
    return line;
}

int run_client(const CommandLine& line)
{
    std::string error;
    const std::string dir = platform::data_directory(&error);
    if (dir.empty()) {
        std::fprintf(stderr, "vokar: %s\n", error.c_str());
        return kExitFailure;
    }
    platform::InstanceLock lock;
    if (!lock.acquire(dir, &error)) {
        if (platform::InstanceChannel::raise_running(dir, kRaiseAnswerLimit))
            return kExitRaisedOther;
        std::fprintf(stderr, "vokar: %s, and it did not answer\n", error.c_str());
        return kExitFailure;
    }
    RaiseTarget raise_target;
    platform::InstanceChannel channel(dir, [&raise_target] { raise_target.raise(); });
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
    const std::wstring title = LoadResourceString(StringId::APP_NAME);
    platform::SdlWindow window(pump, {.title = title, .scale = line.scale});
    ui::UiRoot root(pump, window, platform::system_clock());
    XdgOpener opener;
    auto client =
        std::make_unique<Client>(root, Client::Options{
                                           .config = *config,
                                           .data_dir = dir,
                                           .adapters = nullptr,
                                           .pinger = nullptr,
                                           .make_stack = {},
                                           .hide = [&window] { window.set_visible(false); },
                                           .opener = opener,
                                       });
    raise_target.set(&root, &window);
    client->start();
    root.run();

    // Shutdown: the window stops taking messages, so what the core still
    // shows while it logs out of both services is dropped, not waited for.
    raise_target.set(nullptr, nullptr);
    pump.quit();
    client.reset();
    return 0;
}

} // namespace
} // namespace vokar::app

int main(int argc, char** argv)
{
    std::string error;
    const auto line = vokar::app::parse_command_line(argc, argv, &error);
    if (!line) {
        std::fprintf(stderr, "vokar: %s\n%s\n", error.c_str(), vokar::app::kUsage);
        return vokar::app::kExitFailure;
    }
    try {
        return vokar::app::run_client(*line);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vokar: %s\n", e.what());
        return 1;
    }
}

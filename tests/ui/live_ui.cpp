#include "live_ui.h"

#include "platform/input.h"
#include "platform/network.h"
#include "platform/text.h"
#include "tests/support/scratch.h"
#include "ui/message_screen.h"

namespace vokar::ui::testing {
namespace {

using platform::Key;

// Every address answers at once: the monitor rates the link without ICMP.
class QuickPinger final : public platform::Pinger {
public:
    platform::IcmpReply echo(uint32_t, const std::string&, uint32_t) override
    {
        return {true, 1, 0, {}};
    }
};

} // namespace

LiveUi::LiveUi(LiveUiOptions options) : options_(std::move(options)), stack_(options_.stack)
{
    if (!stack_) {
        own_stack_ = std::make_unique<test::FullStack>(test::FullStackOptions{
            .extra_config = options_.extra_config,
            .accounts = kAccounts,
        });
        stack_ = own_stack_.get();
    }
}

LiveUi::LiveUi(test::FullStack& stack)
    : LiveUi(LiveUiOptions{.stack = &stack,
                           .extra_config = {},
                           .audio = {"none", "none"},
                           .alert_out = "none",
                           .first_run = false})
{
}

LiveUi::~LiveUi()
{
    stop();
    own_stack_.reset();
    test::remove_directory(data_dir_.empty() ? "" : data_dir_.substr(0, data_dir_.size() - 1));
}

bool LiveUi::start()
{
    if (own_stack_ && !own_stack_->start()) {
        error_ = own_stack_->error();
        return false;
    }
    data_dir_ = test::make_temp_directory("vokar-live-ui");
    if (data_dir_.empty()) {
        error_ = "no scratch directory";
        return false;
    }
    data_dir_ += '/';
    platform::OperatorConfig config = stack_->config();
    config.adapter = "lo";
    const platform::AudioChoice audio = options_.audio;
    client_ = std::make_unique<app::Client>(
        driver_.root(),
        app::Client::Options{
            .config = std::move(config),
            .data_dir = data_dir_,
            .adapters = nullptr,
            .pinger = std::make_unique<QuickPinger>(),
            .make_stack = {},
            .hide = [this] { driver_.window().set_visible(false); },
            .opener = opener_,
            .clock = platform::system_clock(),
            .make_audio_devices = [audio] { return platform::make_audio_devices(audio); },
            .open_alert_speaker =
                [alert = options_.alert_out] {
                    return platform::make_audio_devices({"none", alert})->open_wave_out();
                },
        });
    if (!options_.first_run)
        program().settings().set(&Settings::first_run, false);
    client_->start();
    driver_.settle();
    return true;
}

void LiveUi::stop()
{
    if (!client_)
        return;
    // What the core still shows while it logs out is dropped, not waited for.
    driver_.pump().quit();
    client_.reset();
}

bool LiveUi::pump_until(const std::function<bool()>& done, uint32_t ms)
{
    return driver_.wait_for([&](const UiView&) { return done(); }, ms);
}

bool LiveUi::wait_for_network(uint32_t ms)
{
    return pump_until([this] { return program().monitor().connected(); }, ms);
}

void LiveUi::clear_focused_field()
{
    for (int i = 0; i < 64; ++i) {
        const UiView v = driver_.view();
        const ControlView* field = v.control(v.focused_id);
        if (!field || field->text.empty())
            return;
        driver_.press(Key::Backspace);
    }
}

bool LiveUi::to_login_screen()
{
    // A message left from an earlier attempt is dismissed with OK.
    for (int i = 0; i < 4 && driver_.root().current() == &driver_.root().message_screen(); ++i)
        driver_.press(Key::SoftLeft);
    if (!showing(client_->login_screen()))
        return false;
    for (int i = 0; i < 4 && driver_.view().focused_id != LoginScreen::kNumberEdit; ++i)
        driver_.press(Key::Up);
    return driver_.view().focused_id == LoginScreen::kNumberEdit;
}

bool LiveUi::log_in(const std::string& number, const std::string& password, uint32_t ms)
{
    if (!client_ || !wait_for_network(ms) || !to_login_screen())
        return false;
    clear_focused_field();
    for (char c : number) {
        if (platform::key_char(static_cast<Key>(c)) != 0)
            driver_.press(static_cast<Key>(c));
        else
            driver_.type(std::wstring(1, static_cast<wchar_t>(c)));
    }
    driver_.press(Key::Down);
    clear_focused_field();
    driver_.type(platform::to_wide(password));
    driver_.press(Key::SoftLeft);
    return wait_for_main_screen(ms);
}

bool LiveUi::wait_for_main_screen(uint32_t ms)
{
    // The import question is shown only once the main screen is up.
    const auto arrived = [this] {
        return showing(client_->main_screen()) || showing(client_->question_screen());
    };
    driver_.wait_for(
        [&](const UiView& v) { return arrived() || v.message_kind == MessageKind::Error; }, ms);
    driver_.settle();
    return arrived();
}

} // namespace vokar::ui::testing

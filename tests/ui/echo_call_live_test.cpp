// The windowed client calls the operator's echo service, which every account
// has as a friend: from the Friends page and from the Touch Dialer.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <set>

#include "live_ui.h"
#include "platform/text.h"
#include "tests/support/echo_service.h"
#include "tests/support/scratch.h"
#include "ui/screens/call_screens.h"
#include "ui/screens/dialer.h"
#include "ui/screens/main_screen.h"
#include "ui/ui_messages.h"

namespace vokar::ui::testing {
namespace {

using platform::Key;

constexpr uint32_t kWaitMs = 20000;
// The speaker's file gets its final header only when closed; the samples
// after the header are written as they play.
constexpr size_t kWavHeaderBytes = 44;
const test::XmppAccount kEcho{"15550100", "echo-pass"};

// Bursts of sound: runs of loud 20 ms frames, apart by at least 200 ms of quiet.
size_t loud_bursts(std::string_view pcm)
{
    constexpr size_t kFrameBytes = 320;
    constexpr int kQuietFramesBetween = 10;
    size_t bursts = 0;
    int quiet = kQuietFramesBetween;
    for (size_t at = 0; at + kFrameBytes <= pcm.size(); at += kFrameBytes) {
        double sum = 0;
        for (size_t i = 0; i < kFrameBytes; i += 2) {
            int16_t s;
            std::memcpy(&s, pcm.data() + at + i, 2);
            sum += static_cast<double>(s) * s;
        }
        if (sum / (kFrameBytes / 2) > 1000.0 * 1000.0) {
            bursts += quiet >= kQuietFramesBetween;
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return bursts;
}

class EchoCallLive : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = test::make_temp_directory("vokar-echo-ui");
        ASSERT_FALSE(dir_.empty());
        // Ten seconds of silence as the microphone: all the echo sends back
        // is the client's key tones.
        const uint32_t bytes = 10 * 8000 * 2;
        std::ofstream(dir_ + "/silence.wav", std::ios::binary)
            << platform::wav_header(bytes) << std::string(bytes, '\0');
        ASSERT_TRUE(stack_.start()) << stack_.error();
        echo_ = std::make_unique<test::EchoService>(stack_, dir_);
        ASSERT_TRUE(echo_->start()) << echo_->error();
        live_ = std::make_unique<LiveUi>(LiveUiOptions{
            .stack = &stack_, .extra_config = {}, .audio = {dir_ + "/silence.wav", heard()}});
        ASSERT_TRUE(live_->start()) << live_->error();
        ASSERT_TRUE(live_->log_in(LiveUi::kAccounts[0].user, LiveUi::kAccounts[0].password))
            << platform::to_utf8(ui().view().title) << " / "
            << platform::to_utf8(ui().view().message_text);
    }
    void TearDown() override
    {
        live_.reset();
        echo_.reset();
        if (HasFailure())
            std::fprintf(stderr, "logs kept in %s\n", dir_.c_str());
        else
            test::remove_directory(dir_);
    }

    std::string heard() const { return dir_ + "/heard.wav"; }
    // A copy of the control's view (empty when it is not shown).
    ControlView field(int id)
    {
        const UiView v = ui().view();
        const ControlView* c = v.control(id);
        return c ? *c : ControlView{};
    }
    UiDriver& ui() { return live_->driver(); }
    bool shows(int id, const std::wstring& text)
    {
        return ui().wait_for(
            [&](const UiView& v) { return v.control(id) && v.control(id)->text == text; }, kWaitMs);
    }
    // Waits for "Talking...", noting every status shown on the way.
    bool talking(std::set<std::wstring>& seen)
    {
        return ui().wait_for(
            [&](const UiView& v) {
                const ControlView* status = v.control(CallScreen::kStatus);
                if (status)
                    seen.insert(status->text);
                return status && status->text == L"Talking...";
            },
            kWaitMs);
    }
    // Hangs up and waits until the main screen is back.
    void hang_up()
    {
        ui().press(Key::SoftLeft); // Hangup
        EXPECT_TRUE(shows(CallScreen::kStatus, L"Call Ended"));
        ui().advance(CallScreens::kBackDelayMs);
        EXPECT_TRUE(live_->showing(live_->client().main_screen()));
    }

    test::FullStack stack_{
        test::with_echo_account({.extra_config = {}, .accounts = LiveUi::kAccounts}, kEcho)};
    std::string dir_;
    std::unique_ptr<test::EchoService> echo_;
    std::unique_ptr<LiveUi> live_;
};

TEST_F(EchoCallLive, EchoFriendIsCalledFromTheFriendsPageAndTheTouchDialer)
{
    const std::wstring echo_jid = platform::to_wide(echo_->jid());
    const std::wstring echo_number = platform::to_wide(kEcho.user);

    // The echo account is a friend from the first login, and online.
    ui().press(Key::Left); // Contacts wraps to Friends
    ASSERT_EQ(ui().view().title, L"Vokar - Friends");
    ASSERT_TRUE(live_->pump_until(
        [&] {
            const auto f = live_->program().friends().find(echo_jid);
            return f && f->status == kStatusAvailable;
        },
        kWaitMs));
    const auto items = field(FriendsPage::kList).items;
    const auto row = std::find(items.begin(), items.end(), L"Echo");
    ASSERT_NE(row, items.end()) << items.size();
    live_->program().friends().select(static_cast<int>(row - items.begin()));
    ui().settle();

    // Rings while the echo lets it, then talks with the counter running.
    ui().press(Key::Talk);
    ASSERT_TRUE(ui().wait_for(
        [&](const UiView&) { return live_->showing(live_->client().call_screens().call_screen()); },
        kWaitMs))
        << platform::to_utf8(ui().view().title) << " / "
        << platform::to_utf8(ui().view().message_text);
    std::set<std::wstring> seen;
    ASSERT_TRUE(talking(seen)) << platform::to_utf8(ui().view().message_text);
    EXPECT_TRUE(seen.count(L"Ringing...")) << seen.size();
    ui().advance(2000);
    EXPECT_TRUE(shows(CallScreen::kDuration, L"00:02"));
    ui().screenshot("call_talking_echo");

    // A key tone goes out and comes back a second later: heard twice, as
    // the earpiece plays it and as the echo returns it.
    ui().press(Key::Digit5);
    EXPECT_TRUE(live_->pump_until(
        [&] {
            const std::string file = test::read_file(heard());
            return file.size() > kWavHeaderBytes &&
                   loud_bursts(std::string_view(file).substr(kWavHeaderBytes)) >= 2;
        },
        kWaitMs))
        << "the key tone did not come back";
    hang_up();
    const auto logged = live_->program().call_log().entries();
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.front().type, kCallOutgoing);

    // The call is on top of Call History.
    live_->client().main_screen().show(1);
    ui().settle();
    ASSERT_TRUE(ui().wait_for(
        [](const UiView& v) {
            const ControlView* list = v.control(HistoryPage::kList);
            return list && !list->items.empty();
        },
        kWaitMs));
    EXPECT_NE(field(HistoryPage::kList).items.front().find(echo_number), std::wstring::npos);
    ui().screenshot("call_history_after_echo_call");

    // Its number typed on the Touch Dialer.
    for (const wchar_t c : echo_number)
        ui().press(static_cast<Key>(c));
    ASSERT_EQ(ui().view().title, L"Vokar - Touch Dialer");
    EXPECT_EQ(field(DialerScreen::kNumberEdit).text, echo_number);
    ui().press(Key::Talk);
    seen.clear();
    ASSERT_TRUE(talking(seen)) << platform::to_utf8(ui().view().message_text);
    hang_up();
    // The same number: the log keeps one entry, the newest.
    EXPECT_EQ(live_->program().call_log().entries().front().number, logged.front().number);
}

} // namespace
} // namespace vokar::ui::testing

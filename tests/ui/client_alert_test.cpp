// The windowed client beeps on its alert speaker when a friend's message
// arrives.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "app/alert_sound.h"
#include "base/reactor.h"
#include "live_ui.h"
#include "tests/support/live_client.h"
#include "tests/support/scratch.h"

namespace vokar::ui::testing {
namespace {

// The loudest sample of a WAV file's data; 0 while it has none.
int loudest_sample(const std::string& path)
{
    const std::string file = test::read_file(path);
    const auto data = platform::wav_samples(file);
    int loudest = 0;
    for (size_t i = 0; data && i + 1 < data->size(); i += 2) {
        int16_t sample;
        std::memcpy(&sample, data->data() + i, 2);
        loudest = std::max(loudest, std::abs(int(sample)));
    }
    return loudest;
}

TEST(ClientAlert, FriendsMessageBeepsOnTheAlertSpeaker)
{
    test::FullStack stack({.extra_config = {}, .accounts = LiveUi::kAccounts});
    ASSERT_TRUE(stack.start()) << stack.error();
    ASSERT_TRUE(stack.befriend()) << stack.error();
    const std::string dir = test::make_temp_directory("vokar-alert");
    const std::string beep_path = dir + "/beep.wav";
    // Online before the client: the test thread then only waits by pumping the GUI.
    platform::ManualClock keep_alive_clock;
    Reactor reactor(keep_alive_clock, false);
    test::LiveClient friend_client(stack.xmpp(), LiveUi::kAccounts[1], reactor);
    ASSERT_TRUE(friend_client.log_in());
    {
        LiveUi live({.stack = &stack,
                     .extra_config = {},
                     .audio = {"none", "none"},
                     .alert_out = beep_path,
                     .first_run = false});
        ASSERT_TRUE(live.start()) << live.error();
        ASSERT_TRUE(live.log_in(LiveUi::kAccounts[0].user, LiveUi::kAccounts[0].password));
        friend_client->sendMessage(LiveUi::kAccounts[0].user + "@" + stack.xmpp().domain(),
                                   "are you there?");
        EXPECT_TRUE(live.pump_until([&] { return loudest_sample(beep_path) > 8000; }))
            << "no beep in " << beep_path;
    }
    test::remove_directory(dir);
}

} // namespace
} // namespace vokar::ui::testing

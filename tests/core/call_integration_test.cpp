// A call between two users through the operator's XMPP server: alice calls
// bob, bob's phone rings, he answers, alice hangs up; both sides' calls and
// window messages, with WAV audio on both ends.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "account/settings_store.h"
#include "base/disposal_queue.h"
#include "base/reactor.h"
#include "core/app_controller.h"
#include "media/audio_engine.h"
#include "platform/audio_device.h"
#include "platform/text.h"
#include "tests/support/free_ports.h"
#include "tests/support/full_stack.h"

namespace vokar {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The call messages a user's screens were sent or posted.
class CallUi : public ControllerUi {
public:
    intptr_t send_message(MessageCode code, uintptr_t wparam) override
    {
        add(code, wparam, false);
        return 0;
    }
    void post_message(MessageCode code, uintptr_t wparam) override { add(code, wparam, true); }
    void show_progress(StringId) override {}
    void show_message(StringId, StringId) override {}
    void show_message(const std::wstring&, StringId) override {}
    void show_main_screen() override {}
    void ask_import_accounts() override {}
    bool progress_screen_current() override { return false; }
    void show_new_version(const JabberEvent&) override {}

    // Waits for the message; its call, held as a screen holds it.
    std::shared_ptr<CallController> wait_for(MessageCode code,
                                             std::chrono::milliseconds limit = 10s)
    {
        std::unique_lock lock(mutex_);
        uintptr_t found = 0;
        changed_.wait_for(lock, limit, [&] {
            for (const auto& [c, w] : messages_)
                if (c == code)
                    found = w;
            return found != 0;
        });
        return found ? reinterpret_cast<CallController*>(found)->shared_from_this() : nullptr;
    }
    std::vector<int> codes()
    {
        std::lock_guard lock(mutex_);
        std::vector<int> out;
        for (const auto& m : messages_)
            if (code(m.first) >= 2124 && code(m.first) <= 2130)
                out.push_back(code(m.first));
        return out;
    }

private:
    void add(MessageCode code, uintptr_t wparam, bool /*posted*/)
    {
        std::lock_guard lock(mutex_);
        messages_.emplace_back(code, wparam);
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<MessageCode, uintptr_t>> messages_;
};

class LoopbackBearer : public Bearer {
public:
    bool connected() const override { return true; }
    std::string local_address() const override { return "127.0.0.1"; }
};

// Each user's media on its own loopback port.
class LoopbackAddresses : public AddressDiscovery {
public:
    explicit LoopbackAddresses(int port) : port_(port) {}
    std::vector<TransportAddress> jingle_addresses(MediaParameters& media) override
    {
        media.local_address = "127.0.0.1";
        media.local_port = port_;
        return {{"127.0.0.1", "peer", port_}};
    }
    void sip_addresses(SipStackInterface&, MediaParameters&) override {}

private:
    const int port_;
};

// One user: settings, screens and a controller logged in to the stack.
struct User {
    User(test::FullStack& stack, const std::string& dir, const std::string& name, int media_port,
         Reactor& reactor, DisposalQueue& disposal)
        : addresses(media_port),
          devices(platform::make_audio_devices({dir + "/tone.wav", dir + "/" + name + ".wav"})),
          settings(dir + "/" + name + "-settings", stack.config())
    {
        AppController::Config config;
        config.service_domain = stack.config().service_domain;
        config.calls.discovery = &addresses;
        config.calls.make_audio = [this](int payload) {
            return std::make_unique<media::AudioEngine>(payload, *devices, "127.0.0.1");
        };
        app = std::make_unique<AppController>(
            AppController::Services{settings, bearer, ui, platform::system_clock(), disposal,
                                    AppController::client_factory(reactor, stack.config()),
                                    make_connection_factory(nullptr, TunnelServer{})},
            config);
        app->login(name, name + "-pass");
    }
    // The friend is online with the client that takes calls.
    bool sees_online(const std::wstring& jid)
    {
        for (int i = 0; i < 1000; ++i) {
            const auto f = app->friends().find(jid);
            if (f && f->status == kStatusAvailable)
                return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    LoopbackAddresses addresses;
    std::unique_ptr<platform::AudioDevices> devices;
    SettingsStore settings;
    LoopbackBearer bearer;
    CallUi ui;
    std::unique_ptr<AppController> app;
};

TEST(CallIntegration, JingleCallRingsIsAnsweredAndHungUp)
{
    test::FullStack stack;
    ASSERT_TRUE(stack.start()) << stack.error();
    ASSERT_TRUE(stack.befriend()) << stack.error();
    std::string pattern = (fs::temp_directory_path() / "vokar-call-XXXXXX").string();
    ASSERT_TRUE(::mkdtemp(pattern.data()));
    const std::string dir = pattern;
    {
        // Two seconds of a 400 Hz tone for both microphones.
        std::string samples;
        for (int i = 0; i < 16000; ++i) {
            const int16_t v = static_cast<int16_t>((i / 10) % 2 ? 8000 : -8000);
            samples.append(reinterpret_cast<const char*>(&v), 2);
        }
        std::ofstream(dir + "/tone.wav", std::ios::binary)
            << platform::wav_header(static_cast<uint32_t>(samples.size())) << samples;
    }
    Reactor reactor;
    DisposalQueue disposal{reactor};
    const std::string domain = stack.config().service_domain;
    {
        const std::vector<uint16_t> ports = test::free_loopback_ports(2, SOCK_DGRAM);
        ASSERT_EQ(ports.size(), 2u);
        User alice(stack, dir, "alice", ports[0], reactor, disposal);
        User bob(stack, dir, "bob", ports[1], reactor, disposal);
        ASSERT_TRUE(alice.sees_online(platform::to_wide("bob@" + domain)));

        const auto call = alice.app->makeCall(L"bob");
        const auto incoming = bob.ui.wait_for(MessageCode::CallIncoming);
        ASSERT_NE(incoming, nullptr);
        EXPECT_EQ(incoming->number(), L"alice");
        ASSERT_TRUE(alice.ui.wait_for(MessageCode::CallChanged)); // the peer rings
        EXPECT_EQ(call->state(), CallController::kAlerting);
        EXPECT_EQ(call->owner(), alice.app.get());

        incoming->answer();
        ASSERT_TRUE(bob.ui.wait_for(MessageCode::CallConnected));
        ASSERT_TRUE(alice.ui.wait_for(MessageCode::CallConnected));
        EXPECT_EQ(call->state(), CallController::kTalking);
        EXPECT_EQ(incoming->state(), CallController::kTalking);

        call->hangUp();
        ASSERT_TRUE(bob.ui.wait_for(MessageCode::CallOver));
        EXPECT_EQ(incoming->state(), CallController::kEnded);
        EXPECT_EQ(incoming->statusText(), L"busy");
        EXPECT_EQ(alice.ui.codes(), (std::vector<int>{2125, 2124, 2127, 2124, 2124}));
        EXPECT_EQ(bob.ui.codes(), (std::vector<int>{2126, 2127, 2124, 2124, 2129}));
        alice.app->logout();
        bob.app->logout();
    }
    fs::remove_all(dir);
}

} // namespace
} // namespace vokar

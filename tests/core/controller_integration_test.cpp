// The application controller with real XMPP clients and connections against
// the operator's XMPP server: a whole login, and the reconnect when the
// server goes away and comes back.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "account/settings_store.h"
#include "base/disposal_queue.h"
#include "base/reactor.h"
#include "core/app_controller.h"
#include "tests/support/full_stack.h"
#include "tests/support/quiet_ui.h"

namespace vokar {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The window messages and screens the controller asked for.
class ControllerUiLog : public test::QuietUi {
public:
    struct Message {
        MessageCode code;
        uintptr_t wparam;
        bool posted;
    };

    intptr_t send_message(MessageCode code, uintptr_t wparam) override
    {
        add({code, wparam, false});
        return 0;
    }
    void post_message(MessageCode code, uintptr_t wparam) override { add({code, wparam, true}); }

    // Waits until message 2142 has been sent with 0 (the roster has loaded)
    // `count` times.
    bool wait_for_rosters(size_t count, std::chrono::milliseconds limit = 10s)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] {
            size_t n = 0;
            for (const auto& m : messages_)
                n += m.code == MessageCode::GatewayMessageFailed && m.wparam == 0 && !m.posted;
            return n >= count;
        });
    }

private:
    void add(Message m)
    {
        std::lock_guard lock(mutex_);
        messages_.push_back(m);
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Message> messages_;
};

// Sleeps take a tenth of the time asked, and what each thread asked for is
// added up, so a test can read off the back-off without waiting it out.
class FastClock : public platform::Clock {
public:
    uint32_t tick_count() override { return platform::system_clock().tick_count(); }
    void sleep_ms(uint32_t ms) override
    {
        {
            std::lock_guard lock(mutex_);
            asked_[std::this_thread::get_id()] += ms;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(ms * 100));
    }
    uint64_t asked_here()
    {
        std::lock_guard lock(mutex_);
        return asked_[std::this_thread::get_id()];
    }

private:
    std::mutex mutex_;
    std::map<std::thread::id, uint64_t> asked_;
};

class LoopbackBearer : public Bearer {
public:
    bool connected() const override { return true; }
    std::string local_address() const override { return "127.0.0.1"; }
};

class ControllerIntegration : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(stack_.start()) << stack_.error();
        ASSERT_TRUE(stack_.befriend()) << stack_.error();
        std::string pattern = (fs::temp_directory_path() / "vokar-core-XXXXXX").string();
        ASSERT_TRUE(::mkdtemp(pattern.data()));
        dir_ = pattern;
        // The XMPP list is empty, so its default, the stack's server, is used.
        settings_ = std::make_unique<SettingsStore>(dir_ + "/__settings", stack_.config());
        settings_->set(&Settings::username, L"alice");
        settings_->set(&Settings::password, L"alice-pass");

        AppController::Config config;
        config.service_domain = stack_.config().service_domain;
        controller_ = std::make_unique<AppController>(
            AppController::Services{*settings_, bearer_, ui_, clock_, disposal_,
                                    AppController::client_factory(reactor_, stack_.config()),
                                    counted(make_connection_factory(nullptr, TunnelServer{}))},
            config);
    }
    void TearDown() override
    {
        controller_.reset();
        if (!dir_.empty())
            fs::remove_all(dir_);
    }

    // Real connections; each notes how long the controller's worker had
    // slept when it asked for it.
    ConnectionFactory counted(ConnectionFactory real)
    {
        return [this, real](const std::string& local, bool tcp, bool scramble,
                            SocketErrorCallback on_error) {
            {
                std::lock_guard lock(attempts_mutex_);
                attempts_.push_back(clock_.asked_here());
            }
            return real(local, tcp, scramble, std::move(on_error));
        };
    }

    // The back-off the controller's worker waited before each connection
    // after the first.
    std::vector<uint64_t> waits()
    {
        std::lock_guard lock(attempts_mutex_);
        std::vector<uint64_t> out;
        for (size_t i = 1; i < attempts_.size(); ++i)
            out.push_back(attempts_[i] - attempts_[i - 1]);
        return out;
    }
    size_t attempts()
    {
        std::lock_guard lock(attempts_mutex_);
        return attempts_.size();
    }

    // The roster's items follow message 2142 (event 14 comes first).
    bool friend_arrives()
    {
        for (int i = 0; i < 500 && !controller_->friends().find(bob()); ++i)
            std::this_thread::sleep_for(10ms);
        return controller_->friends().find(bob()).has_value();
    }

    std::wstring bob() const
    {
        return L"bob@" + std::wstring(stack_.config().service_domain.begin(),
                                      stack_.config().service_domain.end());
    }

    test::FullStack stack_;
    std::string dir_;
    std::unique_ptr<SettingsStore> settings_;
    LoopbackBearer bearer_;
    ControllerUiLog ui_;
    FastClock clock_;
    Reactor reactor_;
    DisposalQueue disposal_{reactor_};
    std::mutex attempts_mutex_;
    std::vector<uint64_t> attempts_; // the worker's asked sleep at each connection
    std::unique_ptr<AppController> controller_;
};

TEST_F(ControllerIntegration, ReconnectsWithBackOffAndLogsInAgainWhenTheServerReturns)
{
    controller_->login("alice", "alice-pass");
    ASSERT_TRUE(ui_.wait_for_rosters(1));
    ASSERT_TRUE(friend_arrives());

    stack_.xmpp().stop();
    // Three refused attempts while the server is away.
    for (int i = 0; i < 1000 && attempts() < 4; ++i)
        std::this_thread::sleep_for(5ms);
    ASSERT_GE(attempts(), 4u);
    EXPECT_FALSE(controller_->loggedIn());
    ASSERT_TRUE(stack_.xmpp().start()) << stack_.xmpp().error();

    ASSERT_TRUE(ui_.wait_for_rosters(2, 15s));
    EXPECT_TRUE(controller_->loggedIn());
    ASSERT_TRUE(friend_arrives()) << "a friend was lost";
    const auto bob_friend = controller_->friends().find(bob());
    EXPECT_EQ(bob_friend->name, L"bob");

    // 100 ms after the loss, then 1 s, 1 s, 5 s ... between refused attempts.
    const std::vector<uint64_t> schedule = {100, 1000, 1000, 5000, 5000, 5000, 5000, 30000};
    const auto waited = waits();
    ASSERT_GE(waited.size(), 4u);
    ASSERT_LE(waited.size(), schedule.size());
    EXPECT_EQ(waited, std::vector<uint64_t>(schedule.begin(), schedule.begin() + waited.size()));
}

} // namespace
} // namespace vokar

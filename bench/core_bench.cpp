// Time from AppController::login() to the first roster entry in the friends
// model, against the operator's XMPP server on loopback: connection, SASL,
// binding, session and roster, through the real client and controller.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "account/settings_store.h"
#include "base/disposal_queue.h"
#include "base/reactor.h"
#include "core/app_controller.h"
#include "tests/support/full_stack.h"

namespace {

using Clock = std::chrono::steady_clock;

// Wakes the benchmark whenever the friends list changes.
class Ui : public vokar::ControllerUi {
public:
    intptr_t send_message(vokar::MessageCode code, uintptr_t) override
    {
        if (code == vokar::MessageCode::FriendsListChanged) {
            std::lock_guard lock(mutex_);
            ++changes_;
            changed_.notify_all();
        }
        return 0;
    }
    void post_message(vokar::MessageCode code, uintptr_t wparam) override
    {
        send_message(code, wparam);
    }
    void show_progress(vokar::StringId) override {}
    void show_message(vokar::StringId, vokar::StringId) override {}
    void show_message(const std::wstring&, vokar::StringId) override {}
    void show_main_screen() override {}
    void ask_import_accounts() override {}
    bool progress_screen_current() override { return false; }
    void show_new_version(const vokar::JabberEvent&) override {}

    // Waits (bounded) until `done` holds, checking at every change.
    template <class F> bool wait_until(F done)
    {
        std::unique_lock lock(mutex_);
        const auto limit = Clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (changed_.wait_until(lock, limit) == std::cv_status::timeout)
                return done();
        }
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    long changes_ = 0;
};

class LoopbackBearer : public vokar::Bearer {
public:
    bool connected() const override { return true; }
    std::string local_address() const override { return "127.0.0.1"; }
};

vokar::test::FullStack* g_stack = nullptr;
std::string g_dir;

void BM_LoginToFirstRoster(benchmark::State& state)
{
    if (!g_stack) {
        state.SkipWithError("no operator stack");
        return;
    }
    const auto& config = g_stack->config();
    const std::wstring bob =
        L"bob@" + std::wstring(config.service_domain.begin(), config.service_domain.end());
    vokar::Reactor reactor;
    LoopbackBearer bearer;
    // Back-off sleeps pass at once.
    vokar::platform::ManualClock clock;
    // The disposal delay passes when the clock is moved on after a logout.
    vokar::Reactor disposal_reactor(clock);
    vokar::DisposalQueue disposal(disposal_reactor);
    for (auto _ : state) {
        vokar::SettingsStore settings(g_dir + "/__settings", config);
        settings.set(&vokar::Settings::username, L"alice");
        settings.set(&vokar::Settings::password, L"alice-pass");
        Ui ui;
        vokar::AppController::Config controller_config;
        controller_config.service_domain = config.service_domain;
        vokar::AppController controller(
            {settings, bearer, ui, clock, disposal,
             vokar::AppController::client_factory(reactor, config),
             vokar::make_connection_factory(nullptr, vokar::TunnelServer{})},
            controller_config);
        const auto begin = Clock::now();
        controller.login("alice", "alice-pass");
        const bool arrived =
            ui.wait_until([&] { return controller.friends().find(bob).has_value(); });
        const auto end = Clock::now();
        if (!arrived) {
            state.SkipWithError("the roster did not arrive");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
        controller.logout();
        clock.advance(vokar::AppController::kDisposeDelayMs);
    }
}

} // namespace

BENCHMARK(BM_LoginToFirstRoster)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

int main(int argc, char** argv)
{
    vokar::test::FullStack stack;
    if (stack.start() && stack.befriend())
        g_stack = &stack;
    else
        std::fprintf(stderr, "login benchmark skipped: %s\n", stack.error().c_str());
    std::string pattern = (std::filesystem::temp_directory_path() / "vokar-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()))
        g_dir = pattern;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!g_dir.empty())
        std::filesystem::remove_all(g_dir);
    return 0;
}

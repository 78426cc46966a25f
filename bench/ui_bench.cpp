// The user interface, off-screen: the frame time of one full repaint of a
// screen with a scrolling list and of the options popup; and the windowed
// client against the operator stack on loopback: start to first frame, the
// event loop's idle wake-ups with the main screen up, resident memory after
// login.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "app/client.h"
#include "bench/corpus.h"
#include "platform/clock.h"
#include "platform/sdl_window.h"
#include "platform/text.h"
#include "tests/support/full_stack.h"
#include "tests/support/scratch.h"
#include "ui/list_view.h"
#include "ui/ui_root.h"

namespace {

using namespace vokar;

class ListScreen : public ui::VirtualDialog {
public:
    ListScreen() : VirtualDialog(L"Vokar - Friends", 103)
    {
        std::vector<ui::ListView::Row> rows;
        for (int i = 0; i < 200; ++i)
            rows.push_back({559 + i % 5, L"Friend number " + std::to_wstring(i), L"Available"});
        auto& list = add<ui::ListView>(1);
        list.set_rows(std::move(rows));
        list.set_selection(120);
    }
};

struct Fixture {
    platform::MessagePump pump;
    platform::SdlWindow window{pump, platform::WindowOptions{.offscreen = true}};
    platform::ManualClock clock;
    ui::UiRoot root{pump, window, clock};

    Fixture()
    {
        root.show_screen(root.add_screen<ListScreen>());
        while (root.run_once(0) > 0) {
        }
    }
};

void BM_RepaintList(benchmark::State& state)
{
    Fixture f;
    for (auto _ : state)
        f.root.repaint();
}
BENCHMARK(BM_RepaintList)->Unit(benchmark::kMillisecond);

void BM_RepaintWithPopup(benchmark::State& state)
{
    Fixture f;
    f.window.push_input({platform::InputEvent::Type::KeyDown, platform::Key::SoftRight, {}});
    while (f.root.run_once(0) > 0) {
    }
    for (auto _ : state)
        f.root.repaint();
}
BENCHMARK(BM_RepaintWithPopup)->Unit(benchmark::kMillisecond);

// Every address answers at once: the monitor rates the link without ICMP.
class QuickPinger final : public platform::Pinger {
public:
    platform::IcmpReply echo(uint32_t, const std::string&, uint32_t) override
    {
        return {true, 1, 0, {}};
    }
};

class NoBrowser final : public ui::UrlOpener {
public:
    bool open(const std::string&) override { return false; }
};

vokar::test::FullStack* g_stack = nullptr;

// A windowed client on the real clock, as the program runs it, with its data
// directory in a scratch folder and no sound devices.
struct ClientRun {
    const std::string dir = test::make_temp_directory("vokar-ui-bench") + "/";
    platform::MessagePump pump;
    platform::SdlWindow window{
        pump, platform::WindowOptions{
                  .title = L"Vokar", .logical = {240, 320}, .scale = 2, .offscreen = true}};
    ui::UiRoot root{pump, window, platform::system_clock()};
    NoBrowser opener;
    std::unique_ptr<app::Client> client;

    ClientRun()
    {
        platform::OperatorConfig config = g_stack->config();
        config.adapter = "lo";
        client = std::make_unique<app::Client>(
            root, app::Client::Options{
                      .config = std::move(config),
                      .data_dir = dir,
                      .adapters = nullptr,
                      .pinger = std::make_unique<QuickPinger>(),
                      .make_stack = {},
                      .hide = {},
                      .opener = opener,
                      .clock = platform::system_clock(),
                      .make_audio_devices =
                          [] {
                              return platform::make_audio_devices({"none", "none"});
                          },
                      .open_alert_speaker = [] { return std::unique_ptr<platform::WaveOut>(); },
                  });
        client->start();
    }
    ~ClientRun()
    {
        pump.quit();
        client.reset();
        test::remove_directory(dir.substr(0, dir.size() - 1));
    }

    // Runs the event loop until `done` holds, up to `ms` of real time.
    template <class F> bool run_until(F done, int ms)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            root.run_once(50);
        }
        return true;
    }
    void settle()
    {
        while (root.run_once(0) > 0) {
        }
    }
    bool showing(const ui::VirtualDialog& screen) const { return root.current() == &screen; }
};

void BM_StartToFirstFrame(benchmark::State& state)
{
    for (auto _ : state) {
        auto run = std::make_unique<ClientRun>();
        if (!run->run_until([&] { return run->showing(run->client->login_screen()); }, 10000)) {
            state.SkipWithError("the login screen did not come");
            break;
        }
        run->settle(); // handles the repaint: the first frame
        state.PauseTiming();
        run.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartToFirstFrame)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

// One client, logged in as the stack's first account with the main screen up.
// Made by the first benchmark that needs it; gone before the stack stops.
std::unique_ptr<ClientRun> g_logged_in;

ClientRun* logged_in_client()
{
    std::unique_ptr<ClientRun>& run = g_logged_in;
    static bool tried = false;
    if (tried)
        return run.get();
    tried = true;
    run = std::make_unique<ClientRun>();
    if (!run->run_until([&] { return run->client->program().monitor().connected(); }, 30000))
        return nullptr;
    const auto& account = g_stack->accounts()[0];
    run->client->login_screen().set_credentials(platform::to_wide(account.user),
                                                platform::to_wide(account.password));
    run->client->login_screen().press_login();
    if (!run->run_until([&] { return run->showing(run->client->main_screen()); }, 30000))
        return nullptr;
    // What follows a login (roster, presence, the first-run question) settles.
    run->run_until([] { return false; }, 2000);
    if (run->showing(run->client->question_screen())) {
        run->window.push_input({platform::InputEvent::Type::KeyDown, platform::Key::SoftRight, {}});
        run->settle();
    }
    if (!run->showing(run->client->main_screen()))
        run.reset();
    return run.get();
}

struct Usage {
    double cpu_s = 0;
    long switches = 0; // voluntary and involuntary context switches
};

Usage usage(int who)
{
    rusage u{};
    getrusage(who, &u);
    return {double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6,
            u.ru_nvcsw + u.ru_nivcsw};
}

// The event loop as the program runs it (turns of at most 1 s), idle with the
// main screen up: its turns, the GUI thread's context switches (each wait
// that ends is one, including waits inside SDL's event wait) and the whole
// process's CPU time, per second. SDL's off-screen video driver has no event
// wait of its own, so SDL polls there every millisecond; the X11 and Wayland
// drivers block.
void BM_IdleWithMainScreen(benchmark::State& state)
{
    ClientRun* run = logged_in_client();
    if (!run) {
        state.SkipWithError("the login did not reach the main screen");
        for (auto _ : state) {
        }
        return;
    }
    constexpr auto kWindow = std::chrono::seconds(5);
    double turns = 0, switches = 0, cpu = 0, seconds = 0;
    for (auto _ : state) {
        const Usage thread_before = usage(RUSAGE_THREAD);
        const Usage process_before = usage(RUSAGE_SELF);
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < kWindow) {
            run->root.run_once(1000);
            ++turns;
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        switches += double(usage(RUSAGE_THREAD).switches - thread_before.switches);
        cpu += usage(RUSAGE_SELF).cpu_s - process_before.cpu_s;
    }
    state.counters["loop_turns_per_s"] = turns / seconds;
    state.counters["gui_wakeups_per_s"] = switches / seconds;
    state.counters["process_cpu_ms_per_s"] = cpu * 1000 / seconds;
}
BENCHMARK(BM_IdleWithMainScreen)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

long status_kib(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(field + ":"))
            return std::stol(line.substr(field.size() + 1));
    return -1;
}

// The process's resident memory (VmRSS) with the logged-in client up, and its
// peak (VmHWM), in KiB; the benchmark library and the repaint benchmarks'
// screens are included.
void BM_ResidentMemoryAfterLogin(benchmark::State& state)
{
    if (!logged_in_client()) {
        state.SkipWithError("the login did not reach the main screen");
        for (auto _ : state) {
        }
        return;
    }
    for (auto _ : state) {
    }
    state.counters["rss_kib"] = double(status_kib("VmRSS"));
    state.counters["peak_rss_kib"] = double(status_kib("VmHWM"));
}
BENCHMARK(BM_ResidentMemoryAfterLogin)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    vokar::bench::corpus_dir(&argc, argv); // accepted like every benchmark's; unused
    // Numbers: the login screen's field takes digits only.
    vokar::test::FullStack stack(
        {.extra_config = {},
         .accounts = {{"15550101", "first-pass"}, {"15550102", "second-pass"}}});
    if (!stack.start()) {
        std::fprintf(stderr, "cannot start the operator stack: %s\n", stack.error().c_str());
        return 1;
    }
    g_stack = &stack;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    g_logged_in.reset();
    benchmark::Shutdown();
    return 0;
}

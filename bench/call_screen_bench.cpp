// CPU time of the GUI thread while the call screen shows a call in progress:
// each iteration runs the event loop for one second of real time, with the
// duration counter ticking on the UI timers and repainting the screen, so
// the CPU column is the GUI thread's CPU time per second of a call. The idle
// variant runs the same loop with nothing ticking, for comparison.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>

#include "account/settings_store.h"
#include "app/client_ui.h"
#include "bench/corpus.h"
#include "core/phone_interface.h"
#include "platform/clock.h"
#include "platform/sdl_window.h"
#include "ui/screens/call_screens.h"
#include "ui/ui_root.h"

namespace {

using namespace vokar;

class IdlePhone final : public PhoneInterface {
public:
    void login(const std::string&, const std::string&) override {}
    void logout() override {}
    void placeCall(CallController*) override {}
    void ringing(CallController*) override {}
    void accept(CallController*) override {}
    void reject(CallController*) override {}
    void hangUp(CallController*) override {}
};

struct Fixture {
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "vokar-call-bench";
    platform::OperatorConfig config;
    SettingsStore settings{(dir / "__settings").string(), config};
    platform::MessagePump pump;
    platform::SdlWindow window{pump, platform::WindowOptions{.offscreen = true}};
    ui::UiRoot root{pump, window, platform::system_clock()};
    app::ClientUi controller_ui{root};
    IdlePhone phone;
    ui::CallScreens screens{root,
                            ui::CallScreens::Services{
                                .jingle_phone = &phone,
                                .log_call = {},
                                .call_volume = [this] { return settings.get(&Settings::volume); },
                                .save_settings = {},
                                .release = {},
                                .show_home = {},
                                .raise_window = {},
                                .key_tone = {},
                            }};
    std::shared_ptr<CallController> call;

    explicit Fixture(bool with_call)
    {
        if (!with_call) {
            // The same loop with the call screen and no call on it.
            root.show_screen(screens.call_screen());
            settle();
            return;
        }
        root.set_global_handler(
            [this](const platform::Message& m) { return screens.handle_event(m); });
        call = std::make_shared<CallController>(CallEnvironment{controller_ui, settings, {}, {}},
                                                &phone, false);
        call->setNumber(L"+15550123", L"Alice");
        controller_ui.send_message(MessageCode::CallCreated,
                                   reinterpret_cast<uintptr_t>(call.get()));
        call->connected({});
        settle();
    }
    ~Fixture() { std::filesystem::remove_all(dir); }
    void settle()
    {
        while (root.run_once(0) > 0) {
        }
    }
};

void run_seconds(benchmark::State& state, bool with_call)
{
    Fixture f(with_call);
    size_t handled = 0;
    for (auto _ : state) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        for (auto now = std::chrono::steady_clock::now(); now < end;
             now = std::chrono::steady_clock::now()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
            handled += f.root.run_once(static_cast<uint32_t>(left) + 1);
        }
    }
    // Events and messages the loop handled per second (the counter's repaints).
    state.counters["handled_per_s"] =
        benchmark::Counter(static_cast<double>(handled) / static_cast<double>(state.iterations()));
}

// The CPU column is the calling (GUI) thread's CPU time per one-second iteration.
void BM_CallScreenGuiCpuPerSecond(benchmark::State& state)
{
    run_seconds(state, true);
}
BENCHMARK(BM_CallScreenGuiCpuPerSecond)->Iterations(5)->Unit(benchmark::kMillisecond);

// The event loop's own cost (waiting for input) with nothing ticking: the base
// to subtract.
void BM_IdleCallScreenGuiCpuPerSecond(benchmark::State& state)
{
    run_seconds(state, false);
}
BENCHMARK(BM_IdleCallScreenGuiCpuPerSecond)->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    vokar::bench::corpus_dir(&argc, argv); // accepted like every benchmark's; unused
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

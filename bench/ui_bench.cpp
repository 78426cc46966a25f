// Frame time of the user interface: one full repaint of a screen with a
// scrolling list and of the options popup, off-screen.
#include <benchmark/benchmark.h>

#include "bench/corpus.h"
#include "platform/clock.h"
#include "platform/sdl_window.h"
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

} // namespace

int main(int argc, char** argv)
{
    vokar::bench::corpus_dir(&argc, argv); // accepted like every benchmark's; unused
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Key press to repaint on the main screen's Friends page, off-screen: a
// selection move through 500 friends, and a move onto a friend whose chat
// holds 1000 lines.
#include <benchmark/benchmark.h>

#include "account/settings_store.h"
#include "platform/clock.h"
#include "platform/sdl_window.h"
#include "ui/screens/main_screen.h"
#include "ui/screens/simple_screens.h"
#include "ui/ui_root.h"

namespace {

using namespace vokar;

class IdleService final : public ui::FriendsService {
public:
    bool connected() override { return true; }
    bool logged_in() override { return true; }
    bool gateway_registered(int) override { return false; }
    void send_message(const std::wstring&, const std::wstring&) override {}
    void holler(const std::wstring&) override {}
    void rename(const std::wstring&, const std::wstring&) override {}
    void remove(const std::wstring&) override {}
    void add(int, const std::wstring&) override {}
    void accept(const std::wstring&, const std::wstring&) override {}
    void reject(const std::wstring&) override {}
    void set_status(int) override {}
    void set_status_text(const std::wstring&) override {}
    void register_gateway(int, const std::wstring&, const std::wstring&) override {}
    void unregister_gateway(int) override {}
    void call(const std::wstring&) override {}
    std::wstring normalize(const std::wstring& number) override { return number; }
};

struct Fixture {
    platform::OperatorConfig config;
    SettingsStore settings{"/nonexistent/vokar-bench/__settings", config};
    FriendsModel model{settings, FriendsModel::Config{}};
    DeviceContacts contacts{nullptr, L""};
    IdleService service;
    platform::MessagePump pump;
    platform::SdlWindow window{pump, platform::WindowOptions{.offscreen = true}};
    platform::ManualClock clock;
    ui::UiRoot root{pump, window, clock};
    ui::EntryScreen& entry = root.add_screen<ui::EntryScreen>();
    ui::QuestionScreen& question = root.add_screen<ui::QuestionScreen>();
    ui::MainScreens hub{root, ui::MainScreens::Deps{.service = service,
                                                    .friends = model,
                                                    .contacts = contacts,
                                                    .call_log = nullptr,
                                                    .cellular = nullptr,
                                                    .entry = entry,
                                                    .question = question,
                                                    .actions = {}}};

    Fixture(int friends, int chat_lines)
    {
        for (int i = 0; i < friends; ++i) {
            const std::wstring jid = L"1555" + std::to_wstring(100000 + i) + L"@vokar.test";
            model.onRosterItem(jid, L"Friend " + std::to_wstring(i), 4);
            model.onPresence(jid, L"Status text of friend " + std::to_wstring(i), 1 + i % 3);
        }
        for (int i = 0; i < chat_lines; ++i) {
            const std::wstring jid = model.friendAt(i % 2)->jid;
            hub.chats().add_own(jid, L"A line of chat, long enough to wrap onto a second line "
                                     L"of the narrow chat area: " +
                                         std::to_wstring(i));
        }
        root.set_global_handler([this](const platform::Message& m) { return hub.handle_event(m); });
        model.addWindow(root.window());
        root.show_screen(hub.main());
        settle();
        hub.main().show(2);
        settle();
    }
    void settle()
    {
        while (root.run_once(0) > 0) {
        }
    }
    void press(platform::Key key)
    {
        window.push_input({platform::InputEvent::Type::KeyDown, key, {}});
        settle();
        root.repaint();
    }
};

void BM_FriendsPageKeyToRepaint500Friends(benchmark::State& state)
{
    Fixture f(500, 0);
    for (auto _ : state)
        f.press(platform::Key::Down);
    state.counters["friends"] = 500;
}
BENCHMARK(BM_FriendsPageKeyToRepaint500Friends)->Unit(benchmark::kMillisecond);

void BM_FriendsPageKeyToRepaint1000LineChat(benchmark::State& state)
{
    // Two friends alternate between selection, each with 500 of the lines;
    // with the wrap-around every press shows a friend with a long chat.
    Fixture f(2, 1000);
    for (auto _ : state)
        f.press(platform::Key::Down);
    state.counters["chat_lines"] = 1000;
}
BENCHMARK(BM_FriendsPageKeyToRepaint1000LineChat)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

#include "platform/sdl_window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace vokar::platform {
namespace {

struct Recorder : WindowEvents {
    std::vector<InputEvent> inputs;
    std::vector<Size> sizes;
    void on_input(const InputEvent& e) override { inputs.push_back(e); }
    void on_resize(Size s) override { sizes.push_back(s); }
    void on_close() override {}
};

class SdlWindowTest : public ::testing::Test {
protected:
    MessagePump pump;
    SdlWindow window{pump, WindowOptions{L"Vokar", {240, 320}, 2}};
    Recorder events;
};

TEST_F(SdlWindowTest, KeysAndTextArriveAsThePhoneKeys)
{
    for (Key key :
         {Key::SoftLeft, Key::SoftRight, Key::Up, Key::Down, Key::Left, Key::Right, Key::Action,
          Key::Back, Key::Talk, Key::End, Key::Digit0, Key::Digit9, Key::Star, Key::Hash})
        window.push_input({InputEvent::Type::KeyDown, key, {}});
    window.push_input({InputEvent::Type::KeyUp, Key::Back, {}});
    // Keypad characters come with their key-downs, so typed text drops them.
    window.push_input({InputEvent::Type::Text, Key::None, L"a5*#\u00e9"});
    window.process_events(events, 0);

    std::vector<Key> keys;
    for (const InputEvent& e : events.inputs)
        if (e.type == InputEvent::Type::KeyDown)
            keys.push_back(e.key);
    EXPECT_EQ(keys, (std::vector<Key>{Key::SoftLeft, Key::SoftRight, Key::Up, Key::Down, Key::Left,
                                      Key::Right, Key::Action, Key::Back, Key::Talk, Key::End,
                                      Key::Digit0, Key::Digit9, Key::Star, Key::Hash}));
    ASSERT_EQ(events.inputs.size(), keys.size() + 2);
    EXPECT_EQ(events.inputs[keys.size()].type, InputEvent::Type::KeyUp);
    EXPECT_EQ(events.inputs.back().text, L"a\u00e9");
    EXPECT_EQ(key_char(Key::Digit7), L'7');
    EXPECT_EQ(key_char(Key::Hash), L'#');
    EXPECT_EQ(key_char(Key::Action), 0);
}

TEST_F(SdlWindowTest, MessagePostedFromAnotherThreadWakesTheEventLoop)
{
    std::atomic<bool> handled{false};
    const Window w = pump.create_window([&](const Message&) {
        handled = true;
        return intptr_t{7};
    });
    std::thread worker([&] { EXPECT_EQ(send_message(w, 2028), 7); });
    const auto start = std::chrono::steady_clock::now();
    while (!handled && std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
        window.process_events(events, 10000);
    worker.join();
    EXPECT_TRUE(handled);
    // Woken by the message, not by the ten-second time-out.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(SdlWindowTest, TargetIsKeptBetweenFramesAndRecreatedOnResize)
{
    Canvas& canvas = window.canvas();
    EXPECT_TRUE(canvas.begin_frame(window.client_size()));
    EXPECT_FALSE(canvas.begin_frame(window.client_size()));
    EXPECT_EQ(canvas.target_generation(), 1);

    window.resize({200, 300});
    EXPECT_EQ(window.client_size(), (Size{200, 300}));
    EXPECT_TRUE(canvas.begin_frame(window.client_size()));
    EXPECT_EQ(canvas.target_generation(), 2);
    EXPECT_EQ(canvas.size(), (Size{200, 300}));
}

TEST_F(SdlWindowTest, DrawsTextWithLiberationSansAndSavesPng)
{
    Canvas& canvas = window.canvas();
    canvas.begin_frame({240, 320});
    canvas.fill({0, 0, 240, 320}, {255, 255, 255});
    const Size regular = canvas.measure(L"Vokar - Login", {9, false});
    const Size bold = canvas.measure(L"Vokar - Login", {9, true});
    EXPECT_GT(regular.w, 40);
    EXPECT_GT(bold.w, regular.w);
    EXPECT_GT(canvas.line_height({9, false}), 8);
    canvas.text({10, 10, 200, 20}, L"Vokar - Login", {9, true}, {0, 0, 0});
    EXPECT_FALSE(canvas.image(1, 0, 0)); // no such image

    const std::string path = std::filesystem::temp_directory_path() / "vokar_canvas_test.png";
    ASSERT_TRUE(canvas.save_png(path));
    std::ifstream in(path, std::ios::binary);
    char signature[4] = {};
    in.read(signature, 4);
    EXPECT_EQ(std::string(signature + 1, 3), "PNG");
    std::filesystem::remove(path);
}

TEST_F(SdlWindowTest, EveryImageIdentifierHasEmbeddedArtwork)
{
    Canvas& canvas = window.canvas();
    canvas.begin_frame({240, 320});
    std::vector<int> ids = {500, 522, 528};
    for (int id = 540; id <= 552; ++id)
        ids.push_back(id);
    for (int id = 559; id <= 578; ++id)
        ids.push_back(id);
    for (int id : ids) {
        EXPECT_TRUE(canvas.image(id, 0, 0)) << id;
        EXPECT_EQ(canvas.image_size(id).w > 0, true) << id;
    }
    const int logo_sizes[][2] = {{530, 20}, {531, 42}, {532, 80}, {533, 135}};
    for (const auto& [id, side] : logo_sizes)
        EXPECT_EQ(canvas.image_size(id), (Size{side, side})) << id;
    EXPECT_EQ(canvas.image_size(578), (Size{37, 56})); // the call button
    EXPECT_EQ(canvas.image_size(545), (Size{20, 20}));
}

} // namespace
} // namespace vokar::platform

#include "ui_driver.h"

#include <chrono>
#include <filesystem>

namespace vokar::ui::testing {

UiDriver::UiDriver(platform::Size logical, int scale)
{
    window_ = std::make_unique<platform::SdlWindow>(
        pump_, platform::WindowOptions{L"Vokar", logical, scale});
    root_ = std::make_unique<UiRoot>(pump_, *window_, clock_);
    settle();
}

UiDriver::~UiDriver()
{
    root_.reset();
    window_.reset();
}

void UiDriver::settle()
{
    // Bounded: a screen that keeps posting to itself must not hang the test.
    for (int i = 0; i < 1000 && root_->run_once(0) > 0; ++i) {
    }
}

void UiDriver::press(platform::Key key, uint32_t hold_ms)
{
    window_->push_input({platform::InputEvent::Type::KeyDown, key, {}});
    settle();
    if (hold_ms > 0)
        advance(hold_ms);
    window_->push_input({platform::InputEvent::Type::KeyUp, key, {}});
    settle();
}

void UiDriver::type(const std::wstring& text)
{
    window_->push_input({platform::InputEvent::Type::Text, platform::Key::None, text});
    settle();
}

void UiDriver::advance(uint32_t ms)
{
    clock_.advance(ms);
    root_->timers().run_due();
    settle();
}

bool UiDriver::wait_for(const std::function<bool(const UiView&)>& done, uint32_t ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done(root_->view())) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        // Woken at once by a message from another thread.
        root_->run_once(50);
    }
    return true;
}

std::string UiDriver::screenshot(const std::string& name)
{
    const std::filesystem::path dir = VOKAR_SCREENSHOT_DIR;
    std::filesystem::create_directories(dir);
    const std::string path = (dir / (name + ".png")).string();
    return root_->screenshot(path) ? path : std::string();
}

} // namespace vokar::ui::testing

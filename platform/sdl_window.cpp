#include "platform/sdl_window.h"

#include <SDL.h>
#include <SDL_image.h>
#include <SDL_ttf.h>

#include <stdexcept>
#include <string>

#include "platform/canvas_impl.h"
#include "platform/text.h"

namespace vokar::platform {
namespace {

Key key_from_sdl(const SDL_Keysym& k)
{
    const bool shift = (k.mod & KMOD_SHIFT) != 0;
    switch (k.sym) {
    case SDLK_F1:
        return Key::SoftLeft;
    case SDLK_F2:
        return Key::SoftRight;
    case SDLK_F3:
        return Key::Talk;
    case SDLK_F4:
        return Key::End;
    case SDLK_LEFT:
        return Key::Left;
    case SDLK_RIGHT:
        return Key::Right;
    case SDLK_UP:
        return Key::Up;
    case SDLK_DOWN:
        return Key::Down;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        return Key::Action;
    case SDLK_ESCAPE:
        return Key::Back;
    case SDLK_BACKSPACE:
        return Key::Backspace;
    case SDLK_KP_MULTIPLY:
    case SDLK_ASTERISK:
        return Key::Star;
    case SDLK_KP_HASH:
    case SDLK_HASH:
        return Key::Hash;
    default:
        break;
    }
    if (k.sym == SDLK_8 && shift)
        return Key::Star;
    if (k.sym == SDLK_3 && shift)
        return Key::Hash;
    if (k.sym >= SDLK_0 && k.sym <= SDLK_9 && !shift)
        return static_cast<Key>('0' + (k.sym - SDLK_0));
    if (k.sym >= SDLK_KP_1 && k.sym <= SDLK_KP_9)
        return static_cast<Key>('1' + (k.sym - SDLK_KP_1));
    if (k.sym == SDLK_KP_0)
        return Key::Digit0;
    return Key::None;
}

SDL_Keycode key_to_sdl(Key key)
{
    switch (key) {
    case Key::SoftLeft:
        return SDLK_F1;
    case Key::SoftRight:
        return SDLK_F2;
    case Key::Talk:
        return SDLK_F3;
    case Key::End:
        return SDLK_F4;
    case Key::Left:
        return SDLK_LEFT;
    case Key::Right:
        return SDLK_RIGHT;
    case Key::Up:
        return SDLK_UP;
    case Key::Down:
        return SDLK_DOWN;
    case Key::Action:
        return SDLK_RETURN;
    case Key::Back:
        return SDLK_ESCAPE;
    case Key::Backspace:
        return SDLK_BACKSPACE;
    case Key::Star:
        return SDLK_KP_MULTIPLY;
    case Key::Hash:
        return SDLK_KP_HASH;
    default:
        break;
    }
    if (key_char(key) != 0)
        return SDLK_0 + (static_cast<int>(key) - '0');
    return SDLK_UNKNOWN;
}

} // namespace

struct SdlWindow::Impl {
    MessagePump& pump;
    int scale = 1;
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    std::unique_ptr<Canvas> canvas;
    uint32_t wake_event = 0;
    bool ttf = false;

    explicit Impl(MessagePump& p) : pump(p) {}

    void handle(const SDL_Event& ev, WindowEvents& sink)
    {
        switch (ev.type) {
        case SDL_QUIT:
            sink.on_close();
            break;
        case SDL_WINDOWEVENT:
            if (ev.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
                sink.on_resize({ev.window.data1 / scale, ev.window.data2 / scale});
            else if (ev.window.event == SDL_WINDOWEVENT_CLOSE)
                sink.on_close();
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            InputEvent in;
            in.type = ev.type == SDL_KEYDOWN ? InputEvent::Type::KeyDown : InputEvent::Type::KeyUp;
            in.key = key_from_sdl(ev.key.keysym);
            if (in.key != Key::None)
                sink.on_input(in);
            break;
        }
        case SDL_TEXTINPUT: {
            // Keypad characters arrive with their key-down; only other text passes here.
            std::wstring text;
            for (wchar_t c : to_wide(ev.text.text))
                if (!(c >= L'0' && c <= L'9') && c != L'*' && c != L'#')
                    text += c;
            if (!text.empty())
                sink.on_input({InputEvent::Type::Text, Key::None, text});
            break;
        }
        default:
            break;
        }
    }
};

SdlWindow::SdlWindow(MessagePump& pump, const WindowOptions& options)
    : impl_(std::make_unique<Impl>(pump))
{
    Impl& d = *impl_;
    d.scale = std::max(1, options.scale);
    if (options.offscreen)
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0)
        throw std::runtime_error(std::string("SDL video: ") + SDL_GetError());
    if (TTF_Init() != 0) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
        throw std::runtime_error(std::string("SDL_ttf: ") + TTF_GetError());
    }
    d.ttf = true;
    IMG_Init(IMG_INIT_PNG);
    const std::string title = to_utf8(options.title);
    d.window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                options.logical.w * d.scale, options.logical.h * d.scale,
                                SDL_WINDOW_RESIZABLE);
    if (d.window)
        d.renderer = SDL_CreateRenderer(d.window, -1, SDL_RENDERER_TARGETTEXTURE);
    if (d.window && !d.renderer)
        d.renderer =
            SDL_CreateRenderer(d.window, -1, SDL_RENDERER_SOFTWARE | SDL_RENDERER_TARGETTEXTURE);
    if (!d.renderer) {
        const std::string error = SDL_GetError();
        if (d.window)
            SDL_DestroyWindow(d.window);
        TTF_Quit();
        SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
        throw std::runtime_error("SDL window: " + error);
    }
    auto canvas = std::make_unique<Canvas::Impl>();
    canvas->renderer = d.renderer;
    canvas->scale = d.scale;
    d.canvas.reset(new Canvas(std::move(canvas)));
    d.wake_event = SDL_RegisterEvents(1);
    const uint32_t type = d.wake_event;
    pump.set_wake_hook([type] {
        SDL_Event ev{};
        ev.type = type;
        SDL_PushEvent(&ev);
    });
}

SdlWindow::~SdlWindow()
{
    if (!impl_)
        return;
    impl_->pump.set_wake_hook({});
    impl_->canvas.reset();
    if (impl_->renderer)
        SDL_DestroyRenderer(impl_->renderer);
    if (impl_->window)
        SDL_DestroyWindow(impl_->window);
    if (impl_->ttf)
        TTF_Quit();
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
}

Canvas& SdlWindow::canvas()
{
    return *impl_->canvas;
}

Size SdlWindow::client_size() const
{
    int w = 0;
    int h = 0;
    SDL_GetWindowSize(impl_->window, &w, &h);
    return {w / impl_->scale, h / impl_->scale};
}

void SdlWindow::set_title(std::wstring_view title)
{
    SDL_SetWindowTitle(impl_->window, to_utf8(title).c_str());
}

void SdlWindow::set_visible(bool visible)
{
    if (visible)
        SDL_ShowWindow(impl_->window);
    else
        SDL_HideWindow(impl_->window);
}

void SdlWindow::raise()
{
    SDL_ShowWindow(impl_->window);
    SDL_RaiseWindow(impl_->window);
}

void SdlWindow::present()
{
    Impl& d = *impl_;
    SDL_Texture* target = d.canvas->impl_->target;
    SDL_SetRenderTarget(d.renderer, nullptr);
    SDL_SetRenderDrawColor(d.renderer, 0, 0, 0, 255);
    SDL_RenderClear(d.renderer);
    if (target)
        SDL_RenderCopy(d.renderer, target, nullptr, nullptr);
    SDL_RenderPresent(d.renderer);
}

size_t SdlWindow::process_events(WindowEvents& sink, uint32_t timeout_ms)
{
    size_t handled = 0;
    SDL_Event ev;
    if (SDL_WaitEventTimeout(&ev, static_cast<int>(timeout_ms))) {
        do {
            // A wake-up only says that window messages are queued.
            if (ev.type != impl_->wake_event) {
                impl_->handle(ev, sink);
                ++handled;
            }
        } while (SDL_PollEvent(&ev));
    }
    return handled + impl_->pump.dispatch_pending();
}

void SdlWindow::push_input(const InputEvent& event)
{
    SDL_Event ev{};
    if (event.type == InputEvent::Type::Text) {
        ev.type = SDL_TEXTINPUT;
        const std::string utf8 = to_utf8(event.text);
        SDL_strlcpy(ev.text.text, utf8.c_str(), sizeof ev.text.text);
    } else {
        ev.type = event.type == InputEvent::Type::KeyDown ? SDL_KEYDOWN : SDL_KEYUP;
        ev.key.state = event.type == InputEvent::Type::KeyDown ? SDL_PRESSED : SDL_RELEASED;
        ev.key.keysym.sym = key_to_sdl(event.key);
    }
    SDL_PushEvent(&ev);
}

void SdlWindow::resize(Size logical)
{
    SDL_SetWindowSize(impl_->window, logical.w * impl_->scale, logical.h * impl_->scale);
}

} // namespace vokar::platform

#include "platform/canvas.h"

#include <SDL_image.h>

#include <array>
#include <cstdlib>
#include <string>

#include "platform/canvas_impl.h"
#include "platform/images.h"
#include "platform/text.h"

namespace vokar::platform {
namespace {

// Images drawn as bitmaps with magenta as the transparent colour.
constexpr std::array kColorKeyedImages = {500, 522, 528};

std::string font_path(bool bold)
{
    const char* file = bold ? "LiberationSans-Bold.ttf" : "LiberationSans-Regular.ttf";
    std::array<std::string, 3> dirs = {"", "/usr/share/fonts/truetype/liberation",
                                       "/usr/share/fonts/truetype/liberation2"};
    if (const char* dir = std::getenv("VOKAR_FONT_DIR"))
        dirs[0] = dir;
    for (const std::string& dir : dirs) {
        if (dir.empty())
            continue;
        std::string path = dir + "/" + file;
        if (SDL_RWops* rw = SDL_RWFromFile(path.c_str(), "rb")) {
            SDL_RWclose(rw);
            return path;
        }
    }
    return {};
}

SDL_Rect scaled(const Rect& r, int scale)
{
    return {r.x * scale, r.y * scale, r.w * scale, r.h * scale};
}

} // namespace

Canvas::Impl::~Impl()
{
    for (auto& [key, font] : fonts)
        if (font)
            TTF_CloseFont(font);
    for (auto& [id, img] : images)
        if (img.texture)
            SDL_DestroyTexture(img.texture);
    if (target)
        SDL_DestroyTexture(target);
}

TTF_Font* Canvas::Impl::font(Font f)
{
    const auto key = std::make_pair(f.points, f.bold);
    auto it = fonts.find(key);
    if (it != fonts.end())
        return it->second;
    // Points at 96 dots per logical inch, times the scale.
    const int pixels = (f.points * 96 * scale + 36) / 72;
    const std::string path = font_path(f.bold);
    TTF_Font* font = path.empty() ? nullptr : TTF_OpenFont(path.c_str(), pixels);
    fonts.emplace(key, font);
    return font;
}

const Canvas::Impl::Image& Canvas::Impl::image(int id)
{
    auto it = images.find(id);
    if (it != images.end())
        return it->second;
    Image img;
    const auto bytes = load_image(id);
    if (!bytes.empty()) {
        SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
        if (SDL_Surface* surface = IMG_Load_RW(rw, 1)) {
            for (int keyed : kColorKeyedImages)
                if (keyed == id)
                    SDL_SetColorKey(surface, SDL_TRUE, SDL_MapRGB(surface->format, 255, 0, 255));
            img.texture = SDL_CreateTextureFromSurface(renderer, surface);
            img.size = {surface->w, surface->h};
            SDL_FreeSurface(surface);
        }
    }
    return images.emplace(id, img).first->second;
}

Canvas::Canvas(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Canvas::~Canvas() = default;

bool Canvas::begin_frame(Size logical)
{
    Impl& d = *impl_;
    bool created = false;
    if (!d.target || !(logical == d.size)) {
        if (d.target)
            SDL_DestroyTexture(d.target);
        d.target =
            SDL_CreateTexture(d.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_TARGET,
                              std::max(1, logical.w * d.scale), std::max(1, logical.h * d.scale));
        d.size = logical;
        ++d.generation;
        created = true;
    }
    SDL_SetRenderTarget(d.renderer, d.target);
    SDL_RenderSetClipRect(d.renderer, nullptr);
    return created;
}

Size Canvas::size() const
{
    return impl_->size;
}

int Canvas::scale() const
{
    return impl_->scale;
}

int Canvas::target_generation() const
{
    return impl_->generation;
}

void Canvas::fill(const Rect& r, Color c)
{
    SDL_SetRenderDrawBlendMode(impl_->renderer,
                               c.a == 255 ? SDL_BLENDMODE_NONE : SDL_BLENDMODE_BLEND);
    SDL_SetRenderDrawColor(impl_->renderer, c.r, c.g, c.b, c.a);
    const SDL_Rect s = scaled(r, impl_->scale);
    SDL_RenderFillRect(impl_->renderer, &s);
}

void Canvas::fill_gradient(const Rect& r, Color top, Color bottom)
{
    const int rows = r.h * impl_->scale;
    if (rows <= 0)
        return;
    auto mix = [rows](uint8_t a, uint8_t b, int i) {
        return static_cast<uint8_t>(a + (b - a) * i / std::max(1, rows - 1));
    };
    for (int i = 0; i < rows; ++i) {
        SDL_SetRenderDrawColor(impl_->renderer, mix(top.r, bottom.r, i), mix(top.g, bottom.g, i),
                               mix(top.b, bottom.b, i), 255);
        const int y = r.y * impl_->scale + i;
        SDL_RenderDrawLine(impl_->renderer, r.x * impl_->scale, y, (r.x + r.w) * impl_->scale - 1,
                           y);
    }
}

void Canvas::frame(const Rect& r, Color c)
{
    fill({r.x, r.y, r.w, 1}, c);
    fill({r.x, r.bottom() - 1, r.w, 1}, c);
    fill({r.x, r.y, 1, r.h}, c);
    fill({r.right() - 1, r.y, 1, r.h}, c);
}

void Canvas::line(int x1, int y1, int x2, int y2, Color c)
{
    const int s = impl_->scale;
    SDL_SetRenderDrawColor(impl_->renderer, c.r, c.g, c.b, c.a);
    for (int i = 0; i < s; ++i)
        SDL_RenderDrawLine(impl_->renderer, x1 * s + i, y1 * s, x2 * s + i, y2 * s);
}

void Canvas::text(const Rect& r, std::wstring_view text, Font font, Color c, Align align)
{
    if (text.empty())
        return;
    TTF_Font* f = impl_->font(font);
    if (!f)
        return;
    const std::string utf8 = to_utf8(text);
    SDL_Surface* surface = TTF_RenderUTF8_Blended(f, utf8.c_str(), SDL_Color{c.r, c.g, c.b, c.a});
    if (!surface)
        return;
    SDL_Texture* texture = SDL_CreateTextureFromSurface(impl_->renderer, surface);
    const SDL_Rect box = scaled(r, impl_->scale);
    SDL_Rect dst{box.x, box.y + (box.h - surface->h) / 2, surface->w, surface->h};
    if (align == Align::Center)
        dst.x = box.x + (box.w - surface->w) / 2;
    else if (align == Align::Right)
        dst.x = box.x + box.w - surface->w;
    SDL_RenderSetClipRect(impl_->renderer, &box);
    SDL_RenderCopy(impl_->renderer, texture, nullptr, &dst);
    SDL_RenderSetClipRect(impl_->renderer, nullptr);
    SDL_DestroyTexture(texture);
    SDL_FreeSurface(surface);
}

Size Canvas::measure(std::wstring_view text, Font font)
{
    TTF_Font* f = impl_->font(font);
    int w = 0;
    int h = 0;
    if (f)
        TTF_SizeUTF8(f, to_utf8(text).c_str(), &w, &h);
    const int s = impl_->scale;
    return {(w + s - 1) / s, (h + s - 1) / s};
}

int Canvas::line_height(Font font)
{
    TTF_Font* f = impl_->font(font);
    return f ? (TTF_FontLineSkip(f) + impl_->scale - 1) / impl_->scale : font.points;
}

bool Canvas::image(int id, int x, int y)
{
    const Impl::Image& img = impl_->image(id);
    if (!img.texture)
        return false;
    const SDL_Rect dst = scaled({x, y, img.size.w, img.size.h}, impl_->scale);
    SDL_RenderCopy(impl_->renderer, img.texture, nullptr, &dst);
    return true;
}

Size Canvas::image_size(int id)
{
    return impl_->image(id).size;
}

bool Canvas::save_png(const std::string& path)
{
    Impl& d = *impl_;
    if (!d.target)
        return false;
    SDL_SetRenderTarget(d.renderer, d.target);
    const int w = d.size.w * d.scale;
    const int h = d.size.h * d.scale;
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_ARGB8888);
    if (!surface)
        return false;
    bool ok = SDL_RenderReadPixels(d.renderer, nullptr, SDL_PIXELFORMAT_ARGB8888, surface->pixels,
                                   surface->pitch) == 0 &&
              IMG_SavePNG(surface, path.c_str()) == 0;
    SDL_FreeSurface(surface);
    return ok;
}

} // namespace vokar::platform

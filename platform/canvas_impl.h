#pragma once

// Private to platform/: the SDL side of Canvas, shared by canvas.cpp and
// sdl_window.cpp.

#include <SDL.h>
#include <SDL_ttf.h>

#include <map>
#include <utility>

#include "platform/canvas.h"

namespace vokar::platform {

struct Canvas::Impl {
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* target = nullptr;
    Size size;
    int scale = 1;
    int generation = 0;
    std::map<std::pair<int, bool>, TTF_Font*> fonts;
    struct Image {
        SDL_Texture* texture = nullptr; // null when the image could not be decoded
        Size size;
    };
    std::map<int, Image> images;

    ~Impl();
    TTF_Font* font(Font f);
    const Image& image(int id);
};

} // namespace vokar::platform

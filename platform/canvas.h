#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vokar::platform {

struct Rect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
    int right() const { return x + w; }
    int bottom() const { return y + h; }
    bool operator==(const Rect&) const = default;
};

struct Color {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    uint8_t a = 255;
};

struct Size {
    int w = 0;
    int h = 0;
    bool operator==(const Size&) const = default;
};

// Liberation Sans stands in for Arial; bold is used for titles and names.
struct Font {
    int points = 9;
    bool bold = false;
};

enum class Align { Left, Center, Right };

// Draws into an off-screen target in logical pixels; the target holds
// logical size x scale physical pixels. The target is kept between frames and
// recreated only when the requested size changes. Only the GUI thread draws.
class Canvas {
public:
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    // Makes the target `logical` big (recreating it when the size differs)
    // and directs drawing to it. Returns true when it was (re)created.
    bool begin_frame(Size logical);
    Size size() const;
    int scale() const;
    // How many times the target has been created.
    int target_generation() const;

    void fill(const Rect& r, Color c);
    // Vertical gradient from `top` to `bottom`.
    void fill_gradient(const Rect& r, Color top, Color bottom);
    void frame(const Rect& r, Color c);
    void line(int x1, int y1, int x2, int y2, Color c);

    // Draws one line of text clipped to `r`, vertically centred.
    void text(const Rect& r, std::wstring_view text, Font font, Color c, Align align = Align::Left);
    Size measure(std::wstring_view text, Font font);
    // Height of one line of text in this font.
    int line_height(Font font);

    // Draws image `id` (decoded once, on first use) with its top-left corner
    // at (x, y); images 500, 522 and 528 are bitmaps whose magenta pixels are
    // transparent. False when there is no such image.
    bool image(int id, int x, int y);
    Size image_size(int id);

    // Writes the target as a PNG file.
    bool save_png(const std::string& path);

private:
    friend class SdlWindow;
    struct Impl;
    explicit Canvas(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace vokar::platform

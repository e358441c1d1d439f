#include "bench/capture/desktop_picture.h"

#include <algorithm>
#include <cstdlib>

namespace {

struct Rgb {
    int r, g, b;
};

std::uint32_t hash32(std::uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

std::uint32_t hash2(int a, int b)
{
    return hash32(std::uint32_t(a) * 0x9E3779B1U ^ hash32(std::uint32_t(b) + 0x632BE5ABU));
}

struct Canvas {
    std::vector<std::uint8_t> px = std::vector<std::uint8_t>(std::size_t(DESKTOP_WIDTH) *
                                                             DESKTOP_HEIGHT * 4);

    std::uint8_t* at(int x, int y) { return &px[(std::size_t(y) * DESKTOP_WIDTH + x) * 4]; }
    static bool inside(int x, int y)
    {
        return x >= 0 && y >= 0 && x < DESKTOP_WIDTH && y < DESKTOP_HEIGHT;
    }
    void set(int x, int y, Rgb c)
    {
        if (!inside(x, y))
            return;
        std::uint8_t* p = at(x, y);
        p[0] = std::uint8_t(std::clamp(c.b, 0, 255));
        p[1] = std::uint8_t(std::clamp(c.g, 0, 255));
        p[2] = std::uint8_t(std::clamp(c.r, 0, 255));
        p[3] = 0;
    }
    // Mixes `c` over the pixel with weight alpha / 256.
    void blend(int x, int y, Rgb c, int alpha)
    {
        if (!inside(x, y))
            return;
        std::uint8_t* p = at(x, y);
        const int keep = 256 - alpha;
        set(x, y, {(c.r * alpha + p[2] * keep) >> 8, (c.g * alpha + p[1] * keep) >> 8,
                   (c.b * alpha + p[0] * keep) >> 8});
    }
    void fill(int x, int y, int w, int h, Rgb c)
    {
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i)
                set(i, j, c);
    }
    void frame(int x, int y, int w, int h, Rgb c)
    {
        fill(x, y, w, 1, c);
        fill(x, y + h - 1, w, 1, c);
        fill(x, y, 1, h, c);
        fill(x + w - 1, y, 1, h, c);
    }
};

constexpr int GLYPH_ADVANCE = 7;
constexpr int LINE_HEIGHT = 18;

// A letter-like shape of stems and bars in a 5 x 9 cell, with a soft right
// fringe as anti-aliased text has.
void draw_glyph(Canvas& c, int x, int y, std::uint32_t code, Rgb colour)
{
    std::uint32_t h = hash32(code * 7919U + 13U);
    if ((h & 0x1F) == 0)
        h |= 0x15;
    const bool left = h & 1, right = h & 2, top = h & 4, middle = h & 8, bottom = h & 16;
    const bool tall = h & 32, diagonal = h & 64;
    for (int row = 0; row < 9; ++row)
        for (int col = 0; col < 5; ++col) {
            const int r = row - 2;  // rows 0-1 only for tall letters
            const bool on = (left && col == 0 && (r >= 0 || tall)) ||
                            (right && col == 4 && r >= 0) ||
                            (top && r == 0 && col > 0 && col < 4) ||
                            (middle && r == 3 && col < 4) || (bottom && r == 6 && col > 0) ||
                            (diagonal && r >= 0 && col == r * 4 / 6);
            if (on) {
                c.set(x + col, y + row, colour);
                c.blend(x + col + 1, y + row, colour, 90);
            }
        }
}

// Words of hash-chosen letters; returns the x after the last letter.
int draw_words(Canvas& c, int x, int y, int right, std::uint32_t seed, int words, bool coloured,
               Rgb plain)
{
    static const Rgb syntax[] = {{0, 0, 180}, {0, 128, 0}, {163, 21, 21}, {111, 0, 138}};
    for (int w = 0; w < words; ++w) {
        const std::uint32_t wh = hash2(int(seed), w);
        const int letters = 2 + int(wh % 8);
        if (x + letters * GLYPH_ADVANCE > right)
            break;
        const Rgb colour = coloured && (wh >> 8) % 10 < 3 ? syntax[(wh >> 12) % 4] : plain;
        for (int l = 0; l < letters; ++l, x += GLYPH_ADVANCE)
            draw_glyph(c, x, y, hash2(int(wh), l) % 64, colour);
        x += GLYPH_ADVANCE;
    }
    return x;
}

void draw_wallpaper(Canvas& c)
{
    for (int y = 0; y < DESKTOP_HEIGHT; ++y)
        for (int x = 0; x < DESKTOP_WIDTH; ++x) {
            const int band = std::abs((x - y * 2) % 900 - 450) / 15;
            c.set(x, y, {18 + y * 40 / DESKTOP_HEIGHT + band / 2,
                         70 + (x + y) * 50 / (DESKTOP_WIDTH + DESKTOP_HEIGHT) + band,
                         120 + x * 60 / DESKTOP_WIDTH + band});
        }
}

void draw_desktop_icons(Canvas& c)
{
    const int spots[][2] = {{24, 880}, {24, 965}, {1866, 40}, {1866, 125}, {1866, 210}};
    for (const auto& s : spots) {
        const std::uint32_t h = hash2(s[0], s[1]);
        c.fill(s[0], s[1], 44, 40, {int(h & 255), int(h >> 8 & 255), int(h >> 16 & 255)});
        c.fill(s[0] + 6, s[1] + 6, 32, 10, {250, 250, 250});
        draw_words(c, s[0] - 2, s[1] + 46, s[0] + 50, h, 1, false, {255, 255, 255});
    }
}

// Title bar with caption and the three buttons; returns the bar's height.
int draw_title_bar(Canvas& c, int x, int y, int w, std::uint32_t seed)
{
    c.fill(x, y, w, 30, {238, 238, 238});
    c.fill(x + 8, y + 7, 16, 16, {0, 120, 215});
    draw_words(c, x + 32, y + 10, x + w - 150, seed, 4, false, {20, 20, 20});
    const int bx = x + w - 138;
    c.fill(bx + 17, y + 15, 11, 1, {20, 20, 20});
    c.frame(bx + 63, y + 10, 11, 11, {20, 20, 20});
    c.fill(bx + 92, y, 46, 30, {232, 17, 35});
    for (int i = 0; i < 11; ++i) {
        c.set(bx + 110 + i, y + 10 + i, {255, 255, 255});
        c.set(bx + 120 - i, y + 10 + i, {255, 255, 255});
    }
    return 30;
}

void draw_window_frame(Canvas& c, int x, int y, int w, int h)
{
    for (int s = 1; s <= 8; ++s) {  // soft shadow right and below
        for (int i = x + s; i < x + w + s; ++i)
            c.blend(i, y + h + s - 1, {0, 0, 0}, 60 - s * 6);
        for (int j = y + s; j < y + h + s - 1; ++j)
            c.blend(x + w + s - 1, j, {0, 0, 0}, 60 - s * 6);
    }
    c.frame(x, y, w, h, {110, 110, 110});
}

void draw_editor(Canvas& c, const DesktopScene& scene)
{
    const int x = 60, y = 40, w = 1100, h = 800;
    draw_window_frame(c, x - 1, y - 1, w + 2, h + 2);
    int top = y + draw_title_bar(c, x, y, w, 11);
    c.fill(x, top, w, 22, {250, 250, 250});
    draw_words(c, x + 10, top + 7, x + 400, 12, 6, false, {30, 30, 30});
    top += 22;
    c.fill(x, top, w, 28, {228, 228, 228});
    for (int t = 0; t < 3; ++t) {
        c.fill(x + 4 + t * 170, top + 4, 164, 24, t == 0 ? Rgb{255, 255, 255} : Rgb{214, 214, 214});
        draw_words(c, x + 14 + t * 170, top + 11, x + 160 + t * 170, 40 + t, 2, false,
                   {40, 40, 40});
    }
    top += 28;
    const int status_y = y + h - 22;
    c.fill(x, top, 50, status_y - top, {245, 245, 245});
    c.fill(x + 50, top, w - 50, status_y - top, {255, 255, 255});
    c.fill(x + w - 14, top, 14, status_y - top, {240, 240, 240});
    c.fill(x + w - 12, top + 4 + scene.scroll_lines * 3, 10, 120, {192, 192, 192});
    const int lines = (status_y - top - 4) / LINE_HEIGHT;
    for (int i = 0; i < lines; ++i) {
        const int doc_line = i + scene.scroll_lines;
        const int ly = top + 4 + i * LINE_HEIGHT;
        draw_words(c, x + 8, ly, x + 46, 100000 + doc_line, 1, false, {150, 150, 150});
        const std::uint32_t lh = hash32(std::uint32_t(doc_line) + 5U);
        if (lh % 9 == 0)
            continue;  // blank line
        const int indent = int(lh >> 4) % 4 * 4 * GLYPH_ADVANCE;
        int end = draw_words(c, x + 60 + indent, ly, x + w - 24, std::uint32_t(doc_line),
                             6 + int(lh >> 8) % 14, true, {30, 30, 30});
        if (doc_line == 23)
            for (int k = 0; k < scene.typed_chars; ++k, end += GLYPH_ADVANCE)
                draw_glyph(c, end, ly, std::uint32_t(k * 5 + 1), {30, 30, 30});
    }
    c.fill(x, status_y, w, 22, {0, 122, 204});
    draw_words(c, x + 10, status_y + 7, x + 600, 77, 5, false, {255, 255, 255});
}

// 0..255, smooth over `cell` pixels.
int value_noise(int x, int y, int cell, int seed)
{
    const int gx = x / cell, gy = y / cell, fx = x % cell, fy = y % cell;
    auto v = [&](int i, int j) { return int(hash2(gx + i, (gy + j) * 977 + seed) & 255); };
    const int upper = v(0, 0) * (cell - fx) + v(1, 0) * fx;
    const int lower = v(0, 1) * (cell - fx) + v(1, 1) * fx;
    return (upper * (cell - fy) + lower * fy) / (cell * cell);
}

void draw_photo(Canvas& c, int x0, int y0, int w, int h)
{
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int ridge = h / 2 + (value_noise(x, 0, 160, 1) - 128) * h / 700 +
                              (value_noise(x, 0, 23, 2) - 128) * h / 2400;
            const int grain = int(hash2(x, y) % 13) - 6;
            const int texture = value_noise(x, y, 40, 3) / 3 + value_noise(x, y, 9, 4) / 5;
            Rgb p;
            if (y < ridge) {
                const int cloud = std::max(0, value_noise(x, y, 90, 5) - 150);
                p = {90 + y * 80 / h + cloud, 140 + y * 60 / h + cloud, 220 + cloud / 3};
            } else {
                const int depth = (y - ridge) * 255 / std::max(1, h - ridge);
                p = {40 + texture / 2 + depth / 6, 90 + texture - depth / 5, 30 + texture / 4};
            }
            c.set(x0 + x, y0 + y, {p.r + grain, p.g + grain, p.b + grain});
        }
}

void draw_photo_viewer(Canvas& c)
{
    const int x = 1000, y = 200, w = 860, h = 640;
    draw_window_frame(c, x - 1, y - 1, w + 2, h + 2);
    const int top = y + draw_title_bar(c, x, y, w, 21);
    c.fill(x, top, w, 36, {245, 245, 245});
    for (int b = 0; b < 8; ++b)
        c.frame(x + 10 + b * 36, top + 6, 26, 24, {120, 120, 120});
    c.fill(x, top + 36, w, h - 66, {40, 40, 40});
    draw_photo(c, x + 10, top + 46, w - 20, h - 86);
}

void draw_taskbar(Canvas& c)
{
    const int y = DESKTOP_HEIGHT - 40;
    c.fill(0, y, DESKTOP_WIDTH, 40, {30, 32, 40});
    c.fill(0, y, DESKTOP_WIDTH, 1, {70, 72, 80});
    c.fill(8, y + 6, 28, 28, {0, 120, 215});
    for (int i = 0; i < 8; ++i) {
        const std::uint32_t h = hash32(std::uint32_t(i) + 900U);
        const int ix = 56 + i * 44;
        c.fill(ix, y + 6, 28, 28, {int(h & 255), int(h >> 8 & 255), int(h >> 16 & 255)});
        c.fill(ix + 7, y + 13, 14, 14, {235, 235, 235});
        if (i < 3)
            c.fill(ix + 4, y + 37, 20, 2, {96, 205, 255});
    }
    draw_words(c, DESKTOP_WIDTH - 110, y + 8, DESKTOP_WIDTH - 10, 55, 2, false, {255, 255, 255});
    draw_words(c, DESKTOP_WIDTH - 110, y + 22, DESKTOP_WIDTH - 10, 56, 1, false, {255, 255, 255});
}

} // namespace

std::vector<std::uint8_t> draw_desktop(const DesktopScene& scene)
{
    Canvas c;
    draw_wallpaper(c);
    draw_desktop_icons(c);
    draw_editor(c, scene);
    draw_photo_viewer(c);
    draw_taskbar(c);
    return std::move(c.px);
}

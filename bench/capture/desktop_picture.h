#pragma once
// A desktop-like picture drawn from integer arithmetic only, so that every
// build produces the same pixels: wallpaper, a taskbar, an editor window full
// of text-like glyphs, and a photo viewer with a noisy landscape.
#include <cstdint>
#include <vector>

struct DesktopScene {
    int scroll_lines = 0;  // editor text moved up by this many lines
    int typed_chars = 0;   // characters added at the editor's caret
};

inline constexpr int DESKTOP_WIDTH = 1920;
inline constexpr int DESKTOP_HEIGHT = 1080;

// Top-down, 4 bytes a pixel (blue, green, red, 0), DESKTOP_WIDTH * 4 bytes a row.
std::vector<std::uint8_t> draw_desktop(const DesktopScene& scene);

#pragma once
// What the banner and the tray icon show, computed from the agent's state
// without Windows: texts, the menu's rows and the banner's geometry.
#include <optional>
#include <string>
#include <vector>

#include "ui/toolkit.h"

// The agent's own console window, as the tray's console toggle sees it.
enum class OwnConsole { None, Hidden, Visible };

// A snapshot of the state the tray and the banner read.
struct TrayView {
    bool session = false;      // an authorised viewer is connected
    std::wstring viewer_name;  // its address
    bool accepting = true;     // accept_connections
    std::wstring id;           // the ID the relay assigned; empty until then
    std::wstring caption;      // the banner's caption, "ID: ..." once registered
    bool password_set = false;
    bool relay_mode = false;  // relay_host is set
    bool launched_by_service = false;
    bool main_window = false;  // the main window exists
    OwnConsole console = OwnConsole::None;
};

inline constexpr std::size_t BANNER_TEXT_MAX = 159;
inline constexpr std::size_t TRAY_TIP_MAX = 127;

std::wstring banner_text(const TrayView& view);
std::wstring tray_tooltip(const TrayView& view);

// The menu's commands; the window procedure of the tray answers them.
enum TrayCommand : int {
    TRAY_STATUS = 2001,
    TRAY_EXIT = 2002,
    TRAY_OPEN = 2003,
    TRAY_COPY_ID = 2004,
    TRAY_COPY_PASSWORD = 2005,
    TRAY_CONSOLE = 2006,
    TRAY_NEW_PASSWORD = 2007,
    TRAY_RESET_ID = 2008,
    TRAY_INSTALL_SERVICE = 2009,
    TRAY_OPEN_LOG = 2010,
};

struct TrayMenuItem {
    int command = 0;
    std::wstring text;
    bool separator_before = false;
    bool is_default = false;
    bool greyed = false;
    bool checked = false;
};

// The rows of the tray menu for this state, top to bottom.
std::vector<TrayMenuItem> tray_menu_items(const TrayView& view);

// --- banner geometry ---------------------------------------------------------

inline constexpr int BANNER_HEIGHT = 40;
inline constexpr int BANNER_FIRST_WIDTH = 210;
inline constexpr int BANNER_MIN_WIDTH = 170;
inline constexpr int BANNER_TEXT_PADDING = 56;  // around the icon and the text
inline constexpr int BANNER_ICON_SIZE = 16;
inline constexpr int BANNER_ICON_ROOM = 24;  // the icon and the gap after it

// Text width plus padding, at least the minimum, at most 0.9 of the screen.
int banner_width(int text_width, int screen_width);

struct BannerBox {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const BannerBox&) const = default;
};

// The banner at `width` around the same horizontal centre and at the same top;
// none when the width is within 2 pixels of the current one.
std::optional<BannerBox> resized_banner(const BannerBox& current, int width);

struct BannerPaint {
    int icon_left = 0;
    int icon_top = 0;
    UiRect text;
};

// The icon and the text centred together in the client area.
BannerPaint banner_paint_layout(int client_width, int client_height, int text_width);

// The banner: a small topmost strip that can be dragged anywhere.
#include "ui/banner.h"

#include "app/agent_state.h"
#include "app/win_util.h"
#include "resources/resource_ids.h"
#include "ui/toolkit_win.h"
#include "ui/tray_view.h"
#include "ui/ui_state.h"

namespace {

constexpr wchar_t CLASS_NAME[] = L"OrvaneBanner";
constexpr COLORREF SESSION_FILL = RGB(200, 40, 40);
constexpr COLORREF IDLE_FILL = RGB(60, 60, 60);

// Made on first use and kept: the banner is re-created, its font need not be.
HFONT banner_font()
{
    static const HFONT font =
        CreateFontW(-12, 0, 0, 0, 600, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, VARIABLE_PITCH | FF_SWISS, L"Segoe UI");
    return font;
}

std::wstring current_text()
{
    TrayView view;
    view.session = agent.viewer_connected;
    view.viewer_name = agent.viewer_name.get();
    view.caption = agent.banner_caption.get();
    return banner_text(view);
}

int text_width(HDC dc, const std::wstring& text)
{
    HGDIOBJ old = SelectObject(dc, banner_font());
    RECT box{};
    DrawTextW(dc, text.c_str(), -1, &box, DT_CALCRECT | DT_SINGLELINE);
    SelectObject(dc, old);
    return box.right - box.left;
}

void on_paint(HWND window)
{
    PAINTSTRUCT ps;
    HDC target = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    OffscreenBuffer buffer(target, client.right, client.bottom);
    HDC dc = buffer.dc ? buffer.dc : target;

    const bool session = agent.viewer_connected;
    HBRUSH fill = CreateSolidBrush(session ? SESSION_FILL : IDLE_FILL);
    FillRect(dc, &client, fill);
    DeleteObject(fill);

    const std::wstring text = current_text();
    const BannerPaint layout =
        banner_paint_layout(client.right, client.bottom, text_width(dc, text));
    const auto icon = HICON(LoadImageW(
        GetModuleHandleW(nullptr), MAKEINTRESOURCEW(session ? IDI_ORVANE_ACTIVE : IDI_ORVANE_IDLE),
        IMAGE_ICON, BANNER_ICON_SIZE, BANNER_ICON_SIZE, LR_SHARED));
    if (icon)
        DrawIconEx(dc, layout.icon_left, layout.icon_top, icon, BANNER_ICON_SIZE, BANNER_ICON_SIZE,
                   0, nullptr, DI_NORMAL);
    const RECT text_box = to_rect(layout.text);
    draw_ui_text(dc, text.c_str(), text_box, banner_font(), Colour::White,
                 DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);

    buffer.copy_to(target, 0, 0);
    EndPaint(window, &ps);
}

LRESULT CALLBACK banner_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_PAINT:
        on_paint(window);
        return 0;
    case WM_ERASEBKGND:
        return 1;  // the paint covers every pixel
    case WM_SETCURSOR:
        SetCursor(LoadCursorW(nullptr, IDC_SIZEALL));
        return TRUE;
    case WM_LBUTTONDOWN:
        // Dragged by any point, as if by a caption.
        ReleaseCapture();
        SendMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, 0);
        return 0;
    case WM_DESTROY:
        if (ui.banner_window == window)
            ui.banner_window = nullptr;
        if (!ui.rebuilding)
            PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

bool register_banner_class(HINSTANCE instance)
{
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = banner_proc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    cls.lpszClassName = CLASS_NAME;
    return RegisterClassExW(&cls) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

} // namespace

HWND create_banner(HINSTANCE instance)
{
    if (!register_banner_class(instance))
        return nullptr;
    // Created hidden: with connections forbidden it must not flash up first.
    HWND banner = CreateWindowExW(
        WS_EX_TOOLWINDOW | WS_EX_TOPMOST, CLASS_NAME, L"Orvane", WS_POPUP | WS_BORDER,
        (GetSystemMetrics(SM_CXSCREEN) - BANNER_FIRST_WIDTH) / 2, 0, BANNER_FIRST_WIDTH,
        BANNER_HEIGHT, nullptr, nullptr, instance, nullptr);
    if (!banner) {
        report_win32_failure("CreateWindowExW");
        return nullptr;
    }
    ui.banner_window = banner;
    update_banner_size();
    return banner;
}

void update_banner_size()
{
    HWND banner = ui.banner_window;
    if (!banner)
        return;
    HDC screen = GetDC(nullptr);
    const int width =
        banner_width(text_width(screen, current_text()), GetSystemMetrics(SM_CXSCREEN));
    ReleaseDC(nullptr, screen);
    RECT outer;
    GetWindowRect(banner, &outer);
    const BannerBox current{outer.left, outer.top, outer.right - outer.left,
                            outer.bottom - outer.top};
    if (const auto resized = resized_banner(current, width))
        SetWindowPos(banner, nullptr, resized->left, resized->top, resized->width, resized->height,
                     SWP_NOACTIVATE | SWP_NOZORDER);
    InvalidateRect(banner, nullptr, FALSE);
}

void update_banner_visibility()
{
    HWND banner = ui.banner_window;
    const bool shown = agent.viewer_connected || agent.config.accept_connections;
    if (banner)
        ShowWindow(banner, shown ? SW_SHOWNOACTIVATE : SW_HIDE);
    // Nobody could reach a machine that fell asleep.
    SetThreadExecutionState(ES_CONTINUOUS | (shown ? ES_SYSTEM_REQUIRED : 0));
}

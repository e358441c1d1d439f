#include "ui/tray_view.h"

#include <algorithm>
#include <cstdlib>

namespace {

std::wstring cut(std::wstring text, std::size_t max_chars)
{
    if (text.size() > max_chars)
        text.resize(max_chars);
    return text;
}

std::wstring status_line(const TrayView& view)
{
    if (view.session)
        return L"● Идёт сеанс: " + view.viewer_name;
    if (!view.id.empty())
        return L"○ Готов · ID " + view.id;
    return L"○ Ожидание подключения";
}

} // namespace

std::wstring banner_text(const TrayView& view)
{
    if (view.session)
        return cut(L"ЭКРАН ТРАНСЛИРУЕТСЯ  —  " + view.viewer_name, BANNER_TEXT_MAX);
    if (!view.caption.empty())
        return cut(view.caption, BANNER_TEXT_MAX);
    return L"Ожидание подключения...";
}

std::wstring tray_tooltip(const TrayView& view)
{
    if (view.session)
        return cut(L"Orvane — сеанс: " + view.viewer_name, TRAY_TIP_MAX);
    if (!view.accepting)
        return L"Orvane — подключения запрещены";
    if (!view.id.empty())
        return cut(L"Orvane — ID " + view.id, TRAY_TIP_MAX);
    return L"Orvane — ожидание подключения";
}

std::vector<TrayMenuItem> tray_menu_items(const TrayView& view)
{
    std::vector<TrayMenuItem> items;
    if (view.main_window)
        items.push_back({TRAY_OPEN, L"Открыть Orvane", false, true});
    items.push_back({TRAY_STATUS, status_line(view), view.main_window, false, true});
    items.push_back({TRAY_COPY_ID, L"Копировать ID", false, false, view.id.empty()});
    items.push_back({TRAY_COPY_PASSWORD, L"Копировать пароль", false, false, !view.password_set});
    if (view.relay_mode) {
        items.push_back({TRAY_NEW_PASSWORD, L"Новый пароль"});
        items.push_back({TRAY_RESET_ID, L"Сбросить ID (новый после перезапуска)"});
    }
    if (!view.launched_by_service)
        items.push_back({TRAY_INSTALL_SERVICE, L"Включить фоновый доступ (служба)...", true});
    if (view.console != OwnConsole::None)
        items.push_back({TRAY_CONSOLE, L"Журнал (консоль)", true, false, false,
                         view.console == OwnConsole::Visible});
    else if (view.launched_by_service)
        items.push_back({TRAY_OPEN_LOG, L"Открыть файл журнала", true});
    items.push_back({TRAY_EXIT, L"Выход", true});
    return items;
}

int banner_width(int text_width, int screen_width)
{
    const int widest = int(screen_width * 0.9);
    return std::min(std::max(text_width + BANNER_TEXT_PADDING, BANNER_MIN_WIDTH), widest);
}

std::optional<BannerBox> resized_banner(const BannerBox& current, int width)
{
    if (std::abs(width - current.width) <= 2)
        return std::nullopt;
    return BannerBox{current.left + current.width / 2 - width / 2, current.top, width,
                     BANNER_HEIGHT};
}

BannerPaint banner_paint_layout(int client_width, int client_height, int text_width)
{
    BannerPaint paint;
    const int left = (client_width - text_width - BANNER_ICON_ROOM) / 2;
    paint.icon_left = left;
    paint.icon_top = (client_height - BANNER_ICON_SIZE) / 2;
    paint.text = {left + BANNER_ICON_ROOM, 0, left + BANNER_ICON_ROOM + text_width, client_height};
    return paint;
}

#include <memory>

#include "app/win_thread.h"
#include "app/win_util.h"
#include "ui/message_box.h"
#include "ui/password_dialog.h"
#include "ui/saved_list.h"
#include "viewer/viewer.h"

namespace {

std::wstring password_title(const ServerEntry& entry)
{
    if (!entry.name.empty())
        return L"Пароль — " + entry.name;
    return L"Пароль — " + (entry.relay_host.empty() ? entry.host : entry.relay_id);
}

} // namespace

void launch_viewer(const ServerEntry& entry)
{
    if (viewer.open) {
        show_message_box(nullptr, L"Просмотр уже открыт. Закройте текущее окно.",
                         MB_ICONINFORMATION);
        return;
    }
    auto params = std::make_unique<ViewerParams>();
    params->host = wide_to_ansi(entry.host);
    params->port = entry.port;
    params->password = entry.password;
    params->relay_host = wide_to_ansi(entry.relay_host);
    params->relay_port = entry.relay_port;
    params->relay_id = wide_to_ansi(entry.relay_id);
    if (params->password.empty() && !ask_password(password_title(entry), params->password))
        return;
    viewer.open = true;
    if (!start_thread(viewer_thread, std::move(params)))
        viewer.open = false;
}

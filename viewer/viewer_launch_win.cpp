#include <memory>

#include "app/win_thread.h"
#include "credentials/protected_storage.h"
#include "ui/message_box.h"
#include "ui/password_dialog.h"
#include "ui/server_entry.h"
#include "viewer/viewer.h"

namespace {

void tell_viewer_is_open()
{
    show_message_box(nullptr, L"Просмотр уже открыт. Закройте текущее окно.", MB_ICONINFORMATION);
}

} // namespace

void launch_viewer(const ServerEntry& entry)
{
    if (viewer.open) {
        tell_viewer_is_open();
        return;
    }
    auto params = std::make_unique<ViewerParams>();
    params->host = to_ansi(entry.host);
    params->port = entry.port;
    params->password = entry.password;
    params->relay_host = to_ansi(entry.relay_host);
    params->relay_port = entry.relay_port;
    params->relay_id = to_ansi(entry.relay_id);
    // Asked for this session only: a typed password is never stored.
    if (params->password.empty() && !ask_password(password_prompt_title(entry), params->password))
        return;
    // The prompt's loop lets the main window start another launch meanwhile;
    // whichever comes second must not start a second session.
    if (viewer.open.exchange(true)) {
        tell_viewer_is_open();
        return;
    }
    if (!start_thread(viewer_thread, std::move(params)))
        viewer.open = false;
}

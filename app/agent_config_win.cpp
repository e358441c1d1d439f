#include "app/agent_config_win.h"

#include <windows.h>

#include <cstdio>

#include "app/win_util.h"
#include "default_relay.h"

namespace {

constexpr char SECTION[] = "server";

} // namespace

// The template is kept in UTF-8 in the source; the file is read back with the
// narrow profile functions, so it is written in the ANSI code page.
bool write_server_ini_template(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    for (const std::string& line :
         server_ini_template(ORVANE_DEFAULT_RELAY, ORVANE_DEFAULT_RELAY_PORT)) {
        std::string ansi = wide_to_ansi(utf8_to_wide(line));
        std::fwrite(ansi.data(), 1, ansi.size(), file);
    }
    std::fclose(file);
    return true;
}

namespace {

std::string read_text(const std::string& path, const char* key, std::size_t field)
{
    std::string buffer(field, '\0');
    DWORD n = GetPrivateProfileStringA(SECTION, key, "", buffer.data(), DWORD(field), path.c_str());
    buffer.resize(n);
    return buffer;
}

UINT read_int(const std::string& path, const char* key, int fallback)
{
    return GetPrivateProfileIntA(SECTION, key, fallback, path.c_str());
}

} // namespace

std::string prepare_server_ini()
{
    std::string path = exe_directory() + "server.ini";
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        write_server_ini_template(path);  // cannot be created: built-in defaults apply
    return path;
}

void read_server_ini(const std::string& path, AgentConfig& config, StoredPassword& stored)
{
    config.port = static_cast<std::uint16_t>(read_int(path, "port", DEFAULT_AGENT_PORT));
    config.allow = read_text(path, "allow", ALLOW_FIELD);
    config.relay_host = read_text(path, "relay_host", RELAY_HOST_FIELD);
    config.relay_port = static_cast<std::uint16_t>(read_int(path, "relay_port", DEFAULT_RELAY_PORT));
    config.relay_id.set(read_text(path, "relay_id", RELAY_ID_FIELD));
    config.close_to_tray = read_int(path, "close_to_tray", 1) != 0;
    config.accept_connections = read_int(path, "accept_connections", 1) != 0;
    stored.plain = read_text(path, "password", PASSWORD_FIELD);
    stored.protected_ = read_text(path, "password_enc", PASSWORD_ENC_FIELD);
}

void write_server_ini_key(const std::string& path, const char* key, const std::string& value)
{
    if (!path.empty())
        WritePrivateProfileStringA(SECTION, key, value.c_str(), path.c_str());
}

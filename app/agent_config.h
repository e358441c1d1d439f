#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "app/shared_text.h"

inline constexpr std::uint16_t DEFAULT_AGENT_PORT = 55500;
inline constexpr std::uint16_t DEFAULT_RELAY_PORT = 56000;

// Sizes of the text fields as read from server.ini (terminator included).
inline constexpr std::size_t ALLOW_FIELD = 512;
inline constexpr std::size_t RELAY_HOST_FIELD = 128;
inline constexpr std::size_t RELAY_ID_FIELD = 64;
inline constexpr std::size_t INI_PATH_FIELD = 260;
inline constexpr std::size_t PASSWORD_FIELD = 256;
inline constexpr std::size_t PASSWORD_ENC_FIELD = 512;

// The agent's settings, filled at start-up before any thread starts. Texts are
// narrow strings in the ANSI code page, as the profile functions return them.
struct AgentConfig {
    std::uint16_t port = DEFAULT_AGENT_PORT;
    std::string allow;
    std::string relay_host;
    std::uint16_t relay_port = DEFAULT_RELAY_PORT;
    SharedText<char, RELAY_ID_FIELD> relay_id;  // filled by the accept thread
    bool close_to_tray = true;
    std::atomic<bool> accept_connections{true};  // switched by the UI thread
    std::string ini_path;
    SharedText<char, PASSWORD_FIELD> current_password;  // replaced by the UI thread
};

// The agent's first argument overrides the port: atoi, then the low 16 bits.
std::uint16_t port_from_argument(const char* argument);

// Lines of the server.ini written when the file is missing, in UTF-8, each
// ending with a line feed. relay_host and relay_port are the packager's
// default relay.
std::vector<std::string> server_ini_template(const std::string& relay_host,
                                             std::uint16_t relay_port);

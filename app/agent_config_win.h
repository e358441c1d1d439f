#pragma once
#include <string>

#include "app/agent_config.h"

// Keys of server.ini that only start-up reads.
struct StoredPassword {
    std::string plain;      // "password": typed in by hand, moved out at start
    std::string protected_; // "password_enc"
};

// Builds the path of server.ini beside the executable and writes the template
// when the file does not exist. Returns the path.
std::string prepare_server_ini();

// Writes the commented template of a fresh installation; false if it cannot.
bool write_server_ini_template(const std::string& path);

// Reads the [server] section into the config and the stored password keys.
void read_server_ini(const std::string& ini_path, AgentConfig& config, StoredPassword& stored);

// Writes one key of [server]; used for the values that change at run time.
void write_server_ini_key(const std::string& ini_path, const char* key, const std::string& value);

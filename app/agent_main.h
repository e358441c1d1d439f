#pragma once
#include <span>

#include "app/agent_config_win.h"
#include "credentials/protected_storage.h"

// Runs the agent until the user quits; the exit code of the process.
// argv[1], when present, overrides the listening port.
int agent_main(int argc, char** argv);

// Started by double-click, the console belongs to the agent alone and only
// clutters: it is hidden, but only when the tray window exists, whose menu
// can bring it back. Otherwise the agent would vanish with the password the
// console showed.
void hide_own_console();

// Start-up's password from what server.ini holds: the plain key, else the
// protected one, else a new random one, stored protected where needed. False,
// after telling the user, when a new one was needed and no system generator
// works: the agent must not run with a guessable password.
bool settle_agent_password(const StoredPassword& stored,
                           std::span<const RandomSource> sources = system_random_sources());

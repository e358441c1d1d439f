#pragma once

// Exit codes as the command line promises them: 0 or 1.
int install_service();
int uninstall_service();

// True when the service is installed: the user was told so and the manual
// agent must not start.
bool installed_service_guard();

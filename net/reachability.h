#pragma once
#include <windows.h>

// Probes the saved computers every 10 s and asks the relay for its version.
DWORD WINAPI reachability_poller(void*);

#include "net/reachability.h"

// Nothing to probe until the saved computers and the relay client exist.
DWORD WINAPI reachability_poller(void*)
{
    return 0;
}

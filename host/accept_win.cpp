#include "host/accept.h"

// Viewers are admitted once the sessions exist; until then the thread only
// takes ownership of its record.
DWORD WINAPI accept_thread(void* args)
{
    delete static_cast<AcceptThreadArgs*>(args);
    return 0;
}

#pragma once
#include <winsock2.h>
#include <openssl/ssl.h>

// Handed to the accept thread, which owns and frees the record. The listener
// and the context stay the starter's.
struct AcceptThreadArgs {
    SOCKET listener = INVALID_SOCKET;  // invalid in relay mode
    SSL_CTX* tls = nullptr;
};

DWORD WINAPI accept_thread(void* args);

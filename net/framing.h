#pragma once
// Framed messages between agent and viewer: a 4-byte big-endian length
// (payload + 1), a type byte, then the payload. Byte-level work only; the TLS
// session is reached through read/write callbacks so this builds anywhere.
#include <cstddef>
#include <cstdint>

enum : std::uint8_t {
    MSG_FRAME = 1,
    MSG_MOUSE = 2,
    MSG_KEY = 3,
    MSG_AUTH = 4,
    MSG_AUTH_OK = 5,
    MSG_CTRL_ALT_DEL = 6,
    MSG_CLIPBOARD = 7,
    MSG_PING = 8,
    MSG_PONG = 9,
    MSG_SELECT_MONITOR = 10,
    MSG_MONITOR_INFO = 11,
};

inline constexpr std::uint32_t MAX_MSG_LEN = 0x0DC00000;  // 220 MiB, type byte included
inline constexpr std::uint32_t MAX_PAYLOAD = MAX_MSG_LEN - 1;
inline constexpr std::size_t FRAME_HEADER_SIZE = 5;
inline constexpr std::size_t STACK_MESSAGE_SIZE = 256;  // header included

// Transport callbacks with SSL_read/SSL_write semantics: the number of bytes
// moved, or 0 or less when the connection failed.
using ReadSome = int (*)(void* ctx, std::uint8_t* buffer, int size);
using WriteSome = int (*)(void* ctx, const std::uint8_t* buffer, int size);

void encode_frame_header(std::uint8_t (&header)[FRAME_HEADER_SIZE], std::uint8_t type,
                         std::uint32_t payload_size);
std::uint32_t decode_frame_length(const std::uint8_t* bytes);
bool frame_length_valid(std::uint32_t length, std::uint32_t max_length = MAX_MSG_LEN);

// A received message; the payload is malloc'ed (null when empty) and the
// caller frees it with free_message.
struct Message {
    std::uint8_t type = 0;
    std::uint8_t* payload = nullptr;
    std::uint32_t size = 0;
};
void free_message(Message& message);

bool read_exact(ReadSome read, void* ctx, std::uint8_t* buffer, std::size_t size);
bool write_all(WriteSome write, void* ctx, const std::uint8_t* buffer, std::size_t size);

// The payload buffer a reader allocates before any payload byte has arrived.
// It then at most doubles as the bytes arrive, so a peer that announces 220 MiB
// and sends nothing costs 64 KiB, not 220 MiB.
inline constexpr std::uint32_t FIRST_PAYLOAD_BLOCK = 65536;

// Reads one whole message. A length field of 0 or above max_length fails the
// connection before anything is allocated.
bool read_message(ReadSome read, void* ctx, Message& out, std::uint32_t max_length = MAX_MSG_LEN);

// Writes header and payload with one buffer: on the stack up to 256 bytes,
// else one heap buffer (no throw; false when it cannot be had).
bool write_message(WriteSome write, void* ctx, std::uint8_t type, const void* payload,
                   std::size_t size);

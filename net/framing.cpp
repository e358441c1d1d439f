#include "net/framing.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

void encode_frame_header(std::uint8_t (&header)[FRAME_HEADER_SIZE], std::uint8_t type,
                         std::uint32_t payload_size)
{
    const std::uint32_t length = payload_size + 1;
    header[0] = std::uint8_t(length >> 24);
    header[1] = std::uint8_t(length >> 16);
    header[2] = std::uint8_t(length >> 8);
    header[3] = std::uint8_t(length);
    header[4] = type;
}

std::uint32_t decode_frame_length(const std::uint8_t* bytes)
{
    return std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 |
           std::uint32_t(bytes[2]) << 8 | std::uint32_t(bytes[3]);
}

bool frame_length_valid(std::uint32_t length, std::uint32_t max_length)
{
    return length != 0 && length <= max_length;
}

void free_message(Message& message)
{
    std::free(message.payload);
    message.payload = nullptr;
    message.size = 0;
}

bool read_exact(ReadSome read, void* ctx, std::uint8_t* buffer, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const std::size_t left = size - done;
        const int n = read(ctx, buffer + done, left > INT_MAX ? INT_MAX : int(left));
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

bool write_all(WriteSome write, void* ctx, const std::uint8_t* buffer, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const std::size_t left = size - done;
        const int n = write(ctx, buffer + done, left > INT_MAX ? INT_MAX : int(left));
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

// Reads `size` bytes into a buffer that grows with what has arrived; null when
// the connection fails first or memory runs out.
static std::uint8_t* read_payload(ReadSome read, void* ctx, std::uint32_t size)
{
    std::uint32_t room = std::min(size, FIRST_PAYLOAD_BLOCK);
    std::uint32_t done = 0;
    auto* payload = static_cast<std::uint8_t*>(std::malloc(room));
    while (payload && read_exact(read, ctx, payload + done, room - done)) {
        if (room == size)
            return payload;
        done = room;
        room = room > size / 2 ? size : room * 2;
        auto* grown = static_cast<std::uint8_t*>(std::realloc(payload, room));
        if (!grown)
            break;
        payload = grown;
    }
    std::free(payload);
    return nullptr;
}

bool read_message(ReadSome read, void* ctx, Message& out, std::uint32_t max_length)
{
    out = Message{};
    std::uint8_t length_bytes[4];
    if (!read_exact(read, ctx, length_bytes, sizeof length_bytes))
        return false;
    const std::uint32_t length = decode_frame_length(length_bytes);
    if (!frame_length_valid(length, max_length))
        return false;
    if (!read_exact(read, ctx, &out.type, 1))
        return false;
    if (length == 1)
        return true;
    out.payload = read_payload(read, ctx, length - 1);
    if (!out.payload)
        return false;
    out.size = length - 1;
    return true;
}

bool write_message(WriteSome write, void* ctx, std::uint8_t type, const void* payload,
                   std::size_t size)
{
    if (size > MAX_PAYLOAD)
        return false;
    std::uint8_t header[FRAME_HEADER_SIZE];
    encode_frame_header(header, type, std::uint32_t(size));
    const std::size_t total = FRAME_HEADER_SIZE + size;
    if (total <= STACK_MESSAGE_SIZE) {
        std::uint8_t buffer[STACK_MESSAGE_SIZE];
        std::memcpy(buffer, header, FRAME_HEADER_SIZE);
        if (size)
            std::memcpy(buffer + FRAME_HEADER_SIZE, payload, size);
        return write_all(write, ctx, buffer, total);
    }
    auto* buffer = new (std::nothrow) std::uint8_t[total];
    if (!buffer)
        return false;
    std::memcpy(buffer, header, FRAME_HEADER_SIZE);
    std::memcpy(buffer + FRAME_HEADER_SIZE, payload, size);
    const bool ok = write_all(write, ctx, buffer, total);
    delete[] buffer;
    return ok;
}

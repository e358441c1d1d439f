#pragma once
// Little-endian fields of the payload formats (frames, copied files, mouse
// and keys, monitor information): written into buffers, and read from
// untrusted bytes with every field checked against what is left. Portable;
// no alignment or host byte order is assumed.
#include <cstddef>
#include <cstdint>
#include <vector>

template <typename T>
void put_le(std::uint8_t* at, T value)
{
    for (std::size_t i = 0; i < sizeof(T); ++i)
        at[i] = std::uint8_t(std::uint64_t(value) >> (8 * i));
}

inline void put_le16(std::uint8_t* at, std::uint16_t value) { put_le(at, value); }
inline void put_le32(std::uint8_t* at, std::uint32_t value) { put_le(at, value); }
inline void put_le64(std::uint8_t* at, std::uint64_t value) { put_le(at, value); }

template <typename T>
void append_le(std::vector<std::uint8_t>& out, T value)
{
    const std::size_t at = out.size();
    out.resize(at + sizeof(T));
    put_le(out.data() + at, value);
}

inline void append_le16(std::vector<std::uint8_t>& out, std::uint16_t value)
{
    append_le(out, value);
}
inline void append_le32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    append_le(out, value);
}
inline void append_le64(std::vector<std::uint8_t>& out, std::uint64_t value)
{
    append_le(out, value);
}

// Reads fields in order from `size` bytes at `data`. A read that would run
// past the end returns false and leaves the position where it was.
struct LeReader {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;

    LeReader() = default;
    LeReader(const std::uint8_t* bytes, std::size_t count) : data(bytes), size(bytes ? count : 0) {}

    std::size_t left() const { return position < size ? size - position : 0; }

    bool read_u8(std::uint8_t& value) { return read_le(value); }
    bool read_u16(std::uint16_t& value) { return read_le(value); }
    bool read_u32(std::uint32_t& value) { return read_le(value); }
    bool read_u64(std::uint64_t& value) { return read_le(value); }

    // A view of the next `count` bytes, not copied.
    bool read_bytes(std::uint64_t count, const std::uint8_t*& at)
    {
        if (count > left())
            return false;
        at = data + position;
        position += std::size_t(count);
        return true;
    }

    bool skip(std::uint64_t count)
    {
        const std::uint8_t* ignored = nullptr;
        return read_bytes(count, ignored);
    }

private:
    template <typename T>
    bool read_le(T& value)
    {
        if (left() < sizeof(T))
            return false;
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            v |= std::uint64_t(data[position + i]) << (8 * i);
        value = T(v);
        position += sizeof(T);
        return true;
    }
};

#pragma once
// The MSG_CLIPBOARD payload: a little-endian file count, then per file a
// 32-bit name length, the UTF-8 name, a 64-bit data length and the data.
// No tag, version or checksum: a payload always describes files.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/little_endian.h"

// Sum of the file sizes one capture will read and send.
inline constexpr std::uint64_t MAX_CLIP_BYTES = 209'715'200;  // 200 MiB
// Largest file count a received payload may announce.
inline constexpr std::uint32_t MAX_CLIP_FILES = 10'000;
// Files are read and written in blocks of at most this size.
inline constexpr std::uint32_t CLIP_IO_BLOCK = 16'777'216;  // 16 MiB
// Most bytes of a received name's last part that are converted. A Windows
// file name holds at most 255 UTF-16 units (765 bytes of UTF-8), so a longer
// one is shortened anyway, and shortening keeps only its start and its
// extension: of such a name only the start and the last CLIP_NAME_TAIL_BYTES
// bytes are converted.
inline constexpr std::uint32_t MAX_CLIP_NAME_BYTES = 1024;
inline constexpr std::uint32_t CLIP_NAME_TAIL_BYTES = 64;

inline constexpr std::size_t CLIP_COUNT_SIZE = 4;
inline constexpr std::size_t CLIP_NAME_LEN_SIZE = 4;
inline constexpr std::size_t CLIP_DATA_LEN_SIZE = 8;

// One copied file held in memory during a capture.
struct ClipFile {
    std::string name;  // bare file name, UTF-8
    std::vector<std::uint8_t> data;
};

// Replaces `out` with the payload of `files`, in their order.
void write_clip_payload(const std::vector<ClipFile>& files, std::vector<std::uint8_t>& out);

// One record of a received payload; both fields point into the payload.
struct ClipRecord {
    const std::uint8_t* name = nullptr;
    std::uint32_t name_len = 0;
    const std::uint8_t* data = nullptr;
    std::uint64_t data_len = 0;
};

// Walks a received payload without copying it.
struct ClipPayloadReader : LeReader {
    std::uint32_t count = 0;  // records announced
};

// False when the payload is under 4 bytes or its count is not 1..MAX_CLIP_FILES:
// such a payload is ignored as a whole.
bool start_clip_payload(ClipPayloadReader& reader, const std::uint8_t* payload, std::size_t size);

// The next record; false when its header, name or data would run past the end
// of the payload (the reader then stays where it was).
bool next_clip_record(ClipPayloadReader& reader, ClipRecord& record);

// The UTF-8 bytes of a received name that are worth converting: only what
// follows its last backslash or slash, without the trailing dots, spaces and
// colons the cleaning would drop anyway, and at most MAX_CLIP_NAME_BYTES of it
// (the start and the end of a longer one, cut between characters).
std::string clip_record_name(const ClipRecord& record);

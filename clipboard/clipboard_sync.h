#pragma once
// Copied files between the two clipboards of a connection. The agent's
// session loop and the viewer's network thread each own one
// ClipboardSyncState per connection and pass it to every call below, so
// that files just received are not captured and sent straight back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ClipboardSyncState {
    std::uint32_t last_sequence = 0;  // clipboard sequence number last seen or produced
    bool primed = false;              // last_sequence holds a real value
};

// True when the clipboard changed since the last call to a file list that
// could be read: `payload` then holds the MSG_CLIPBOARD payload to send.
// False when there is nothing to send; `error` (passed empty) may then hold a
// message for the user. The file list present at the first call is never sent.
bool capture_clipboard_files(ClipboardSyncState& state, std::vector<std::uint8_t>& payload,
                             std::wstring& error);

// Writes the files of one received MSG_CLIPBOARD payload into a fresh folder
// under "%TEMP%\Orvane_clip" and puts them on the clipboard as a drop list to
// be pasted as a copy. False when nothing was placed; `error` (passed empty)
// then holds a message for the user when there is one to give. Only files
// written whole are placed; when some were left out, the result is true and
// `error` says so.
bool apply_clipboard_files(ClipboardSyncState& state, const std::uint8_t* payload,
                           std::size_t size, std::wstring& error);

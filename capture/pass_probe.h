#pragma once
// Where a streaming pass spends its time. The agent sets no sink and pays one
// null check per stage; the agent benchmark sets one to time the real loop.

enum class PassStage {
    clipboard,  // checking the local clipboard, sending new files
    desktop,    // following the input desktop, refreshing the capture area
    grab,       // copying the screen into the DIB section
    announce,   // monitor information when it changed
    diff,       // change detection, run merging, payload assembly
    jpeg,       // JPEG encoding of the changed rectangles
    send,       // handing the frame to TLS
    pace,       // the sleep up to the frame period
    pump,       // reading and acting on the viewer's messages
    count
};

// Called as each stage ends; the sink measures from the previous call.
using PassStageSink = void (*)(PassStage finished);
inline PassStageSink pass_stage_sink = nullptr;

inline void pass_stage_done(PassStage finished)
{
    if (pass_stage_sink)
        pass_stage_sink(finished);
}

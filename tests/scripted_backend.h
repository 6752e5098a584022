// A backend for the tests of the platform core: the events of each read, when they come, the
// window's size, and where in the output each read and the close fell, scripted and recorded,
// with no terminal.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/backend.h"

// One read of the backend: what it returns, when (on the scripted clock; absent: at once), and
// the window's size from then on. A read that does not wait (timeout 0) finds only a read marked
// `waiting`: input already there, unread. A read whose timeout ends before `atMs` returns
// nothing, with the clock at the timeout, and the scripted read stays for the next one.
struct ScriptedRead {
    std::vector<BackendEvent> events;
    std::optional<ScreenSize> sizeAfter;
    bool waiting = false;
    std::optional<std::int64_t> atMs = std::nullopt;
};

struct ScriptedBackend {
    BackendOpening opening{"", true, true};
    std::optional<ScreenSize> size = ScreenSize{140, 40};
    std::deque<ScriptedRead> reads;  // a read past the last throws ScriptEnded
    std::int64_t nowMs = 0;          // the scripted clock
    int readsMade = 0;
    std::vector<std::optional<int>> timeouts;  // of each read
    // How much the game had written to standard output at each read, and at the close (-1: not
    // closed); the tests capture standard output and cut it at these points.
    std::vector<long> outputAtRead;
    long outputAtClose = -1;
    std::string cutShort;  // what the backend would write first, were the game cut short now

    void reset();  // back to the state above: nothing scripted, nothing recorded
};
extern ScriptedBackend scripted;

// Thrown when the core reads beyond the end of the script.
struct ScriptEnded {};

// Builders for the events.
BackendEvent down(int vk);
BackendEvent up(int vk);
BackendEvent repeat(int vk);
BackendEvent tap(int vk);
BackendEvent releases(bool reported);
BackendEvent focusLost();

// A backend for the tests of the platform core: the events of each read, the window's size and
// everything written, scripted and recorded, with no terminal.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/backend.h"

// One read of the backend: what it returns, and the window's size from then on. A read that does
// not wait (timeout 0) finds only a read marked `waiting`: input already there, unread.
struct ScriptedRead {
    std::vector<BackendEvent> events;
    std::optional<ScreenSize> sizeAfter;
    bool waiting = false;
};

struct ScriptedBackend {
    BackendOpening opening{"", true, true};
    std::optional<ScreenSize> size = ScreenSize{140, 40};
    std::deque<ScriptedRead> reads;  // a read past the last throws ScriptEnded
    std::string written;             // what backend::write was given, in order
    std::string closedWith;          // the last bytes of backend::close
    int readsMade = 0;
    std::vector<std::optional<int>> timeouts;  // of each read

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

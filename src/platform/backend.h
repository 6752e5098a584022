// The one small interface every platform backend implements: POSIX terminals, the Windows
// console, the browser page. Start reading the platform layer here.
//
// A backend only takes and gives back its modes, reads input, writes bytes and tells the
// window's size. Everything that every platform needs (the key timeline behind the polls, the
// waits, the size check and its notice, the screen kept as cells and redrawn from them, the
// order of the hand-back) is written once, in the core (platform_core.cpp), on top of this.
// Exactly one backend file is built into the game, chosen by CMake.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

// What happened at the keyboard or to the window, in the order it happened.
enum class BackendEventKind {
    keyDown,           // the key went down (value = vk)
    keyRepeat,         // autorepeat of a key that is down (value = vk)
    keyUp,             // the key came up (value = vk)
    keyTap,            // a key that went down and up with nothing to tell how long (a typed character)
    releasesReported,  // from now on key releases are reported: value 1 yes, 0 no
    focusLost,         // the window lost the keyboard focus: no release will come for keys held now
    interrupt,         // Ctrl+C that reached the game as a key
    resumed,           // back from a suspend: the modes were given back, the keyboard state is unknown
    resized,           // the window may have changed size
};

struct BackendEvent {
    BackendEventKind kind;
    std::int32_t value = 0;
    bool operator==(const BackendEvent&) const = default;
};

// What the backend starts with.
struct BackendOpening {
    std::string firstBytes;  // sent with the game's first screen, in the same write
    bool releasesReported;   // whether key releases are reported from the start
    bool resizeReported;     // whether every change of the window's size comes as an event
};

namespace backend {

// Takes the terminal's modes for a game whose layout needs `layout`. `cutShort` is what to
// write, before the modes are given back, when the game is ended by a signal or an error (the
// cursor under the layout); the backend keeps it for handlers that cannot format. Throws
// std::runtime_error with a one-line reason when the game cannot run here.
BackendOpening open(ScreenSize layout, std::string_view cutShort);

// Gives the terminal back as it was, after writing `lastBytes`; both go out with whatever the
// game has written and not yet flushed, in one write. Safe to call more than once.
void close(std::string_view lastBytes);

// Writes bytes to the terminal now, after everything the game has written.
void write(std::string_view bytes);

// The window's size in character cells, if known.
std::optional<ScreenSize> windowSize();

// Blocks until input or a window event is there, or `timeoutMs` has passed (no timeout when
// absent); then appends what happened to `events`. May return with nothing appended.
void read(std::vector<BackendEvent>& events, std::optional<int> timeoutMs);

// Ends the process the way an interrupt (Ctrl+C) ends a program on this platform, once the
// terminal has been given back.
[[noreturn]] void endByInterrupt();

}  // namespace backend

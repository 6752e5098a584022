// The one small interface every platform backend implements: POSIX terminals, the Windows
// console, the browser page. Start reading the platform layer here.
//
// A backend only takes and gives back its modes, reads input, tells the window's size and the
// time. Everything that every platform needs (the key timeline behind the polls, the waits, the
// size check and its notice, the screen kept as cells and redrawn from them, every byte the game
// writes, the cursor left under the layout when the game is cut short) is written once, in the
// core (platform_core.cpp), on top of this. The hand-back goes: the game's last bytes, then the
// backend's own bytes that give its keyboard and reports back, in the same write, then its modes.
// The core puts the last bytes out and calls close; a backend's signal handlers, which cannot wait
// for the core, do the same with the cut-short bytes. Exactly one backend file is built into the
// game, chosen by CMake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
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
    keyTap,            // a typed character, with nothing to tell how long its key was down (value = vk)
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

// The longest the cut-short bytes can be: the cursor to column 1 of a row, "\x1b[<row>;1H\r\n",
// with any row an int can number. A backend keeps them in FixedBytes.
constexpr std::size_t longestCutShort = sizeof "\x1b[;1H\r\n" - 1 + std::numeric_limits<int>::digits10 + 1;

namespace backend {

// Takes the terminal's modes for a game with this layout. `cutShort` is what goes out
// first when a signal or an error ends the game (the cursor under the layout), at most
// longestCutShort bytes; the backend keeps it for handlers that cannot format. Throws std::runtime_error with a
// one-line reason when the game cannot run here.
BackendOpening open(const ScreenLayout& layout, std::string_view cutShort);

// What goes out first when the game is cut short, from now on: the layout placed in the window
// anew takes other rows.
void setCutShort(std::string_view bytes);

// Gives the terminal back as it was: its own bytes after what the game has written to stdout
// and not yet flushed, in one write, then its modes. Safe to call more than once.
void close();

// Gives the terminal back at once, cut short, from anywhere (a failure that ends the process).
void closeCutShort();

// The window's size in character cells, if known.
std::optional<ScreenSize> windowSize();

// Blocks until input or a window event is there, or `timeoutMs` has passed (no timeout when
// absent); then appends what happened to `events`. May return with nothing appended.
void read(std::vector<BackendEvent>& events, std::optional<int> timeoutMs);

// A steady clock in milliseconds: when the events of the last read came.
std::int64_t clockMs();

// Ends the process the way an interrupt (Ctrl+C) ends a program on this platform, once the
// terminal has been given back.
[[noreturn]] void endByInterrupt();

}  // namespace backend

// What the game asks of the platform layer: the terminal taken and given back, key state for the
// polls, the wait between poll cycles, the game's output seen as it goes. The platform core
// implements it for every platform (over backend.h); the tests link a scripted keyboard instead.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A size in character cells.
struct ScreenSize {
    int columns;
    int rows;
    bool operator==(const ScreenSize&) const = default;
};

// The game's fixed layout as the platform needs it: the size it draws in, and where its parts
// lie, for a platform that shows the screen otherwise too (the page's text view splits it there).
struct ScreenLayout {
    ScreenSize size;
    int panelColumn;  // zero-based: the Event's side lies left of it, the conditions panel from it
    int effectsRow;   // zero-based: the row of the effects line, under the panel
    int gaugeMax;     // the largest value a gauge shows
    // Bit i set: the run ends when gauge i reaches gaugeMax (else when it reaches 0).
    int gaugesEndingHigh = 0;
};

// How the terminal is left when it is given back.
enum class HandBack {
    asDrawn,      // the player quit: the cursor stays where the last screen left it
    belowLayout,  // cut short: the cursor goes to column 1 under the layout, so the shell's
                  // prompt continues below the last screen instead of inside its text
};

// Thrown out of the platform layer when the game ends other than by Q on the end screen:
// Ctrl+C reported as a key (`interrupted`), Q while the terminal is too small (status 0), the
// terminal gone (status 1). main gives the terminal back as `handBack` says, says the reason if
// there is one, and ends: by the platform's interrupt when `interrupted`, else with the status.
struct EarlyEnd {
    int status;
    std::string reason;
    HandBack handBack;
    bool interrupted = false;
};

// Makes the terminal ready for the layout. Throws std::runtime_error with a
// one-line reason when the game cannot run here (for example when standard input or output is
// not a terminal).
void openTerminal(const ScreenLayout& wanted);

// Gives the terminal back as it was. Safe to call more than once.
void closeTerminal(HandBack how);

// Ends the process as an interrupt does on this platform (on POSIX by SIGINT, so a shell or
// script around the game sees one). Called once the terminal has been given back.
[[noreturn]] void endByInterrupt();

// Is the key with this virtual-key code (13 ENTER, 81 Q, 48 to 57 the main-row digits) down at
// the point of the key timeline that this poll cycle reads?
bool isKeyDown(std::int32_t vk);

// Called between poll cycles that took no key: moves the polls on to the next change of the key
// timeline, blocking (with no processor time used) until there is one.
void waitForKeyboard();

// The game's output path hands over every byte it writes, in order, so that the platform knows
// what is on the screen and can draw it again after a suspend or a resize.
void screenWritten(std::string_view bytes);

// What the game asks of the platform layer: the terminal taken and given back, key state for the
// polls, the wait between poll cycles, the game's output seen as it goes. The platform core
// implements it for every platform (over backend.h); the tests link a scripted keyboard instead.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A size in character cells.
struct ScreenSize {
    int columns;
    int rows;
    bool operator==(const ScreenSize&) const = default;
};

// The game's fixed layout as the platform needs it: the size it draws in, and where its parts
// lie, for a platform that shows the screen otherwise: laid out to fit a smaller window, or split
// into the page's text view.
struct ScreenLayout {
    ScreenSize size;
    int panelColumn;        // zero-based: the Event's side lies left of it, the conditions panel from it
    int effectsRow;         // zero-based: the row of the effects line, under the panel
    int gaugeMax;           // the largest value a gauge shows
    int gaugesEndingHigh;   // bit i set: the run ends when gauge i reaches gaugeMax (else at 0)
    int panelColumns = 22;  // the panel's width; it takes the rows above the effects line
    // Every text the game may write in a turn, by where it stands: on each row of the Event's
    // side, and on the effects line. They tell how many rows the screen needs in a window too
    // narrow for its lines, once they are wrapped.
    std::vector<std::vector<std::string>> sideRows;
    std::vector<std::string> effectsLines;
};

// How the player wants the screen laid out.
enum class LayoutChoice {
    fitted,   // the game's own layout where the window holds it; else the same screen laid out to fit
    stacked,  // one column at any size: the Event's texts, then the effects line, then the gauges,
              // each on rows of its own (what a screen reader reading changed rows wants)
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

// Makes the terminal ready for the layout, laid out as the player chose. Throws
// std::runtime_error with a one-line reason when the game cannot run here (for example when
// standard input or output is not a terminal).
void openTerminal(const ScreenLayout& wanted, LayoutChoice choice = LayoutChoice::fitted);

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

// The game's output: every byte it writes, in order. The platform keeps the screen they draw, to
// draw it again after a suspend or a resize, and puts them on the terminal: as they are where the
// game's layout fits the window, laid out anew elsewhere.
void writeScreen(std::string_view bytes);

// Everything written so far is on the terminal: called as each wait for a key begins.
void showScreen();

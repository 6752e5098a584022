// The terminal platform layer: key state, terminal set-up and give-back, the screen record. One
// implementation per platform; the tests link a scripted keyboard instead.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The smallest terminal the game's layout fits in.
struct ScreenSize {
    int columns;
    int rows;
};

// How the terminal is left when it is given back.
enum class HandBack {
    asDrawn,      // the player quit: the cursor stays where the last screen left it
    belowLayout,  // cut short: the cursor goes to column 1 under the layout, so the shell's
                  // prompt continues below the last screen instead of inside its text
};

// Thrown out of the platform layer when the game ends other than by Q on the end screen:
// Ctrl+C reported as a key (status 130), Q while the terminal is too small (0), the terminal
// gone (1). main gives the terminal back as `handBack` says, says the reason if there is one,
// and exits with the status.
struct EarlyEnd {
    int status;
    std::string reason;
    HandBack handBack;
};

// Makes the terminal ready for a layout of the given size. Throws std::runtime_error with a
// one-line reason when the game cannot run here (for example when standard input or output is
// not a terminal).
void openTerminal(ScreenSize needed);

// Gives the terminal back as it was. Safe to call more than once.
void closeTerminal(HandBack how);

// Is the key with this virtual-key code (13 ENTER, 81 Q, 48 to 57 the main-row digits) down now?
bool isKeyDown(std::int32_t vk);

// Blocks until keyboard input may have changed the state of a key. Called between poll cycles
// that took no key, so a waiting game uses no processor time.
void waitForKeyboard();

// The output path hands over every byte it writes, in order, and says when it erases the
// screen: what was written since the last erase is what the platform writes again to restore
// the screen after a suspend or a resize.
void screenWritten(std::string_view bytes);
void screenErased();

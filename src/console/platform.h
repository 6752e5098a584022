// The terminal platform layer: key state and terminal set-up. One implementation per platform;
// the tests link a scripted keyboard instead.
#pragma once

#include <cstdint>
#include <string>

// Thrown out of the platform layer when the game ends other than by Q on the end screen:
// Ctrl+C reported as a key (status 130), Q while the terminal is too small (0), the terminal
// gone (1). main gives the terminal back, says the reason if there is one, and exits with status.
struct EarlyEnd {
    int status;
    std::string reason;
};

// Makes the terminal ready for the game. Throws std::runtime_error with a one-line reason when
// the game cannot run here (for example when standard input or output is not a terminal).
void openTerminal();

// Gives the terminal back as it was. Safe to call more than once.
void closeTerminal();

// Is the key with this virtual-key code (13 ENTER, 81 Q, 48 to 57 the main-row digits) down now?
bool isKeyDown(std::int32_t vk);

// Blocks until keyboard input may have changed the state of a key. Called between poll cycles
// that took no key, so a waiting game uses no processor time.
void waitForKeyboard();

// Screen output: the two escape sequences, positioned and centred text, gauge bars, and the
// record of what has been drawn since the screen was last cleared.
#pragma once

#include <cstdint>
#include <string>

struct ScreenPos {
    std::int32_t x;  // column, zero-based
    std::int32_t y;  // row, zero-based
};

void clearScreen();                                      // "\e[2J", the cursor stays
void moveCursor(std::int32_t row, std::int32_t column);  // 1-based, row first
void printAt(std::string text, ScreenPos pos);
void printCentered(std::string text, ScreenPos pos);  // each line centred over 22 columns
std::string makeBar(std::int32_t value);

// The two output paths to standard output. Both go through the same stdio buffer, so the
// bytes reach the terminal in the order of the calls.
void printFormatted(const char* format, ...);  // formatted printing
void insertText(const std::string& text);      // stream insertion into std::cout

// Sends everything drawn so far to the terminal; called as each key wait begins.
void flushScreen();

// Everything written since the last clearScreen, starting with that clear: written again, it
// restores the screen after a suspend or a resize.
const std::string& drawnSinceClear();

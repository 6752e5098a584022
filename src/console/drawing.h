// Screen output: the two escape sequences, positioned and centred text, gauge bars.
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
// bytes reach the terminal in the order of the calls; both hand their bytes to the platform's
// screen record too.
void printFormatted(const char* format, ...);  // formatted printing
void insertText(const std::string& text);      // stream insertion into std::cout

// Sends everything drawn so far to the terminal; called as each key wait begins.
void flushScreen();

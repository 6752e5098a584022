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

// The output paths. Every one hands its bytes to the platform layer, in the order of the calls;
// the platform puts them on the terminal.
void printFormatted(const char* format, ...);  // formatted printing
void printCharacter(char ch);                  // one character, as "%c" formats it
void printBlanks(std::int32_t count);          // a run of blanks, one "%c" of a blank each, in one call
void insertText(const std::string& text);      // stream insertion of a whole text

// Sends everything drawn so far to the terminal; called as each key wait begins.
void flushScreen();

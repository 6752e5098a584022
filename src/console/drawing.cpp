// Screen output: escape sequences, positioned and centred text, gauge bars.
#include "console/drawing.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace {
// The column at which a centred line of n characters starts, for a field of 22 columns.
std::int32_t centredColumn(ScreenPos pos, std::size_t n) {
    const std::int32_t leftover = 22 - static_cast<std::int32_t>(n);
    // floor division: a line longer than the field starts left of it
    const std::int32_t half = leftover >= 0 ? leftover / 2 : -((-leftover + 1) / 2);
    return pos.x + 1 + half;
}
}  // namespace

// Formatted once; the bytes go to the platform, which puts them on the terminal.
void printFormatted(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    char small[64];
    const int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length >= 0) {
        const auto size = static_cast<std::size_t>(length);
        std::string large;
        const char* bytes = small;
        if (size >= sizeof small) {
            large.assign(size + 1, '\0');
            std::vsnprintf(large.data(), large.size(), format, again);
            bytes = large.data();
        }
        writeScreen({bytes, size});
    }
    va_end(again);
}

// What "%c" formats, without the formatting.
void printCharacter(char ch) { writeScreen({&ch, 1}); }

void printBlanks(std::int32_t count) {
    if (count > 0) writeScreen(std::string(static_cast<std::size_t>(count), ' '));
}

void insertText(const std::string& text) { writeScreen(text); }

void flushScreen() { showScreen(); }

void clearScreen() { printFormatted("\x1b[2J"); }

void moveCursor(std::int32_t row, std::int32_t column) { printFormatted("\x1b[%d;%dH", row, column); }

void printAt(std::string text, ScreenPos pos) {
    moveCursor(pos.y + 1, pos.x + 1);
    std::int32_t row = pos.y;
    for (const char ch : text) {
        if (ch == '\n') {
            ++row;
            moveCursor(row + 1, pos.x + 1);
        } else {
            printCharacter(ch);
        }
    }
}

void printCentered(std::string text, ScreenPos pos) {
    std::string line;
    std::int32_t written = 0;
    for (const char ch : text) {
        if (ch == '\n') {
            moveCursor(pos.y + 1 + written, centredColumn(pos, line.size()));
            insertText(line);
            ++written;
            line.clear();
        } else {
            line += ch;
        }
    }
    moveCursor(pos.y + 1 + written, centredColumn(pos, line.size()));
    insertText(line);
}

std::string makeBar(std::int32_t value) {
    const std::int32_t filled = value / 5;
    std::string bar = "[";
    if (filled > 0) bar.append(static_cast<std::size_t>(filled), '=');
    if (20 - filled > 0) bar.append(static_cast<std::size_t>(20 - filled), ' ');
    bar += ']';
    return bar;
}

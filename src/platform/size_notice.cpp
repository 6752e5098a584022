// The words of the terminal size notice.
#include "platform/size_notice.h"

std::string sizeNotice(ScreenSize needed, ScreenSize actual) {
    return "\x1b[2J\x1b[1;1HThis game needs a terminal of at least " + std::to_string(needed.columns) +
           " columns and " + std::to_string(needed.rows) + " rows; this one has " + std::to_string(actual.columns) +
           " columns and " + std::to_string(actual.rows) + " rows.\nMake the window larger, or press Q to quit.";
}

// Standard output captured byte for byte, and the cursor move the game writes, for the tests.
#pragma once

#include <functional>
#include <string>

// Everything the body writes to standard output, byte for byte.
std::string captureOutput(const std::function<void()>& body);

// The cursor move "\e[row;columnH".
std::string at(int row, int column);

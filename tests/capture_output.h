// Standard output captured byte for byte, and the cursor move the game writes, for the tests.
#pragma once

#include <functional>
#include <string>

// Everything the body writes to standard output, byte for byte.
std::string captureOutput(const std::function<void()>& body);

// How many bytes standard output has taken so far, inside captureOutput: where in the captured
// output things happened.
long outputSoFar();

// The cursor move "\e[row;columnH".
std::string at(int row, int column);

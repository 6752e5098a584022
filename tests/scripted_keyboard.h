// A keyboard for the tests in place of the terminal: a script of which keys are down, advanced
// one step each time the game waits for keyboard input.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

using KeysDown = std::set<std::int32_t>;

// Thrown when the game waits for input beyond the end of the script.
struct ScriptEnded {};

// Replaces the script. Step 0 is in force at once; each wait moves to the next step.
void scriptKeys(std::vector<KeysDown> steps);

// Every key polled since the script was set, in order.
const std::vector<std::int32_t>& keysPolled();

// How many waits the game made since the script was set.
int waitsMade();

// Everything the body writes to standard output, byte for byte.
std::string captureOutput(const std::function<void()>& body);

// The cursor move "\e[row;columnH".
std::string at(int row, int column);

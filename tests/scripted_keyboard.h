// A keyboard for the tests in place of the terminal: a script of which keys are down, advanced
// one step each time the game waits for keyboard input.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "capture_output.h"

using KeysDown = std::set<std::int32_t>;

// Thrown when the game waits for input beyond the end of the script.
struct ScriptEnded {};

// Replaces the script. Step 0 is in force at once; each wait moves to the next step.
void scriptKeys(std::vector<KeysDown> steps);

// Every key polled since the script was set, in order.
const std::vector<std::int32_t>& keysPolled();

// How many waits the game made since the script was set.
int waitsMade();

// Every byte the output path handed to the platform layer, in order.
std::string& platformSaw();

// The records of the game's content: an Event and the Options it offers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Option {
    std::string label;                  // written after "i)"; authored labels begin with a blank
    std::vector<std::int32_t> effects;  // pairs: a ConditionIndex, then a signed delta
    std::string outcome;                // may hold "\n" line breaks
};

struct Event {
    std::string prompt;
    std::vector<Option> options;
};

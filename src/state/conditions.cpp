// The recruit's conditions: names, starting values, clamped update and reset.
#include "state/conditions.h"

namespace {
constexpr std::array<std::int32_t, 4> startingValues{100, 50, 50, 30};
}

const std::array<std::string, 4> conditionNames{"Health", "Sanity", "Reputation", "Punchability"};
std::array<std::int32_t, 4> conditions = startingValues;
std::int32_t daysSurvived = 0;

void applyEffect(std::int32_t index, std::int32_t delta) {
    // at() rather than []: an index outside 0..3 raises out_of_range instead of writing past the array.
    std::int32_t& value = conditions.at(static_cast<std::size_t>(index));
    const std::int32_t sum = value + delta;
    if (delta < 0) {
        value = sum > 0 ? sum : 0;
    } else {
        value = sum < conditionMax ? sum : conditionMax;
    }
}

void resetRecruit() {
    conditions = startingValues;
    daysSurvived = 0;
}

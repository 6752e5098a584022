// The recruit's four conditions, their names, the day count, the clamped update and the reset.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// ConditionIndex values: positions in conditions and conditionNames.
enum ConditionIndex : std::int32_t { health = 0, sanity = 1, reputation = 2, punchability = 3 };

// The highest value of a condition; the lowest is 0.
constexpr std::int32_t conditionMax = 100;

// The value at which each condition ends the run.
constexpr std::array<std::int32_t, 4> conditionEnds{0, 0, 0, conditionMax};

extern const std::array<std::string, 4> conditionNames;
extern std::array<std::int32_t, 4> conditions;  // every value stays within 0..conditionMax
extern std::int32_t daysSurvived;               // Events survived in the current run

// Moves one condition by delta: a negative delta floors the result at 0, any other caps it at
// conditionMax.
void applyEffect(std::int32_t index, std::int32_t delta);

// Puts the conditions back to their starting values and the day count to 0.
void resetRecruit();

// One Event turn: prompt and Options, the choice, outcome and effects, the ENTER wait, the wipe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "state/event.h"

// The row of an answer's effects line, zero-based: under the panel, from the panel's column.
constexpr std::int32_t effectsRow = 9;

// Plays the Event from drawing to clean-up. Returns 0.
std::int32_t runEvent(const Event& event);

// The effects line of an Option: for each pair the condition's name, a blank, the authored delta
// (with "+" when positive) and a blank.
std::string effectsLine(const std::vector<std::int32_t>& effects);

// The smallest terminal in which turns of these Events fit, effects lines included.
ScreenSize layoutSize(const std::vector<Event>& events);

// The whole layout of a game of these Events, as the platform is told it.
ScreenLayout screenLayout(const std::vector<Event>& events);

// One Event turn: prompt and Options, the choice, outcome and effects, the ENTER wait, the wipe.
#pragma once

#include <cstdint>

#include "state/event.h"

// Plays the Event from drawing to clean-up. Returns 0.
std::int32_t runEvent(const Event& event);

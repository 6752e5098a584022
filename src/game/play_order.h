// The order in which the Events are played: every catalogue Event once, shuffled.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "state/event.h"

extern std::vector<Event> playOrder;

// Fills playOrder with copies of the catalogue's Events in the order their indices first come
// up in the draws of std::rand. Returns 0.
std::int32_t shuffleEvents();

// The same with another source of non-negative random values.
std::int32_t shuffleEvents(const std::function<int()>& draw);

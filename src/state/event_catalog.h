// The catalogue of the 21 authored Events, filled once at start-up.
#pragma once

#include <vector>

#include "state/event.h"

extern std::vector<Event> eventCatalog;

// Appends the authored Events to eventCatalog, in catalogue order.
void buildEventCatalog();

// The conditions panel at the right of the screen.
#pragma once

#include <cstdint>

// The panel's first column, zero-based: the Event's side is the columns left of it. The panel
// takes the rows above the effects line, which stands under it from the same column.
constexpr std::int32_t panelColumn = 80;
// The panel's width: the title is centred over it and every gauge bar fills it.
constexpr std::int32_t panelColumns = 22;

// Draws the title and, for each condition, its text line and gauge bar, from the panel's column.
void drawConditions();

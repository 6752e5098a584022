// The conditions panel at the right of the screen.
#pragma once

// Draws the title and, for each condition, its text line and gauge bar at columns 81 to 102.
void drawConditions();

// The game loop: intro, the Events of the play order, endings, restart or quit.
#pragma once

#include <cstdint>

// Plays runs until the player quits; then returns 0.
std::int32_t runGame();

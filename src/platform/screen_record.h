// What the game has written since it last erased the screen: the platform writes it again to
// restore the screen after a suspend or a resize.
#pragma once

#include <string>

// Everything written since the last erase, starting with the erase itself.
const std::string& screenSinceErase();

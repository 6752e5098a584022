// The notice shown instead of the game while the terminal is smaller than its layout: the same
// words on every platform.
#pragma once

#include <string>

#include "platform/platform.h"

// The whole screen's bytes: erase, home, what is needed and what there is, how to go on.
std::string sizeNotice(ScreenSize needed, ScreenSize actual);

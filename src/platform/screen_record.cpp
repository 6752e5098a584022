// The record of the screen since its last erase, fed by the game's output path.
#include "platform/screen_record.h"

#include "platform/platform.h"

namespace {
std::string record;
}

void screenWritten(std::string_view bytes) { record.append(bytes); }

void screenErased() { record.clear(); }

const std::string& screenSinceErase() { return record; }

// Prints the terminal size the game's layout needs ("133 15"), read from the catalogue: the manual
// page is made from it at build time, and a test holds the README to it.
#include <cstdio>

#include "game/event_turn.h"
#include "state/event_catalog.h"

int main() {
    buildEventCatalog();
    const ScreenSize size = layoutSize(eventCatalog);
    std::printf("%d %d\n", size.columns, size.rows);
    return 0;
}

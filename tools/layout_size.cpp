// Prints the windows the game plays in, read from the catalogue: its full layout, the smallest in
// which no line wraps, the narrowest ("133 15 80 22 40 29"). The manual page is made from them at
// build time, and a test holds the README, the Windows players' text and --help to them.
#include <cstdio>

#include "game/event_turn.h"
#include "platform/window_fit.h"
#include "state/event_catalog.h"

int main() {
    buildEventCatalog();
    const WindowsThatPlay windows = windowsThatPlay(screenLayout(eventCatalog));
    std::printf("%d %d %d %d %d %d\n", windows.asDrawn.columns, windows.asDrawn.rows, windows.unwrapped.columns,
                windows.unwrapped.rows, windows.narrowest.columns, windows.narrowest.rows);
    return 0;
}

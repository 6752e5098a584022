// Program entry: seed, catalogue, play order, the terminal, the game; the one place errors reach
// the player and the exit status is chosen.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <iostream>

#include "game/event_turn.h"
#include "game/game_loop.h"
#include "game/play_order.h"
#include "platform/platform.h"
#include "state/event_catalog.h"

int main() {
    // Fully buffered: each screen update reaches the terminal in one write when a key wait begins.
    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    try {
        std::srand(static_cast<std::uint32_t>(std::time(nullptr)));
        buildEventCatalog();
        shuffleEvents();
        openTerminal(screenLayout(playOrder));
        runGame();
        closeTerminal(HandBack::asDrawn);
        return 0;
    } catch (const EarlyEnd& end) {
        closeTerminal(end.handBack);
        if (!end.reason.empty()) std::cerr << "bootcamp: " << end.reason << '\n';
        if (end.interrupted) endByInterrupt();
        return end.status;
    } catch (const std::exception& error) {
        closeTerminal(HandBack::belowLayout);
        std::cerr << "bootcamp: " << error.what() << '\n';
        return 1;
    }
}

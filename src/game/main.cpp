// Program entry: the command line, seed, catalogue, play order, the terminal, the game; the one place
// errors reach the player and the exit status is chosen.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "game/command_line.h"
#include "game/event_turn.h"
#include "game/game_loop.h"
#include "game/play_order.h"
#include "platform/platform.h"
#include "platform/window_fit.h"
#include "state/event_catalog.h"

namespace {
// The answer to --help or --version, on standard output: 0, or 1 with the reason when it could not
// all be written there (a full disk, say).
int answer(const std::string& text) {
    if (std::cout << text << std::flush) return 0;
    const int error = errno;
    std::cerr << "bootcamp: cannot write to standard output: " << std::strerror(error) << '\n';
    return 1;
}
}  // namespace

int main(int argc, char* argv[]) {
    // Fully buffered: each screen update reaches the terminal in one write when a key wait begins.
    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    try {
        // Before anything touches the terminal. The page calls main with argc 0: no program name either.
        std::vector<std::string_view> arguments;
        for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
        const CommandLine commandLine = readCommandLine(arguments);
        switch (commandLine.asked) {
        case Asked::nothingKnown: std::cerr << unknownArgumentText(commandLine.unknown); return 2;
        case Asked::version: return answer(versionText());
        case Asked::help: buildEventCatalog(); return answer(helpText(windowsThatPlay(screenLayout(eventCatalog))));
        case Asked::play: break;
        }
        std::srand(static_cast<std::uint32_t>(std::time(nullptr)));
        buildEventCatalog();
        shuffleEvents();
        openTerminal(screenLayout(playOrder), commandLine.layout);
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

// The command line: what it asks for (the game, how to play, the version) and the texts answering it.
#include "game/command_line.h"

#include <cstdio>

// CMake defines BOOTCAMP_VERSION, the project's version, and BOOTCAMP_READ_MORE, the line that says
// where the installed game's documentation is (the manual page; on Windows the text beside the game).

namespace {
bool isHelp(std::string_view argument) { return argument == "--help" || argument == "-h"; }
}  // namespace

CommandLine readCommandLine(const std::vector<std::string_view>& arguments) {
    CommandLine read{Asked::play, ""};
    for (const std::string_view argument : arguments) {
        if (argument == "--stacked") {
            read.layout = LayoutChoice::stacked;
        } else if (isHelp(argument)) {
            if (read.asked != Asked::nothingKnown) read.asked = Asked::help;
        } else if (argument == "--version") {
            if (read.asked == Asked::play) read.asked = Asked::version;
        } else if (read.asked != Asked::nothingKnown) {
            read = {Asked::nothingKnown, std::string(argument)};
        }
    }
    return read;
}

std::string helpText(const WindowsThatPlay& windows) {
    const auto size = [](ScreenSize window) {
        return std::to_string(window.columns) + " columns and " + std::to_string(window.rows) + " rows";
    };
    return "Usage: bootcamp [--stacked] [--help | --version]\n"
           "\n"
           "A turn-based text game: get a recruit through boot camp. Each day brings one\n"
           "scenario with three answers; every answer moves the recruit's Health, Sanity,\n"
           "Reputation and Punchability, and the run ends when one of them reaches its bound.\n"
           "\n"
           "Keys:\n"
           "  ENTER       leave the intro, close an Event once its outcome is shown,\n"
           "              restart after an ending\n"
           "  0, 1, 2     choose an answer (the main row's digits, never the keypad's)\n"
           "  Q           quit, on the end screen\n"
           "  Ctrl+C      end the game at once\n"
           "\n"
           "Window size:\n"
           "  at least " +
           size(windows.unwrapped) + "; narrower, down to " + std::to_string(windows.narrowest.columns) +
           " columns,\n"
           "  with more rows (" +
           std::to_string(windows.narrowest.rows) + " at " + std::to_string(windows.narrowest.columns) +
           " columns); from " + size(windows.asDrawn) +
           "\n"
           "  the full layout, with the gauges beside the Event\n"
           "\n"
           "Options:\n"
           "  --stacked   one column at any window size: the Event, the answer's effects,\n"
           "              then the gauges, each on rows of their own (for a screen reader)\n"
           "  -h, --help  show this text and exit\n"
           "  --version   show the version and exit\n"
           "\n" BOOTCAMP_READ_MORE "\n";
}

std::string versionText() { return "bootcamp " BOOTCAMP_VERSION "\n"; }

std::string unknownArgumentText(std::string_view argument) {
    std::string shown;
    for (const char c : argument) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f) {
            shown += c;
        } else {
            char spelt[5];
            std::snprintf(spelt, sizeof spelt, "\\x%02x", byte);
            shown += spelt;
        }
    }
    const bool option = !argument.empty() && argument.front() == '-';
    return std::string("bootcamp: ") + (option ? "unknown option" : "unexpected argument") + " '" + shown +
           "' (try 'bootcamp --help')\n";
}

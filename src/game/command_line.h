// The command line: what it asks for (the game, how to play, the version) and the texts answering it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/window_fit.h"

enum class Asked { play, help, version, nothingKnown };

struct CommandLine {
    Asked asked;
    std::string unknown;                         // the first argument that is no option of the game, as given
    LayoutChoice layout = LayoutChoice::fitted;  // --stacked: one column at any window size
};

// Reads the arguments after the program's name. None: the game. An argument that is not an option
// of the game outweighs every other; otherwise --help (or -h) outweighs --version, and both
// outweigh --stacked.
CommandLine readCommandLine(const std::vector<std::string_view>& arguments);

// How to play, for --help: the keys, the windows the game plays in, the options, where to read more.
std::string helpText(const WindowsThatPlay& windows);

// "bootcamp" and the version, on one line.
std::string versionText();

// The one line that says the command line was not understood, naming the argument with its
// control characters spelt out (so that no escape sequence reaches the terminal) and pointing at
// --help.
std::string unknownArgumentText(std::string_view argument);

// The scripted keyboard linked into the game tests in place of the platform layer.
#include "scripted_keyboard.h"

#include <cstdio>
#include <stdexcept>

#include "platform/platform.h"

namespace {
std::vector<KeysDown> script;
std::size_t step = 0;
std::vector<std::int32_t> polled;
int waits = 0;
}  // namespace

void scriptKeys(std::vector<KeysDown> steps) {
    script = std::move(steps);
    step = 0;
    polled.clear();
    waits = 0;
}

const std::vector<std::int32_t>& keysPolled() { return polled; }

int waitsMade() { return waits; }

void openTerminal(const ScreenLayout&, LayoutChoice) {}

void closeTerminal(HandBack) {}

void endByInterrupt() { throw std::logic_error("the scripted keyboard has no interrupt"); }

std::string& platformSaw() {
    static std::string bytes;
    return bytes;
}

// The game's bytes to standard output, as a terminal's platform layer puts them, for the tests that
// capture it.
void writeScreen(std::string_view bytes) {
    platformSaw() += bytes;
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void showScreen() { std::fflush(stdout); }

bool isKeyDown(std::int32_t vk) {
    polled.push_back(vk);
    return step < script.size() && script[step].contains(vk);
}

void waitForKeyboard() {
    ++waits;
    if (++step >= script.size()) throw ScriptEnded{};
}

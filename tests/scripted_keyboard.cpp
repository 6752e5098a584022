// The scripted keyboard linked into the tests, and the capture of standard output.
#include "scripted_keyboard.h"

// dup and dup2 come from <unistd.h> on POSIX and MinGW, from <io.h> with Visual Studio.
#if __has_include(<unistd.h>)
#include <unistd.h>
#else
#include <io.h>
#endif

#include <cstdio>
#include <iostream>
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

void openTerminal(ScreenSize) {}

void closeTerminal(HandBack) {}

bool isKeyDown(std::int32_t vk) {
    polled.push_back(vk);
    return step < script.size() && script[step].contains(vk);
}

void waitForKeyboard() {
    ++waits;
    if (++step >= script.size()) throw ScriptEnded{};
}

std::string captureOutput(const std::function<void()>& body) {
    std::cout.flush();
    std::fflush(stdout);
    std::FILE* file = std::tmpfile();
    if (file == nullptr) throw std::runtime_error("no temporary file");
    const int out = ::fileno(stdout);
    const int saved = ::dup(out);
    ::dup2(::fileno(file), out);
    auto restore = [&] {
        std::cout.flush();
        std::fflush(stdout);
        ::dup2(saved, out);
        ::close(saved);
    };
    try {
        body();
    } catch (...) {
        restore();
        std::fclose(file);
        throw;
    }
    restore();
    std::string output;
    std::rewind(file);
    char chunk[4096];
    std::size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) output.append(chunk, count);
    std::fclose(file);
    return output;
}

std::string at(int row, int column) { return "\x1b[" + std::to_string(row) + ";" + std::to_string(column) + "H"; }

// The terminal platform layer on Windows: the console's escape-sequence output, key state from
// GetKeyState, the blocking wait on console input, and giving the console back on every way out.
#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>

#include "platform/platform.h"

namespace {
HANDLE input = INVALID_HANDLE_VALUE;
HANDLE output = INVALID_HANDLE_VALUE;
DWORD savedInputMode = 0;
DWORD savedOutputMode = 0;
volatile LONG consoleOpen = 0;

void giveBack() {
    if (InterlockedExchange(&consoleOpen, 0) == 0) return;
    std::fflush(stdout);
    // Keys typed while the game ran stay in the input buffer; they must not reach the shell.
    FlushConsoleInputBuffer(input);
    SetConsoleMode(input, savedInputMode);
    SetConsoleMode(output, savedOutputMode);
}

BOOL WINAPI onConsoleControl(DWORD) {
    giveBack();
    return FALSE;  // let the default handler end the process as it would have
}

void onTerminate() {
    giveBack();
    std::abort();
}
}  // namespace

void openTerminal(ScreenSize) {
    input = GetStdHandle(STD_INPUT_HANDLE);
    output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!GetConsoleMode(input, &savedInputMode) || !GetConsoleMode(output, &savedOutputMode)) {
        throw std::runtime_error("standard input and output must be a console");
    }
    // The console interprets the two escape sequences; processed output keeps "\n" starting
    // the next line at column 1. Input: no echo, no line editing; Ctrl+C still ends the game.
    if (!SetConsoleMode(output, savedOutputMode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
        throw std::runtime_error("this console does not interpret escape sequences");
    }
    SetConsoleMode(input, ENABLE_PROCESSED_INPUT);
    consoleOpen = 1;
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    std::set_terminate(onTerminate);
}

void closeTerminal(HandBack) {
    giveBack();
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
}

bool isKeyDown(std::int32_t vk) {
    // Only the sign matters: negative means down at the time of the call.
    return GetKeyState(static_cast<int>(vk)) < 0;
}

void waitForKeyboard() {
    // The input handle is signalled while records are waiting. They are read and dropped, so
    // the handle resets and the wait blocks again; the key state itself comes from GetKeyState.
    WaitForSingleObject(input, INFINITE);
    INPUT_RECORD records[64];
    DWORD count = 0;
    while (GetNumberOfConsoleInputEvents(input, &count) && count > 0) {
        if (!ReadConsoleInputW(input, records, 64, &count)) break;
    }
}

// The Windows console backend: the console's modes, its input records read with a blocking wait,
// the visible window's size, and the console given back on every way out.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "platform/backend.h"
#include "platform/fixed_bytes.h"
#include "platform/windows/console_records.h"
#include "platform/write_all.h"

namespace {
// Set before the control handler is installed and only read after, so the handler's thread can
// give the console back with them.
HANDLE input = INVALID_HANDLE_VALUE;
HANDLE output = INVALID_HANDLE_VALUE;
DWORD savedInputMode = 0;
DWORD savedOutputMode = 0;
std::atomic<bool> consoleOpen{false};
// What goes out before the modes when the game is cut short: two copies, so that a new one is
// written while the handler's thread may read the one in force.
FixedBytes cutShorts[2];
std::atomic<int> cutShortInForce{0};
static_assert(FixedBytes::fits(longestCutShort), "the cut-short bytes do not fit");

// Without line input and echo the console hands over every key as records; Ctrl+C stays a
// control event (processed input), and window input adds the buffer size events.
constexpr DWORD gameInputMode = ENABLE_PROCESSED_INPUT | ENABLE_WINDOW_INPUT;

// The console's own status for a process ended by Ctrl+C.
constexpr UINT controlCExit = 0xC000013AU;

EarlyEnd consoleGone() { return EarlyEnd{1, "the console has gone away", HandBack::belowLayout}; }

// Straight to the console, not through stdio: the control handler runs on a thread of its own.
void writeDirect(std::string_view bytes) {
    writeAll(bytes, [](const char* data, std::size_t size) {
        const DWORD chunk = size > 0x10000 ? 0x10000 : static_cast<DWORD>(size);
        DWORD written = 0;
        return WriteFile(output, data, chunk, &written, nullptr) ? written : 0;
    });
}

// The modes back as they were, and the keys typed meanwhile dropped so that none reaches the
// shell. What goes out last is written first, while the console still reads escape sequences.
void giveBack(std::string_view lastBytes) {
    if (!consoleOpen.exchange(false)) return;
    writeDirect(lastBytes);
    SetConsoleMode(output, savedOutputMode);
    FlushConsoleInputBuffer(input);
    SetConsoleMode(input, savedInputMode);
}

// Ctrl+C, Ctrl+Break, the window closed, logoff or shutdown: give the console back, then end
// with the console's own status for it.
BOOL WINAPI onConsoleControl(DWORD event) {
    giveBack(cutShorts[cutShortInForce.load()].view());
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) ExitProcess(controlCExit);
    return FALSE;  // the default handler ends the process
}

ConsoleRecord plainRecord(const INPUT_RECORD& record) {
    ConsoleRecord plain;
    if (record.EventType == KEY_EVENT) {
        const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
        plain.type = ConsoleRecord::Type::key;
        plain.key = {key.bKeyDown != FALSE,
                     key.wRepeatCount,
                     key.wVirtualKeyCode,
                     key.wVirtualScanCode,
                     static_cast<char16_t>(key.uChar.UnicodeChar),
                     key.dwControlKeyState};
    } else if (record.EventType == FOCUS_EVENT) {
        plain.type = ConsoleRecord::Type::focus;
        plain.setFocus = record.Event.FocusEvent.bSetFocus != FALSE;
    } else if (record.EventType == WINDOW_BUFFER_SIZE_EVENT) {
        plain.type = ConsoleRecord::Type::bufferSize;
    }
    return plain;
}
}  // namespace

namespace backend {

BackendOpening open(const ScreenLayout&, std::string_view cutShortBytes) {
    input = GetStdHandle(STD_INPUT_HANDLE);
    output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (input == INVALID_HANDLE_VALUE || output == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &savedInputMode) ||
        !GetConsoleMode(output, &savedOutputMode)) {
        throw std::runtime_error("standard input and output must be a console");
    }
    setCutShort(cutShortBytes);

    consoleOpen = true;
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    // The console carries out the escape sequences; processed output with the automatic return
    // makes "\n" start the next line at column 1. Consoles before Windows 10 refuse this.
    const DWORD gameOutputMode = (savedOutputMode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING) &
                                 ~DWORD{DISABLE_NEWLINE_AUTO_RETURN};
    if (!SetConsoleMode(output, gameOutputMode)) {
        giveBack("");
        SetConsoleCtrlHandler(onConsoleControl, FALSE);
        throw std::runtime_error("this console does not interpret escape sequences (Windows 10 or later is needed)");
    }
    SetConsoleMode(input, gameInputMode);
    // The console reports each key going down and coming up. A console window made taller
    // within its buffer sends no event, so the core looks at the size itself.
    return {"", true, false};
}

void setCutShort(std::string_view bytes) {
    const int next = 1 - cutShortInForce.load();
    cutShorts[next].assign(bytes);
    cutShortInForce.store(next);
}

void close() {
    if (!consoleOpen) return;
    std::fflush(stdout);  // the game's last bytes, while the console still reads escape sequences
    giveBack("");
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
}

void closeCutShort() { giveBack(cutShorts[cutShortInForce.load()].view()); }

std::optional<ScreenSize> windowSize() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(output, &info)) return std::nullopt;
    const ScreenSize size{info.srWindow.Right - info.srWindow.Left + 1, info.srWindow.Bottom - info.srWindow.Top + 1};
    if (size.columns <= 0 || size.rows <= 0) return std::nullopt;
    return size;
}

void read(std::vector<BackendEvent>& events, std::optional<int> timeoutMs) {
    const DWORD waited = WaitForSingleObject(input, timeoutMs ? static_cast<DWORD>(*timeoutMs) : INFINITE);
    if (waited == WAIT_TIMEOUT) return;
    if (waited != WAIT_OBJECT_0) throw consoleGone();
    // Every record waiting, also those of other kinds (menu, mouse): the wait would not block
    // again while one is left.
    INPUT_RECORD records[128];
    std::vector<ConsoleRecord> batch;
    DWORD waiting = 0;
    do {
        DWORD count = 0;
        if (!ReadConsoleInputW(input, records, 128, &count)) throw consoleGone();
        for (DWORD i = 0; i < count; ++i) batch.push_back(plainRecord(records[i]));
    } while (GetNumberOfConsoleInputEvents(input, &waiting) && waiting > 0);
    takeConsoleRecords(batch, events);
}

std::int64_t clockMs() { return static_cast<std::int64_t>(GetTickCount64()); }

void endByInterrupt() { ExitProcess(controlCExit); }

}  // namespace backend

// The terminal platform layer on Windows: the console's modes, key state from the console's own
// key records, the blocking wait, resizes, and giving the console back on every way out.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <bitset>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/console_records.h"
#include "platform/key_queue.h"
#include "platform/keys.h"
#include "platform/platform.h"
#include "platform/screen_record.h"
#include "platform/size_notice.h"

namespace {
ScreenSize layout{102, 15};

// Set before the control handler is installed and only read after, so the handler's thread can
// give the console back with them.
HANDLE input = INVALID_HANDLE_VALUE;
HANDLE output = INVALID_HANDLE_VALUE;
DWORD savedInputMode = 0;
DWORD savedOutputMode = 0;
std::atomic<bool> consoleOpen{false};
// "\e[<rows>;1H\n": column 1 of the row under the layout. Made once, so the handler need not
// format it.
char belowLayout[32] = "";
DWORD belowLayoutLength = 0;

// Without line input and echo the console hands over every key as records; Ctrl+C stays a
// control event (processed input), and window input adds the buffer size events.
constexpr DWORD gameInputMode = ENABLE_PROCESSED_INPUT | ENABLE_WINDOW_INPUT;

// While the size notice is up, the window is looked at this often as well: a console window
// made taller within its buffer sends no event.
constexpr DWORD noticeRecheckMs = 250;

KeyQueue keys;
std::bitset<256> polledThisCycle;
ScreenSize window{0, 0};  // the visible window when last looked at
bool resized = false;     // a buffer size event, or the visible window changed

EarlyEnd consoleGone() { return EarlyEnd{1, "the console has gone away", HandBack::belowLayout}; }

// Straight to the console, not through stdio: the control handler runs on a thread of its own.
void writeAll(const char* bytes, std::size_t length) {
    while (length > 0) {
        const DWORD chunk = length > 0x10000 ? 0x10000 : static_cast<DWORD>(length);
        DWORD written = 0;
        if (!WriteFile(output, bytes, chunk, &written, nullptr) || written == 0) return;
        bytes += written;
        length -= written;
    }
}

void writeText(const std::string& text) { writeAll(text.data(), text.size()); }

// The modes back as they were, and the keys typed meanwhile dropped so that none reaches the
// shell. The cursor goes below the layout first, while the console still reads escape sequences.
void giveBack(bool cursorBelowLayout) {
    if (!consoleOpen.exchange(false)) return;
    if (cursorBelowLayout) writeAll(belowLayout, belowLayoutLength);
    SetConsoleMode(output, savedOutputMode);
    FlushConsoleInputBuffer(input);
    SetConsoleMode(input, savedInputMode);
}

// Ctrl+C, Ctrl+Break, the window closed, logoff or shutdown: give the console back, then let
// the default handler end the process with the console's own status.
BOOL WINAPI onConsoleControl(DWORD) {
    giveBack(true);
    return FALSE;
}

[[noreturn]] void onTerminate() {
    giveBack(true);
    std::abort();
}

std::optional<ScreenSize> visibleWindow() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(output, &info)) return std::nullopt;
    const ScreenSize size{info.srWindow.Right - info.srWindow.Left + 1, info.srWindow.Bottom - info.srWindow.Top + 1};
    if (size.columns <= 0 || size.rows <= 0) return std::nullopt;
    return size;
}

bool sameSize(ScreenSize a, ScreenSize b) { return a.columns == b.columns && a.rows == b.rows; }

// A window the size of which is unknown lets the game try.
bool tooSmall(ScreenSize size) { return size.columns < layout.columns || size.rows < layout.rows; }

void noticeWindowChange() {
    const std::optional<ScreenSize> now = visibleWindow();
    if (now && !sameSize(*now, window)) {
        window = *now;
        resized = true;
    }
}

ConsoleKeyRecord plainRecord(const KEY_EVENT_RECORD& key) {
    return {key.bKeyDown != FALSE,
            key.wRepeatCount,
            key.wVirtualKeyCode,
            key.wVirtualScanCode,
            static_cast<char16_t>(key.uChar.UnicodeChar),
            key.dwControlKeyState};
}

// Blocks until the console has input or the timeout passes; then reads every record waiting.
// The key records go to `batch`, a buffer size event sets `resized`. False on a timeout.
bool readBatch(DWORD timeoutMs, std::vector<ConsoleKeyRecord>& batch) {
    const DWORD waited = WaitForSingleObject(input, timeoutMs);
    if (waited == WAIT_TIMEOUT) return false;
    if (waited != WAIT_OBJECT_0) throw consoleGone();
    INPUT_RECORD records[128];
    DWORD waiting = 0;
    do {
        DWORD count = 0;
        if (!ReadConsoleInputW(input, records, 128, &count)) throw consoleGone();
        for (DWORD i = 0; i < count; ++i) {
            if (records[i].EventType == KEY_EVENT) batch.push_back(plainRecord(records[i].Event.KeyEvent));
            if (records[i].EventType == WINDOW_BUFFER_SIZE_EVENT) resized = true;
        }
    } while (GetNumberOfConsoleInputEvents(input, &waiting) && waiting > 0);
    return true;
}

void redraw() {
    std::fflush(stdout);
    writeText(screenSinceErase());
}

void showSizeNotice(ScreenSize size) {
    std::fflush(stdout);  // anything buffered for the console goes first
    writeText(sizeNotice(layout, size));
}

// While the window is too small the fixed layout would be garbled: show the size needed and
// wait for a larger window. Q quits; every other key is dropped.
void waitUntilLargeEnough() {
    if (!tooSmall(window)) return;
    ScreenSize shown = window;
    showSizeNotice(shown);
    for (;;) {
        std::vector<ConsoleKeyRecord> batch;
        readBatch(noticeRecheckMs, batch);
        for (const KeyChange& change : keyChangesOf(batch)) {
            if (change.vk == vkQ && (change.kind == KeyChangeKind::press || change.kind == KeyChangeKind::tap)) {
                writeText("\x1b[2J");
                throw EarlyEnd{0, "", HandBack::asDrawn};  // a quit, like Q on the end screen
            }
        }
        noticeWindowChange();
        const bool sizeChanged = resized;  // even to the same visible size: the notice may be garbled
        resized = false;
        if (!tooSmall(window)) break;
        if (sizeChanged || !sameSize(window, shown)) {
            shown = window;
            showSizeNotice(shown);
        }
    }
    keys.releaseAll();  // keys pressed while the notice was up do not reach the game
}
}  // namespace

void openTerminal(ScreenSize needed) {
    input = GetStdHandle(STD_INPUT_HANDLE);
    output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (input == INVALID_HANDLE_VALUE || output == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &savedInputMode) ||
        !GetConsoleMode(output, &savedOutputMode)) {
        throw std::runtime_error("standard input and output must be a console");
    }
    layout = needed;
    const int length = std::snprintf(belowLayout, sizeof belowLayout, "\x1b[%d;1H\n", layout.rows);
    belowLayoutLength =
        length > 0 && static_cast<std::size_t>(length) < sizeof belowLayout ? static_cast<DWORD>(length) : 0;

    consoleOpen = true;
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    std::set_terminate(onTerminate);
    // The console carries out the escape sequences; processed output with the automatic return
    // makes "\n" start the next line at column 1. Consoles before Windows 10 refuse this.
    const DWORD gameOutputMode = (savedOutputMode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING) &
                                 ~DWORD{DISABLE_NEWLINE_AUTO_RETURN};
    if (!SetConsoleMode(output, gameOutputMode)) {
        giveBack(false);
        SetConsoleCtrlHandler(onConsoleControl, FALSE);
        throw std::runtime_error("this console does not interpret escape sequences (Windows 10 or later is needed)");
    }
    SetConsoleMode(input, gameInputMode);

    window = visibleWindow().value_or(needed);
    waitUntilLargeEnough();
}

void closeTerminal(HandBack how) {
    if (!consoleOpen) return;
    // After the game's last output, in the same write.
    if (how == HandBack::belowLayout) std::fwrite(belowLayout, 1, belowLayoutLength, stdout);
    std::fflush(stdout);
    giveBack(false);
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
}

bool isKeyDown(std::int32_t vk) {
    polledThisCycle.set(static_cast<std::size_t>(vk));
    return keys.poll(vk, KeyClock::now());
}

void waitForKeyboard() {
    // A key polled in this cycle has more changes waiting: the next cycle takes them at once.
    bool pending = false;
    for (std::size_t vk = 0; vk < polledThisCycle.size(); ++vk) {
        if (polledThisCycle.test(vk) && keys.hasPending(static_cast<std::int32_t>(vk))) pending = true;
    }
    polledThisCycle.reset();
    if (pending) return;

    std::vector<ConsoleKeyRecord> batch;
    readBatch(INFINITE, batch);
    applyKeyChanges(keys, keyChangesOf(batch), KeyClock::now());
    noticeWindowChange();
    if (resized) {
        resized = false;
        waitUntilLargeEnough();
        redraw();
    }
}

// The platform core, the same on every platform: the key timeline behind the polls, the waits,
// the size check and its notice, the screen kept as cells and redrawn from them, every byte
// written, and the order of the hand-back. It reaches the system only through the backend.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/key_timeline.h"
#include "platform/keys.h"
#include "platform/platform.h"
#include "platform/screen_cells.h"
#include "platform/size_notice.h"

namespace {
ScreenSize layout{102, 15};
KeyTimeline keys;
TypedKeys typedKeys;
ScreenCells screen{layout};
bool terminalOpen = false;
bool releasesReported = false;  // key releases are reported: a press holds the key down
bool resizeReported = true;     // the backend tells of every resize; else the size is looked at
std::optional<ScreenSize> knownSize;
std::string cutShort;  // the cursor to column 1 under the layout

// While the size notice is up on a backend that does not tell of every resize, the window is
// looked at this often.
constexpr int noticeRecheckMs = 250;

// Bytes to the terminal now, after everything the game has written.
void writeNow(std::string_view bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

bool tooSmall(std::optional<ScreenSize> size) {
    return size && (size->columns < layout.columns || size->rows < layout.rows);
}

// Has the window changed size since it was last looked at?
bool sizeChanged() {
    const std::optional<ScreenSize> now = backend::windowSize();
    if (now == knownSize) return false;
    knownSize = now;
    return true;
}

std::vector<BackendEvent> readEvents(std::optional<int> timeoutMs) {
    std::fflush(stdout);  // everything drawn is on the terminal before any wait
    std::vector<BackendEvent> events;
    backend::read(events, timeoutMs);
    return events;
}

// The events that hold for the whole game, whatever it waits for; true for a window event.
bool followGameWide(const BackendEvent& event) {
    switch (event.kind) {
    case BackendEventKind::releasesReported: releasesReported = event.value != 0; return false;
    case BackendEventKind::interrupt: throw EarlyEnd{130, "", HandBack::belowLayout, true};
    case BackendEventKind::resumed:
    case BackendEventKind::resized: return true;
    default: return false;
    }
}

void showSizeNotice(ScreenSize size) { writeNow(sizeNotice(layout, size)); }

// What comes while the size notice is up: Q quits; every other key is dropped. True when the
// notice may need drawing again (a resize, a resume).
bool dropKeysWhileTooSmall(const std::vector<BackendEvent>& events) {
    bool again = false;
    for (const BackendEvent& event : events) {
        const bool press = event.kind == BackendEventKind::keyDown || event.kind == BackendEventKind::keyTap;
        if (press && event.value == vkQ) {
            writeNow("\x1b[2J");
            throw EarlyEnd{0, "", HandBack::asDrawn};  // a quit, like Q on the end screen
        }
        if (followGameWide(event)) again = true;
    }
    return again;
}

// Every key up: the keyboard's state is unknown, or keys were dropped.
void releaseEveryKey() {
    typedKeys.letGo(keys);
    keys.releaseAll();
}

// While the window is too small the fixed layout would be garbled: the size notice instead, until
// the window is large enough. When the game comes back every key counts as up, and keys typed
// while the notice was up that are still unread (they can come with the resize) are dropped too.
// True if the notice was shown.
bool waitUntilLargeEnough() {
    knownSize = backend::windowSize();
    if (!tooSmall(knownSize)) return false;
    ScreenSize shown = *knownSize;
    showSizeNotice(shown);
    for (;;) {
        const bool again =
            dropKeysWhileTooSmall(readEvents(resizeReported ? std::nullopt : std::optional(noticeRecheckMs)));
        sizeChanged();
        if (!tooSmall(knownSize)) break;
        if (again || *knownSize != shown) {
            shown = *knownSize;
            showSizeNotice(shown);
        }
    }
    constexpr int mostUnreadReads = 16;  // a bound, should keys keep coming
    for (int read = 0; read < mostUnreadReads; ++read) {
        const std::vector<BackendEvent> unread = readEvents(0);
        if (unread.empty()) break;
        dropKeysWhileTooSmall(unread);
    }
    releaseEveryKey();
    return true;
}

// One event into the key timeline, in order; true for a window event. Where releases are
// reported a repeat says the key is down, like a press: a key let go while the focus was away is
// up until the terminal reports it again, and kitty reports the first press after a focus change
// as a repeat. Where they are not, presses and repeats are characters like any typed one.
bool followKeys(const BackendEvent& event, std::int64_t nowMs) {
    switch (event.kind) {
    case BackendEventKind::keyDown:
    case BackendEventKind::keyRepeat:
        if (!releasesReported) {
            typedKeys.typed(event.value, nowMs, keys);
            return false;
        }
        typedKeys.letGo(keys);
        keys.press(event.value);
        return false;
    case BackendEventKind::keyUp:
        if (releasesReported) {
            typedKeys.letGo(keys);
            keys.release(event.value);
        }
        return false;
    case BackendEventKind::keyTap: typedKeys.typed(event.value, nowMs, keys); return false;
    case BackendEventKind::focusLost: releaseEveryKey(); return false;
    case BackendEventKind::resumed: releaseEveryKey(); return true;
    default: return followGameWide(event);
    }
}

// How long a wait may block: until a typed key's repeats are due or overdue, else for ever.
std::optional<int> timeUntilTypedKeysDecide() {
    const std::optional<std::int64_t> deadline = typedKeys.deadline();
    if (!deadline) return std::nullopt;
    const std::int64_t left = *deadline - backend::clockMs();
    return static_cast<int>(left < 0 ? 0 : left);
}

[[noreturn]] void onTerminate() {
    backend::closeCutShort();
    std::abort();
}
}  // namespace

void openTerminal(const ScreenLayout& wanted) {
    const ScreenSize needed = wanted.size;
    layout = needed;
    screen = ScreenCells(needed);
    keys = KeyTimeline{};  // a terminal just taken: no key is known to be down
    typedKeys = TypedKeys{};
    cutShort = "\x1b[" + std::to_string(needed.rows) + ";1H\r\n";
    const BackendOpening opening = backend::open(wanted, cutShort);
    std::set_terminate(onTerminate);
    terminalOpen = true;
    releasesReported = opening.releasesReported;
    resizeReported = opening.resizeReported;
    // the set-up goes out with the first screen, in one write, and nothing waits for answers
    std::fwrite(opening.firstBytes.data(), 1, opening.firstBytes.size(), stdout);
    waitUntilLargeEnough();
}

void closeTerminal(HandBack how) {
    if (!terminalOpen) return;
    terminalOpen = false;
    // the game's last bytes first, then the backend's, in the same write
    if (how == HandBack::belowLayout) std::fwrite(cutShort.data(), 1, cutShort.size(), stdout);
    backend::close();
}

void endByInterrupt() { backend::endByInterrupt(); }

bool isKeyDown(std::int32_t vk) { return keys.isDown(vk); }

void waitForKeyboard() {
    while (!keys.advance()) {
        bool redraw = false;
        const std::vector<BackendEvent> events = readEvents(timeUntilTypedKeysDecide());
        const std::int64_t nowMs = backend::clockMs();
        for (const BackendEvent& event : events) {
            if (followKeys(event, nowMs)) redraw = true;
        }
        typedKeys.elapse(nowMs, keys);
        // a backend that tells of every resize costs no look at the size after each key
        if ((redraw || !resizeReported) && sizeChanged()) redraw = true;
        if (redraw) {
            waitUntilLargeEnough();
            writeNow(screen.redraw());
        }
    }
}

void screenWritten(std::string_view bytes) { screen.write(bytes); }

// The platform core, the same on every platform: the key timeline behind the polls, the waits,
// the screen kept as cells and placed in the window (as drawn, laid out to fit, or the size notice
// where nothing fits), redrawn from them, every byte written, and the order of the hand-back. It
// reaches the system only through the backend.
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
#include "platform/window_fit.h"

namespace {
ScreenLayout layout{{133, 15}, 80, 9, 100, 0, 22, {}, {}};
LayoutChoice chosen = LayoutChoice::fitted;  // as the player asked
KeyTimeline keys;
TypedKeys typedKeys;
ScreenCells screen{layout.size};
bool terminalOpen = false;
bool releasesReported = false;  // key releases are reported: a press holds the key down
bool resizeReported = true;     // the backend tells of every resize; else the size is looked at
std::optional<ScreenSize> knownSize;
// How the screen is placed in the window: as the game draws it until the window is known. None
// while the size notice is up.
std::optional<WindowPlan> plan = WindowPlan{Arrangement::asDrawn, layout.size, 0, layout.size.rows};
// What the window shows, where the screen is laid out anew: the changes are drawn from it; and
// whether the game has written since.
std::optional<Cells> shown;
bool written = false;

// While the size notice is up on a backend that does not tell of every resize, the window is
// looked at this often.
constexpr int noticeRecheckMs = 250;

// Bytes to the terminal now, after everything the game has written.
void writeNow(std::string_view bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

// The game's bytes go to the terminal as they are.
bool asDrawn() { return plan && plan->arrangement == Arrangement::asDrawn; }

// Where the window's size is unknown, the game's own layout.
std::optional<WindowPlan> planFor(std::optional<ScreenSize> size) {
    if (!size) return WindowPlan{Arrangement::asDrawn, layout.size, 0, layout.size.rows};
    return planWindow(layout, *size, chosen);
}

// Cut short, the cursor goes to column 1 under the rows the layout takes in the window.
void planned(const WindowPlan& now) {
    plan = now;
    shown.reset();
    backend::setCutShort("\x1b[" + std::to_string(now.rows) + ";1H\r\n");
}

// The window's cells from the screen's, drawn where they changed (all of them after a resize).
void drawLaidOut() {
    if (!plan || asDrawn() || (shown && !written)) return;
    written = false;
    Cells wanted = fitScreen(screen.cells(), layout, *plan);
    const std::string bytes = drawCells(shown ? &*shown : nullptr, wanted);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    shown = std::move(wanted);
}

// Has the window changed size since it was last looked at?
bool sizeChanged() {
    const std::optional<ScreenSize> now = backend::windowSize();
    if (now == knownSize) return false;
    knownSize = now;
    return true;
}

std::vector<BackendEvent> readEvents(std::optional<int> timeoutMs) {
    showScreen();  // everything drawn is on the terminal before any wait
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

void showSizeNotice(ScreenSize size) { writeNow(sizeNotice(smallestWindow(layout, size, chosen), size)); }

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

// The screen placed in the window as it is now. Where nothing fits, the size notice instead,
// until the window is large enough. When the game comes back every key counts as up, and keys
// typed while the notice was up that are still unread (they can come with the resize) are
// dropped too. True if the notice was shown.
bool waitUntilItFits() {
    knownSize = backend::windowSize();
    if (const std::optional<WindowPlan> now = planFor(knownSize)) {
        planned(*now);
        return false;
    }
    plan.reset();
    ScreenSize noticed = *knownSize;
    showSizeNotice(noticed);
    for (;;) {
        const bool again =
            dropKeysWhileTooSmall(readEvents(resizeReported ? std::nullopt : std::optional(noticeRecheckMs)));
        sizeChanged();
        if (const std::optional<WindowPlan> now = planFor(knownSize)) {
            planned(*now);
            break;
        }
        if (again || *knownSize != noticed) {
            noticed = *knownSize;
            showSizeNotice(noticed);
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

void openTerminal(const ScreenLayout& wanted, LayoutChoice choice) {
    layout = wanted;
    chosen = choice;
    screen = ScreenCells(wanted.size);
    keys = KeyTimeline{};  // a terminal just taken: no key is known to be down
    typedKeys = TypedKeys{};
    plan = planFor(std::nullopt);
    shown.reset();
    const BackendOpening opening = backend::open(wanted, "\x1b[" + std::to_string(wanted.size.rows) + ";1H\r\n");
    std::set_terminate(onTerminate);
    terminalOpen = true;
    releasesReported = opening.releasesReported;
    resizeReported = opening.resizeReported;
    // the set-up goes out with the first screen, in one write, and nothing waits for answers
    std::fwrite(opening.firstBytes.data(), 1, opening.firstBytes.size(), stdout);
    waitUntilItFits();
}

void closeTerminal(HandBack how) {
    if (!terminalOpen) return;
    terminalOpen = false;
    // the game's last bytes first, then the backend's, in the same write
    drawLaidOut();
    if (how == HandBack::belowLayout) {
        const std::string below = "\x1b[" + std::to_string(plan ? plan->rows : layout.size.rows) + ";1H\r\n";
        std::fwrite(below.data(), 1, below.size(), stdout);
    }
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
            waitUntilItFits();
            if (asDrawn()) writeNow(screen.redraw());
        }
    }
}

void writeScreen(std::string_view bytes) {
    screen.write(bytes);
    // laid out anew, the screen is drawn from its cells as the next wait begins
    written = true;
    if (asDrawn() || !terminalOpen) std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void showScreen() {
    drawLaidOut();
    std::fflush(stdout);
}

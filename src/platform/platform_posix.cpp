// The terminal platform layer on POSIX: terminal modes, key state from the bytes the terminal
// sends (with true key release where the terminal speaks the kitty keyboard protocol), the
// blocking wait, suspend and resize, and giving the terminal back on every way out.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <bitset>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>

#include "platform/input_decoder.h"
#include "platform/key_queue.h"
#include "platform/keys.h"
#include "platform/platform.h"
#include "platform/screen_record.h"
#include "platform/size_notice.h"

namespace {
constexpr int inputFd = STDIN_FILENO;
constexpr int outputFd = STDOUT_FILENO;

ScreenSize layout{102, 15};

// Kept static and plain so the signal handlers can give the terminal back with safe calls only.
termios savedModes;
termios gameModes;
volatile std::sig_atomic_t terminalOpen = 0;
volatile std::sig_atomic_t speaksProtocol = 0;  // the terminal reports key presses and releases
volatile std::sig_atomic_t flagsPushed = 0;     // our keyboard flags are in force, to be popped
volatile std::sig_atomic_t numLockWasOn = 0;    // xterm's NumLock mode was set; we reset it
volatile std::sig_atomic_t resumed = 0;         // back from a suspend: re-enter game mode
volatile std::sig_atomic_t resized = 0;
int wakePipe[2] = {-1, -1};  // signal handlers write a byte here to wake the wait
// "\e[<rows>;1H\r\n": column 1 of the row under the layout, scrolling if the layout fills the
// terminal. Made once at start, so the signal handlers need not format it.
char belowLayout[32] = "";
std::size_t belowLayoutLength = 0;

constexpr char pushFlags[] = "\x1b[>15u";  // disambiguate, event types, alternate keys, all keys
constexpr char popFlags[] = "\x1b[<u";
constexpr char keypadApplication[] = "\x1b=";  // keypad digits then differ from the main row
constexpr char keypadNumeric[] = "\x1b>";
// xterm sends a keypad digit with NumLock on as the main row's digit, application mode or not,
// unless its NumLock mode (1035) is reset. Its state is asked first (DECRQM, "\e[?1035$p", with
// the start-up queries), so it can be set back.
constexpr char numLockModeOff[] = "\x1b[?1035l";
constexpr char numLockModeOn[] = "\x1b[?1035h";
constexpr std::int32_t modeSet = 1;  // DECRQM's answer for a mode that is set and can be reset

InputDecoder decoder;
KeyQueue keys;
std::bitset<256> polledThisCycle;

void install(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a signal interrupts the wait
    sigaction(signal, &action, nullptr);
}

void writeAll(const char* bytes, std::size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(outputFd, bytes, length);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
}

template <std::size_t N>
void writeLiteral(const char (&bytes)[N]) {
    writeAll(bytes, N - 1);
}

void wake() {
    const int savedErrno = errno;
    const char byte = 0;
    [[maybe_unused]] const ssize_t ignored = ::write(wakePipe[1], &byte, 1);
    errno = savedErrno;
}

// Reads and drops what the terminal sends until it has been quiet for 50 ms (a quarter of a
// second at most): key releases already on their way, sent before the terminal saw our flags
// popped, are swallowed here instead of being typed into the shell.
void swallowInput() {
    char bytes[256];
    for (int round = 0; round < 5; ++round) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(inputFd, &readable);
        timeval limit{0, 50000};
        if (::select(inputFd + 1, &readable, nullptr, nullptr, &limit) <= 0) return;
        if (::read(inputFd, bytes, sizeof bytes) <= 0) return;
    }
}

// The modes back as they were. TCSAFLUSH drops typed-ahead keys so they never reach the shell.
void restoreModes() {
    ::tcdrain(outputFd);
    swallowInput();
    ::tcsetattr(inputFd, TCSAFLUSH, &savedModes);
}

// The keyboard back to its legacy form and the modes back as they were, with only calls that
// are safe in a signal handler; the cursor under the layout, for the shell that takes over.
void giveBack() {
    if (!terminalOpen) return;
    writeAll(belowLayout, belowLayoutLength);
    if (flagsPushed) writeLiteral(popFlags);
    flagsPushed = 0;
    writeLiteral(keypadNumeric);
    if (numLockWasOn) writeLiteral(numLockModeOn);
    restoreModes();
}

// Idempotent: a SIGCONT without our suspend before it (after SIGSTOP, or sent alone) finds
// the flags still pushed and must not push them twice.
void enterGameMode() {
    ::tcsetattr(inputFd, TCSANOW, &gameModes);
    writeLiteral(keypadApplication);
    if (numLockWasOn) writeLiteral(numLockModeOff);
    if (speaksProtocol && !flagsPushed) {
        writeLiteral(pushFlags);
        flagsPushed = 1;
    }
}

void onEndingSignal(int signal) {
    giveBack();
    terminalOpen = 0;
    std::signal(signal, SIG_DFL);
    std::raise(signal);  // delivered once this handler returns, with the signal's own status
}

void onSuspendSignal(int) {
    const int savedErrno = errno;
    giveBack();
    std::signal(SIGTSTP, SIG_DFL);
    sigset_t suspend;
    sigemptyset(&suspend);
    sigaddset(&suspend, SIGTSTP);
    std::raise(SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &suspend, nullptr);  // the stop happens here; we go on after SIGCONT
    install(SIGTSTP, onSuspendSignal);
    resumed = 1;
    wake();
    errno = savedErrno;
}

void onContinueSignal(int) {
    resumed = 1;  // also after an uncatchable SIGSTOP
    wake();
}

void onResizeSignal(int) {
    resized = 1;
    wake();
}

void onTerminate() {
    giveBack();
    terminalOpen = 0;
    std::abort();
}

bool terminalTooSmall(int& columns, int& rows) {
    winsize size{};
    if (::ioctl(outputFd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
        return false;  // size unknown: let the game try
    }
    columns = size.ws_col;
    rows = size.ws_row;
    return columns < layout.columns || rows < layout.rows;
}

void redraw() {
    std::fflush(stdout);
    const std::string& screen = screenSinceErase();
    writeAll(screen.data(), screen.size());
}

// Reads what the terminal has sent (select said it is there) and decodes it. The terminal going
// away ends the game rather than being read again and again.
std::vector<InputEvent> readInput() {
    char bytes[512];
    ssize_t count;
    do {
        count = ::read(inputFd, bytes, sizeof bytes);
    } while (count < 0 && errno == EINTR);
    if (count <= 0) throw EarlyEnd{1, "the terminal has gone away", HandBack::belowLayout};
    return decoder.feed({bytes, static_cast<std::size_t>(count)});
}

void suspendNow() { std::raise(SIGTSTP); }

bool starting = false;  // in the start-up wait: nothing drawn yet

// A mode change goes out after what the game has buffered: at start-up in the same write as
// the first screen, later at once.
void switchNow(const char* bytes) {
    std::fputs(bytes, stdout);
    if (!starting) std::fflush(stdout);
}

// The terminal's answers to the start-up queries, whenever they come: over a slow link they
// can arrive after the start-up wait, and are acted on then. A flags reply means the terminal
// reports key releases: our flags go in, and keys arrive as events from then on.
void takeReply(const InputEvent& event) {
    if (event.kind == InputKind::protocolReply && !speaksProtocol) {
        speaksProtocol = 1;
        switchNow(pushFlags);
        flagsPushed = 1;
    } else if (event.kind == InputKind::numLockModeReply && event.value == modeSet && !numLockWasOn) {
        numLockWasOn = 1;
        switchNow(numLockModeOff);
    }
}

// Ctrl+C and Ctrl+Z reported as keys act as their signals would, wherever the game waits.
void takeControlKey(const InputEvent& event) {
    if (event.kind == InputKind::interrupt) throw EarlyEnd{130, "", HandBack::belowLayout};
    if (event.kind == InputKind::suspend) suspendNow();
    takeReply(event);
}

void takeKeyEvents(const std::vector<InputEvent>& events) {
    const KeyClock::time_point now = KeyClock::now();
    for (const InputEvent& event : events) {
        switch (event.kind) {
        case InputKind::keyTap: keys.tap(event.value, now); break;
        case InputKind::keyDown:
        case InputKind::keyRepeat: keys.press(event.value, now); break;
        case InputKind::keyUp: keys.release(event.value, now); break;
        default: takeControlKey(event); break;
        }
    }
}

void drainWakePipe() {
    char bytes[64];
    while (::read(wakePipe[0], bytes, sizeof bytes) > 0) {}
}

// Blocks until the terminal sends something or a signal wakes us. Returns true when input is
// there to read. With an incomplete escape sequence held, waits only so long for its rest.
bool blockForInput() {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(inputFd, &readable);
    FD_SET(wakePipe[0], &readable);
    timeval limit{0, 100000};
    const int highest = inputFd > wakePipe[0] ? inputFd : wakePipe[0];
    const int ready = ::select(highest + 1, &readable, nullptr, nullptr, decoder.hasPending() ? &limit : nullptr);
    if (ready < 0) return false;  // a signal: the caller looks at the flags
    if (ready == 0) {
        decoder.dropPending();  // the rest of the sequence did not come: a lone ESC was Escape
        return false;
    }
    if (FD_ISSET(wakePipe[0], &readable)) drainWakePipe();
    return FD_ISSET(inputFd, &readable) != 0;
}

// Waits until the terminal sends something or the deadline passes; true if input is there.
bool inputBefore(KeyClock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - KeyClock::now());
        if (left.count() <= 0) return false;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(inputFd, &readable);
        timeval limit{static_cast<time_t>(left.count() / 1000000), static_cast<suseconds_t>(left.count() % 1000000)};
        const int ready = ::select(inputFd + 1, &readable, nullptr, nullptr, &limit);
        if (ready > 0) return true;
        if (ready == 0 || errno != EINTR) return false;
    }
}

void showSizeNotice(int columns, int rows) {
    std::fflush(stdout);  // anything buffered for the terminal goes first
    const std::string notice = sizeNotice(layout, {columns, rows});
    writeAll(notice.data(), notice.size());
}

// While the terminal is too small the fixed layout would be garbled: show the size needed and
// wait for a resize. Q quits; every other key is dropped.
void waitUntilLargeEnough() {
    int columns = 0;
    int rows = 0;
    if (!terminalTooSmall(columns, rows)) return;
    showSizeNotice(columns, rows);
    for (;;) {
        if (resized) {
            resized = 0;
            if (!terminalTooSmall(columns, rows)) break;
            showSizeNotice(columns, rows);
        }
        if (resumed) {
            resumed = 0;
            enterGameMode();
            showSizeNotice(columns, rows);
        }
        if (!blockForInput()) continue;
        for (const InputEvent& event : readInput()) {
            if ((event.kind == InputKind::keyTap || event.kind == InputKind::keyDown) && event.value == vkQ) {
                writeLiteral("\x1b[2J");
                throw EarlyEnd{0, "", HandBack::asDrawn};  // a quit, like Q on the end screen
            }
            takeControlKey(event);
        }
    }
    keys.releaseAll();  // keys pressed while the notice was up do not reach the game
}

// Back from a suspend: the game's terminal mode again, the key state unknown, the screen as it
// was. After a resize: the same screen, or the size notice while the terminal is too small.
void handleSignalFlags() {
    bool draw = false;
    if (resumed) {
        resumed = 0;
        enterGameMode();
        keys.releaseAll();
        draw = true;
    }
    if (resized) {
        resized = 0;
        draw = true;
    }
    if (!draw) return;
    waitUntilLargeEnough();
    redraw();
}
}  // namespace

void openTerminal(ScreenSize needed) {
    if (!::isatty(inputFd) || !::isatty(outputFd)) {
        throw std::runtime_error("standard input and output must be a terminal");
    }
    if (::tcgetattr(inputFd, &savedModes) != 0) throw std::runtime_error("cannot read the terminal's modes");
    if (::pipe(wakePipe) != 0) throw std::runtime_error("cannot create a pipe");
    for (const int fd : wakePipe) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    layout = needed;
    const int length = std::snprintf(belowLayout, sizeof belowLayout, "\x1b[%d;1H\r\n", layout.rows);
    belowLayoutLength = length > 0 && static_cast<std::size_t>(length) < sizeof belowLayout ? length : 0;

    // No echo, no line editing, no flow control, CR kept as CR; output processing stays, so
    // "\n" still starts the next line at column 1. ISIG stays: Ctrl+C and Ctrl+Z keep working
    // in terminals that send only characters.
    gameModes = savedModes;
    gameModes.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | IEXTEN));
    gameModes.c_iflag &= static_cast<tcflag_t>(~(IXON | ICRNL | INLCR | IGNCR));
    gameModes.c_cc[VMIN] = 1;
    gameModes.c_cc[VTIME] = 0;

    install(SIGINT, onEndingSignal);
    install(SIGTERM, onEndingSignal);
    install(SIGHUP, onEndingSignal);
    install(SIGQUIT, onEndingSignal);
    install(SIGTSTP, onSuspendSignal);
    install(SIGCONT, onContinueSignal);
    install(SIGWINCH, onResizeSignal);
    std::set_terminate(onTerminate);

    terminalOpen = 1;
    ::tcsetattr(inputFd, TCSANOW, &gameModes);

    // Does the terminal report key releases? Ask for its keyboard flags, then for its device
    // attributes, which every terminal answers: a flags reply means yes, and the replies come
    // in the order asked. Keys typed meanwhile are kept. The keypad goes into application mode
    // and xterm is asked about its NumLock mode in the same write.
    writeLiteral("\x1b=\x1b[?1035$p\x1b[?u\x1b[c");
    const KeyClock::time_point deadline = KeyClock::now() + std::chrono::milliseconds(500);
    starting = true;
    bool answered = false;
    while (!answered && inputBefore(deadline)) {
        std::vector<InputEvent> events = readInput();
        for (const InputEvent& event : events) {
            if (event.kind == InputKind::deviceReply) answered = true;
        }
        takeKeyEvents(events);
    }
    starting = false;
    waitUntilLargeEnough();
}

void closeTerminal(HandBack how) {
    if (!terminalOpen) return;
    // After the game's last output, in the same write.
    if (how == HandBack::belowLayout) std::fwrite(belowLayout, 1, belowLayoutLength, stdout);
    if (flagsPushed) std::fputs(popFlags, stdout);
    flagsPushed = 0;
    std::fputs(keypadNumeric, stdout);
    if (numLockWasOn) std::fputs(numLockModeOn, stdout);
    std::fflush(stdout);
    restoreModes();
    terminalOpen = 0;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT, SIGWINCH}) {
        std::signal(signal, SIG_DFL);
    }
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
    for (;;) {
        handleSignalFlags();
        if (blockForInput()) {
            takeKeyEvents(readInput());
            return;
        }
    }
}

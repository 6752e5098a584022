// The POSIX terminal backend: the terminal's modes, the signals that end, suspend and resize, the
// wake-up pipe, the blocking read and the writes of the negotiation with the terminal.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "platform/backend.h"
#include "platform/fixed_bytes.h"
#include "platform/posix/input_decoder.h"
#include "platform/posix/terminal_negotiation.h"
#include "platform/write_all.h"

namespace {
constexpr int inputFd = STDIN_FILENO;
constexpr int outputFd = STDOUT_FILENO;

// What the signal handlers read, so that they give the terminal back with safe calls only: the
// modes and the cut-short bytes set before they are installed, the flags volatile sig_atomic_t.
termios savedModes;
termios gameModes;
volatile std::sig_atomic_t terminalOpen = 0;
volatile std::sig_atomic_t resumed = 0;  // back from a suspend: re-enter game mode
volatile std::sig_atomic_t resized = 0;
int wakePipe[2] = {-1, -1};  // signal handlers write a byte here to wake the read
FixedBytes cutShort;         // what goes out before the modes when the game is cut short
static_assert(FixedBytes::fits(longestCutShort), "the cut-short bytes do not fit");
TerminalNegotiation negotiation;
InputDecoder decoder;
std::int64_t lastInputMs = 0;  // when the terminal last sent anything
std::int64_t lastTakenMs = 0;  // when what waited was last taken as a key

// Where keys do not all come as sequences, a lone ESC, or ESC with a key that begins a sequence or
// a string, that has had nothing after it for this long was a key of its own; and the rest of a
// sequence cut short may still come for as long again, no longer: then what comes is typed.
constexpr std::int64_t loneEscapeMs = 100;

// The signals whose handlers give the terminal back.
constexpr int handledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

// Holds the handled signals off while the negotiation's state and the terminal are brought in
// step: a handler between the two would pop flags it has not seen pushed, or pop none of those
// that are.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (const int signal : handledSignals) sigaddset(&held, signal);
        sigprocmask(SIG_BLOCK, &held, &before);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &before, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t before{};
};

// Every handler holds the handled signals off while it runs: a hang-up and the SIGTERM after it
// (a terminal window closing) give the terminal back once, never the one inside the other.
void install(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (const int held : handledSignals) sigaddset(&action.sa_mask, held);
    action.sa_flags = 0;  // no SA_RESTART: a signal interrupts the read
    sigaction(signal, &action, nullptr);
}

// Straight to the terminal, past stdio: safe in a signal handler.
void writeDirect(std::string_view bytes) {
    writeAll(bytes, [](const char* data, std::size_t size) {
        ssize_t written;
        do {
            written = ::write(outputFd, data, size);
        } while (written < 0 && errno == EINTR);
        return written;
    });
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

// The modes back as they were, once the hand-back bytes are out. TCSAFLUSH drops typed-ahead
// keys so they never reach the shell.
void restoreModes() {
    ::tcdrain(outputFd);
    swallowInput();
    ::tcsetattr(inputFd, TCSAFLUSH, &savedModes);
}

// From a signal handler: only calls that are safe there, straight to the terminal.
void giveBack() {
    if (!terminalOpen) return;
    writeDirect(cutShort.view());
    writeDirect(negotiation.handBack().view());
    restoreModes();
}

// What the negotiation asks for, with its state and the terminal changed together.
void negotiate(const NegotiationStep& step, std::vector<BackendEvent>& events) {
    writeDirect(step.write);
    if (step.releasesReported) events.push_back({BackendEventKind::releasesReported, *step.releasesReported ? 1 : 0});
}

// Back from a suspend: the game's modes again, and what the negotiation asks for.
void enterGameMode(std::vector<BackendEvent>& events) {
    ::tcsetattr(inputFd, TCSANOW, &gameModes);
    const SignalsHeld held;
    negotiate(negotiation.resume(), events);
}

void onEndingSignal(int signal) {
    giveBack();
    terminalOpen = 0;
    std::signal(signal, SIG_DFL);
    // Delivered once this handler returns, with the signal's own status. One held off meanwhile
    // may come first: its handler finds the terminal given back, and ends the game by its own.
    std::raise(signal);
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

// What the signal handlers left to do: back in game mode after a suspend, a resize to look at.
void collectSignalNews(std::vector<BackendEvent>& events) {
    if (resumed) {
        resumed = 0;
        enterGameMode(events);
        events.push_back({BackendEventKind::resumed});
    }
    if (resized) {
        resized = 0;
        events.push_back({BackendEventKind::resized});
    }
}

void translate(const InputEvent& event, std::vector<BackendEvent>& events) {
    switch (event.kind) {
    case InputKind::keyTap: events.push_back({BackendEventKind::keyTap, event.value}); break;
    case InputKind::keyDown: events.push_back({BackendEventKind::keyDown, event.value}); break;
    case InputKind::keyRepeat: events.push_back({BackendEventKind::keyRepeat, event.value}); break;
    case InputKind::keyUp: events.push_back({BackendEventKind::keyUp, event.value}); break;
    case InputKind::focusOut: events.push_back({BackendEventKind::focusLost}); break;
    case InputKind::interrupt: events.push_back({BackendEventKind::interrupt}); break;
    case InputKind::suspend:
        // Ctrl+Z reported as a key: stop as the signal would, and go on when continued
        std::raise(SIGTSTP);
        collectSignalNews(events);
        break;
    case InputKind::protocolReply:
    case InputKind::numLockModeReply: {
        const SignalsHeld held;
        negotiate(negotiation.answer(event), events);
        break;
    }
    }
}

void drainWakePipe() {
    char bytes[64];
    while (::read(wakePipe[0], bytes, sizeof bytes) > 0) {}
}
}  // namespace

namespace backend {

BackendOpening open(const ScreenLayout&, std::string_view cutShortBytes) {
    if (!::isatty(inputFd) || !::isatty(outputFd)) {
        throw std::runtime_error("standard input and output must be a terminal");
    }
    if (::tcgetattr(inputFd, &savedModes) != 0) throw std::runtime_error("cannot read the terminal's modes");
    if (wakePipe[0] < 0) {
        if (::pipe(wakePipe) != 0) throw std::runtime_error("cannot create a pipe");
        for (const int fd : wakePipe) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    cutShort.assign(cutShortBytes);

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

    terminalOpen = 1;
    ::tcsetattr(inputFd, TCSANOW, &gameModes);
    return {TerminalNegotiation::opening(), false, true};
}

void setCutShort(std::string_view bytes) {
    const SignalsHeld held;  // a handler never sees it half written
    cutShort.assign(bytes);
}

void close() {
    if (!terminalOpen) return;
    // Held off until the terminal is given back whole: a signal meanwhile must not add the
    // cut-short cursor move to a quit. It is taken afterwards, by its default action.
    const SignalsHeld held;
    // in the same write as the game's last screen
    const FixedBytes bytes = negotiation.handBack();
    std::fwrite(bytes.data, 1, bytes.size, stdout);
    std::fflush(stdout);
    restoreModes();
    terminalOpen = 0;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT, SIGWINCH}) {
        std::signal(signal, SIG_DFL);
    }
}

void closeCutShort() {
    const SignalsHeld held;
    giveBack();
    terminalOpen = 0;
}

std::optional<ScreenSize> windowSize() {
    winsize size{};
    if (::ioctl(outputFd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) return std::nullopt;
    return ScreenSize{size.ws_col, size.ws_row};
}

void read(std::vector<BackendEvent>& events, std::optional<int> timeoutMs) {
    collectSignalNews(events);
    if (!events.empty()) return;

    int waitMs = timeoutMs.value_or(-1);
    const bool mayGiveUp = decoder.pendingMayBeAKey() && !negotiation.keysComeAsSequences();
    const std::int64_t givenUpMs = std::max(lastInputMs, lastTakenMs) + loneEscapeMs;
    if (mayGiveUp) {
        const auto untilGivenUp = static_cast<int>(std::max<std::int64_t>(0, givenUpMs - clockMs()));
        if (waitMs < 0 || waitMs > untilGivenUp) waitMs = untilGivenUp;
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(inputFd, &readable);
    FD_SET(wakePipe[0], &readable);
    timeval limit{waitMs / 1000, static_cast<suseconds_t>(waitMs % 1000) * 1000};
    const int highest = inputFd > wakePipe[0] ? inputFd : wakePipe[0];
    const int ready = ::select(highest + 1, &readable, nullptr, nullptr, waitMs < 0 ? nullptr : &limit);
    if (ready <= 0) {
        // a signal, or the time is up: a lone ESC quiet for long enough was a key of its own
        if (mayGiveUp && clockMs() >= givenUpMs) {
            decoder.takePendingAsAKey();
            lastTakenMs = clockMs();
        }
        collectSignalNews(events);
        return;
    }
    if (FD_ISSET(wakePipe[0], &readable)) drainWakePipe();
    collectSignalNews(events);
    if (!FD_ISSET(inputFd, &readable)) return;

    char bytes[512];
    ssize_t count;
    do {
        count = ::read(inputFd, bytes, sizeof bytes);
    } while (count < 0 && errno == EINTR);
    // The terminal going away ends the game rather than being read again and again.
    if (count <= 0) throw EarlyEnd{1, "the terminal has gone away", HandBack::belowLayout};
    lastInputMs = clockMs();
    for (const InputEvent& event : decoder.feed({bytes, static_cast<std::size_t>(count)})) translate(event, events);
}

std::int64_t clockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void endByInterrupt() {
    // The default action, so the shell or script around the game sees an interrupt.
    std::signal(SIGINT, SIG_DFL);
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    sigprocmask(SIG_UNBLOCK, &interrupt, nullptr);
    std::raise(SIGINT);
    std::_Exit(130);  // SIGINT was ignored by whoever started us: the shell's status for it
}

}  // namespace backend

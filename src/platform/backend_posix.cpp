// The POSIX terminal backend: the terminal's modes, the keyboard protocol's negotiation, focus and
// paste reports, the signals that end, suspend and resize, the blocking read, the give-back.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

#include "platform/backend.h"
#include "platform/input_decoder.h"

namespace {
constexpr int inputFd = STDIN_FILENO;
constexpr int outputFd = STDOUT_FILENO;

// Kept static and plain so the signal handlers can give the terminal back with safe calls only.
termios savedModes;
termios gameModes;
volatile std::sig_atomic_t terminalOpen = 0;
volatile std::sig_atomic_t speaksProtocol = 0;  // the terminal answered the keyboard flags query
volatile std::sig_atomic_t flagsPushed = 0;     // our keyboard flags are in force, to be popped
volatile std::sig_atomic_t numLockWasOn = 0;    // xterm's NumLock mode was set; we reset it
bool numLockAnswered = false;                   // the NumLock mode question had its answer
volatile std::sig_atomic_t resumed = 0;         // back from a suspend: re-enter game mode
volatile std::sig_atomic_t resized = 0;
int wakePipe[2] = {-1, -1};  // signal handlers write a byte here to wake the read
char cutShort[64] = "";      // what goes out before the modes when the game is cut short
std::size_t cutShortLength = 0;

// The key-release protocol: disambiguate, event types, alternate keys, all keys as escape codes.
// The flags are asked for again at once: a terminal may honour only some of them.
constexpr char pushFlags[] = "\x1b[>15u\x1b[?u";
constexpr char popFlags[] = "\x1b[<u";
constexpr std::int32_t eventTypesFlag = 2;
// The keypad in application mode (its digits then differ from the main row's), focus reports
// (CSI I and CSI O) and bracketed paste; and all three off again.
constexpr char reportsOn[] = "\x1b=\x1b[?1004h\x1b[?2004h";
constexpr char reportsOff[] = "\x1b>\x1b[?1004l\x1b[?2004l";
// xterm sends a keypad digit with NumLock on as the main row's digit, application mode or not,
// unless its NumLock mode (1035) is reset. Its state is asked (DECRQM) so it can be set back.
constexpr char numLockModeOff[] = "\x1b[?1035l";
constexpr char numLockModeOn[] = "\x1b[?1035h";
constexpr std::int32_t modeSet = 1;  // DECRQM's answer for a mode that is set and can be reset
// The questions: xterm's NumLock mode, and the keyboard flags, which only a terminal that
// reports key releases answers. Nothing waits for the answers: they are taken when they come.
constexpr char numLockQuery[] = "\x1b[?1035$p";
constexpr char flagsQuery[] = "\x1b[?u";

// An escape sequence cut short waits this long for its rest; then a lone ESC was the Escape key.
constexpr int sequenceWaitMs = 100;

InputDecoder decoder;

void install(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a signal interrupts the read
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

// The bytes that give the keyboard and the reports back as they were; safe in a signal handler.
std::size_t handBackBytes(char (&out)[64]) {
    std::size_t length = 0;
    auto add = [&](const char* bytes) {
        while (*bytes != '\0' && length < sizeof out) out[length++] = *bytes++;
    };
    if (flagsPushed) add(popFlags);
    add(reportsOff);
    if (numLockWasOn) add(numLockModeOn);
    flagsPushed = 0;
    return length;
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
    writeAll(cutShort, cutShortLength);
    char bytes[64];
    writeAll(bytes, handBackBytes(bytes));
    restoreModes();
}

void pushOurFlags() {
    writeLiteral(pushFlags);
    flagsPushed = 1;
}

// Back from a suspend. Idempotent: a SIGCONT without our suspend before it (after SIGSTOP, or
// sent alone) finds the flags still pushed and must not push them twice. An answer that had not
// been read when the game stopped went with the keys the suspend drops, or to the shell: what is
// still unanswered is asked again, and the flags in force are asked for again, so that key
// releases are followed once more.
void enterGameMode() {
    ::tcsetattr(inputFd, TCSANOW, &gameModes);
    writeLiteral(reportsOn);
    if (numLockWasOn) writeLiteral(numLockModeOff);
    if (!numLockAnswered) writeLiteral(numLockQuery);
    if (speaksProtocol && !flagsPushed) {
        pushOurFlags();
    } else {
        writeLiteral(flagsQuery);
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

// What the signal handlers left to do: back in game mode after a suspend, a resize to look at.
void takeSignalFlags(std::vector<BackendEvent>& events) {
    if (resumed) {
        resumed = 0;
        enterGameMode();
        // the flags were pushed again: presses are whole taps until the terminal confirms them
        if (flagsPushed) events.push_back({BackendEventKind::releasesReported, 0});
        events.push_back({BackendEventKind::resumed});
    }
    if (resized) {
        resized = 0;
        events.push_back({BackendEventKind::resized});
    }
}

// The terminal's answers, whenever they come. The first flags reply says the terminal speaks the
// key-release protocol: our flags go in, with the question again. Each answer after a push says
// which flags are in force: releases are followed only while event types are among them.
void takeReply(const InputEvent& event, std::vector<BackendEvent>& events) {
    if (event.kind == InputKind::protocolReply) {
        if (!speaksProtocol) {
            speaksProtocol = 1;
            pushOurFlags();
        } else if (flagsPushed) {
            events.push_back({BackendEventKind::releasesReported, (event.value & eventTypesFlag) != 0 ? 1 : 0});
        }
    } else if (event.kind == InputKind::numLockModeReply) {
        numLockAnswered = true;
        if (event.value == modeSet && !numLockWasOn) {
            numLockWasOn = 1;
            writeLiteral(numLockModeOff);
        }
    }
}

void take(const InputEvent& event, std::vector<BackendEvent>& events) {
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
        takeSignalFlags(events);
        break;
    default: takeReply(event, events); break;
    }
}

void drainWakePipe() {
    char bytes[64];
    while (::read(wakePipe[0], bytes, sizeof bytes) > 0) {}
}
}  // namespace

namespace backend {

BackendOpening open(ScreenSize, std::string_view cutShortBytes) {
    if (!::isatty(inputFd) || !::isatty(outputFd)) {
        throw std::runtime_error("standard input and output must be a terminal");
    }
    if (::tcgetattr(inputFd, &savedModes) != 0) throw std::runtime_error("cannot read the terminal's modes");
    if (wakePipe[0] < 0) {
        if (::pipe(wakePipe) != 0) throw std::runtime_error("cannot create a pipe");
        for (const int fd : wakePipe) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    cutShortLength = std::min(cutShortBytes.size(), sizeof cutShort);
    std::memcpy(cutShort, cutShortBytes.data(), cutShortLength);

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
    return {std::string(reportsOn) + numLockQuery + flagsQuery, false, true};
}

void close(std::string_view lastBytes) {
    if (!terminalOpen) return;
    // in the same write as the game's last screen
    char bytes[64];
    const std::size_t length = handBackBytes(bytes);
    std::fwrite(lastBytes.data(), 1, lastBytes.size(), stdout);
    std::fwrite(bytes, 1, length, stdout);
    std::fflush(stdout);
    restoreModes();
    terminalOpen = 0;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT, SIGWINCH}) {
        std::signal(signal, SIG_DFL);
    }
}

void write(std::string_view bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

std::optional<ScreenSize> windowSize() {
    winsize size{};
    if (::ioctl(outputFd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) return std::nullopt;
    return ScreenSize{size.ws_col, size.ws_row};
}

void read(std::vector<BackendEvent>& events, std::optional<int> timeoutMs) {
    takeSignalFlags(events);
    if (!events.empty()) return;

    int waitMs = timeoutMs.value_or(-1);
    if (decoder.hasPending() && (waitMs < 0 || waitMs > sequenceWaitMs)) waitMs = sequenceWaitMs;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(inputFd, &readable);
    FD_SET(wakePipe[0], &readable);
    timeval limit{waitMs / 1000, static_cast<suseconds_t>(waitMs % 1000) * 1000};
    const int highest = inputFd > wakePipe[0] ? inputFd : wakePipe[0];
    const int ready = ::select(highest + 1, &readable, nullptr, nullptr, waitMs < 0 ? nullptr : &limit);
    if (ready <= 0) {
        // a signal (its flags are taken below), or the time is up: a sequence still cut short
        // was a lone Escape key
        if (ready == 0 && decoder.hasPending()) decoder.dropPending();
        takeSignalFlags(events);
        return;
    }
    if (FD_ISSET(wakePipe[0], &readable)) drainWakePipe();
    takeSignalFlags(events);
    if (!FD_ISSET(inputFd, &readable)) return;

    char bytes[512];
    ssize_t count;
    do {
        count = ::read(inputFd, bytes, sizeof bytes);
    } while (count < 0 && errno == EINTR);
    // The terminal going away ends the game rather than being read again and again.
    if (count <= 0) throw EarlyEnd{1, "the terminal has gone away", HandBack::belowLayout};
    for (const InputEvent& event : decoder.feed({bytes, static_cast<std::size_t>(count)})) take(event, events);
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

// What the game tells a terminal about its keyboard and what the terminal's answers mean: the
// keyboard flags pushed and verified, xterm's NumLock mode asked and set back, the reports on and
// off, answers taken whenever they come and asked again after a suspend. A pure function of the
// answers: the backend writes the bytes it is given.
#pragma once

#include <csignal>
#include <optional>
#include <string>
#include <string_view>

#include "platform/fixed_bytes.h"
#include "platform/posix/input_decoder.h"

// What an answer or a resume asks of the backend.
struct NegotiationStep {
    std::string write;                     // to the terminal, now
    std::optional<bool> releasesReported;  // news for the key model, if any
    bool operator==(const NegotiationStep&) const = default;
};

class TerminalNegotiation {
public:
    // The reports on and the questions, sent with the first screen; nothing waits for the answers.
    [[nodiscard]] static std::string opening();

    // A reply the decoder found in the input (the keyboard flags, xterm's NumLock mode). The
    // first flags reply says the terminal speaks the key-release protocol: our flags go in, with
    // the question again. Each answer after a push says which flags are in force: releases are
    // followed only while event types are among them.
    NegotiationStep answer(const InputEvent& reply);

    // The terminal is the game's again after a suspend (or a continue with no suspend before it,
    // which finds the flags still pushed and must not push them twice). What was unanswered is
    // asked again; pushed again, the flags are unconfirmed until the terminal answers.
    NegotiationStep resume();

    // What gives the keyboard and the reports back as they were; the flags count as popped from
    // then on. Safe in a signal handler: no allocation, and the state it reads and writes is
    // volatile sig_atomic_t. The backend holds its signals off around every other call that
    // changes the state, and each of its handlers holds off the others, so no handler sees the
    // state half changed.
    FixedBytes handBack();

    // Has the terminal confirmed the key-release protocol? Then every key comes as a whole
    // sequence (Escape as CSI 27 u), and a sequence begun is always finished, however late.
    [[nodiscard]] bool keysComeAsSequences() const { return confirmed != 0; }

private:
    bool speaksProtocol = false;   // the terminal answered the flags question
    bool numLockAnswered = false;  // the NumLock mode question had its answer
    // What handBack reads and writes, also from a signal handler.
    volatile std::sig_atomic_t flagsPushed = 0;   // our flags are in force, to be popped
    volatile std::sig_atomic_t numLockWasOn = 0;  // xterm's NumLock mode was set; we reset it
    volatile std::sig_atomic_t confirmed = 0;     // flags with event types confirmed since the last push

    std::string push();
};

// The negotiation with the terminal: the bytes of each question and mode, and what each answer
// leads to.
#include "platform/posix/terminal_negotiation.h"

#include <cstdint>

namespace {
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
// reports key releases answers.
constexpr char numLockQuery[] = "\x1b[?1035$p";
constexpr char flagsQuery[] = "\x1b[?u";
}  // namespace

std::string TerminalNegotiation::opening() { return std::string(reportsOn) + numLockQuery + flagsQuery; }

std::string TerminalNegotiation::push() {
    flagsPushed = 1;
    confirmed = 0;
    return pushFlags;
}

NegotiationStep TerminalNegotiation::answer(const InputEvent& reply) {
    NegotiationStep step;
    if (reply.kind == InputKind::protocolReply) {
        if (!speaksProtocol) {
            speaksProtocol = true;
            step.write = push();
        } else if (flagsPushed != 0) {
            const bool withEventTypes = (reply.value & eventTypesFlag) != 0;
            confirmed = withEventTypes ? 1 : 0;
            step.releasesReported = withEventTypes;
        }
    } else if (reply.kind == InputKind::numLockModeReply) {
        numLockAnswered = true;
        if (reply.value == modeSet && numLockWasOn == 0) {
            numLockWasOn = 1;
            step.write = numLockModeOff;
        }
    }
    return step;
}

NegotiationStep TerminalNegotiation::resume() {
    NegotiationStep step{reportsOn, std::nullopt};
    if (numLockWasOn != 0) step.write += numLockModeOff;
    if (!numLockAnswered) step.write += numLockQuery;
    step.write += speaksProtocol && flagsPushed == 0 ? push() : flagsQuery;
    if (flagsPushed != 0) step.releasesReported = false;
    confirmed = 0;
    return step;
}

FixedBytes TerminalNegotiation::handBack() {
    static_assert(FixedBytes::fits(popFlags, reportsOff, numLockModeOn), "the hand-back bytes do not fit");
    FixedBytes bytes;
    if (flagsPushed != 0) bytes.append(popFlags);
    bytes.append(reportsOff);
    if (numLockWasOn != 0) bytes.append(numLockModeOn);
    flagsPushed = 0;
    confirmed = 0;
    return bytes;
}

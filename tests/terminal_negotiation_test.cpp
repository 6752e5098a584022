// The negotiation with a terminal, on the byte strings a terminal answers with: flags pushed and
// verified, honoured in part, answers late or lost to a suspend, xterm's NumLock mode, the
// hand-back.
#include "platform/posix/terminal_negotiation.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {
const std::string opening = "\x1b=\x1b[?1004h\x1b[?2004h\x1b[?1035$p\x1b[?u";
const std::string reportsOn = "\x1b=\x1b[?1004h\x1b[?2004h";
const std::string reportsOff = "\x1b>\x1b[?1004l\x1b[?2004l";
const std::string push = "\x1b[>15u\x1b[?u";
const std::string pop = "\x1b[<u";

// The terminal's bytes through the decoder into the negotiation, as the backend does: what the
// negotiation writes back, and its news about key releases, in order.
struct Talk {
    TerminalNegotiation negotiation;
    InputDecoder decoder;
    std::vector<std::optional<bool>> news;

    std::string hear(std::string_view bytes) {
        std::string written;
        for (const InputEvent& event : decoder.feed(bytes)) {
            if (event.kind != InputKind::protocolReply && event.kind != InputKind::numLockModeReply) continue;
            const NegotiationStep step = negotiation.answer(event);
            written += step.write;
            if (step.releasesReported) news.push_back(step.releasesReported);
        }
        return written;
    }
    std::string resume() {
        const NegotiationStep step = negotiation.resume();
        if (step.releasesReported) news.push_back(step.releasesReported);
        return step.write;
    }
    std::string handBack() { return std::string(negotiation.handBack().view()); }
};

// The hand-back bytes are kept in place for signal handlers; a caller's check at compile time
// says whether its longest bytes fit, counted without the literals' ends.
static_assert(FixedBytes::fits(FixedBytes::capacity) && !FixedBytes::fits(FixedBytes::capacity + 1));
static_assert(FixedBytes::fits("01234567890123456789012345678901", "01234567890123456789012345678901"));
static_assert(!FixedBytes::fits("01234567890123456789012345678901", "012345678901234567890123456789012"));
}  // namespace

TEST(TerminalNegotiation, FlagsArePushedOnceVerifiedAndPoppedOnce) {
    Talk kitty;
    EXPECT_EQ(TerminalNegotiation::opening(), opening);
    // the answer comes with keys typed before it: the flags go in, asked for again
    EXPECT_EQ(kitty.hear("1\r\x1b[?0u"), push);
    EXPECT_FALSE(kitty.negotiation.keysComeAsSequences());
    EXPECT_EQ(kitty.hear("\x1b[?15u"), "");
    EXPECT_EQ(kitty.news, (std::vector<std::optional<bool>>{true}));
    EXPECT_TRUE(kitty.negotiation.keysComeAsSequences());
    EXPECT_EQ(kitty.hear("\x1b[?15u"), "");  // a second answer pushes nothing more
    EXPECT_EQ(kitty.handBack(), pop + reportsOff);
    EXPECT_EQ(kitty.handBack(), reportsOff);  // never popped twice
    EXPECT_FALSE(kitty.negotiation.keysComeAsSequences());

    // honoured in part: without event types releases are not followed, but the flags are popped
    for (const char* honoured : {"\x1b[?9u", "\x1b[?13u"}) {
        Talk partial;
        EXPECT_EQ(partial.hear("\x1b[?0u"), push);
        EXPECT_EQ(partial.hear(honoured), "");
        EXPECT_EQ(partial.news, (std::vector<std::optional<bool>>{false}));
        EXPECT_FALSE(partial.negotiation.keysComeAsSequences());
        EXPECT_EQ(partial.handBack(), pop + reportsOff);
    }

    // a terminal that answers nothing gets nothing pushed
    Talk legacy;
    EXPECT_EQ(legacy.hear("12q\r\x1b[A"), "");
    EXPECT_EQ(legacy.handBack(), reportsOff);
}

TEST(TerminalNegotiation, AfterASuspendWhatWasUnansweredIsAskedAgainAndTheFlagsPushedAgain) {
    // stopped before any answer came: the answers went to the shell, the questions go again
    Talk early;
    EXPECT_EQ(early.handBack(), reportsOff);
    EXPECT_EQ(early.resume(), reportsOn + "\x1b[?1035$p\x1b[?u");
    EXPECT_EQ(early.hear("\x1b[?1035;2$y\x1b[?0u"), push);
    EXPECT_EQ(early.resume(), reportsOn + "\x1b[?u");  // a continue with no stop: no second push
    EXPECT_EQ(early.news, (std::vector<std::optional<bool>>{false}));

    // stopped with the flags confirmed: pushed again, unconfirmed until the terminal answers
    Talk kitty;
    kitty.hear("\x1b[?1035;0$y\x1b[?0u\x1b[?15u");
    EXPECT_EQ(kitty.handBack(), pop + reportsOff);
    EXPECT_EQ(kitty.resume(), reportsOn + push);
    EXPECT_FALSE(kitty.negotiation.keysComeAsSequences());
    EXPECT_EQ(kitty.hear("\x1b[?15u"), "");
    EXPECT_EQ(kitty.news, (std::vector<std::optional<bool>>{true, false, true}));
    EXPECT_EQ(kitty.handBack(), pop + reportsOff);
}

TEST(TerminalNegotiation, XtermsNumLockModeIsResetWhileTheGamePlaysAndSetBackAfter) {
    Talk xterm;
    EXPECT_EQ(xterm.hear("\x1b[?1035;1$y"), "\x1b[?1035l");
    EXPECT_EQ(xterm.hear("\x1b[?1035;1$y"), "");  // a late second answer resets nothing twice
    EXPECT_EQ(xterm.handBack(), reportsOff + "\x1b[?1035h");
    EXPECT_EQ(xterm.resume(), reportsOn + "\x1b[?1035l\x1b[?u");  // answered: not asked again
    EXPECT_EQ(xterm.handBack(), reportsOff + "\x1b[?1035h");

    // a mode that is reset, or one xterm cannot change, is left alone
    for (const char* state : {"\x1b[?1035;2$y", "\x1b[?1035;0$y", "\x1b[?1035;3$y"}) {
        Talk other;
        EXPECT_EQ(other.hear(state), "");
        EXPECT_EQ(other.handBack(), reportsOff);
    }
}

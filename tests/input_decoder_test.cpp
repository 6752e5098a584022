// Unit tests of the input decoder: legacy bytes, skipped sequences, kitty key reports, split reads.
#include "platform/posix/input_decoder.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

using namespace std::string_literals;

// gtest finds this by argument-dependent lookup, so failures show "keyDown 49", not raw bytes.
void PrintTo(const InputEvent& event, std::ostream* os) {
    static constexpr const char* names[] = {"keyTap",    "keyDown", "keyRepeat",     "keyUp",           "focusOut",
                                            "interrupt", "suspend", "protocolReply", "numLockModeReply"};
    *os << names[static_cast<int>(event.kind)] << ' ' << event.value;
}

namespace {

using Events = std::vector<InputEvent>;

InputEvent tap(std::int32_t vk) { return {InputKind::keyTap, vk}; }
InputEvent down(std::int32_t vk) { return {InputKind::keyDown, vk}; }
InputEvent repeat(std::int32_t vk) { return {InputKind::keyRepeat, vk}; }
InputEvent up(std::int32_t vk) { return {InputKind::keyUp, vk}; }
const InputEvent focusOut{InputKind::focusOut, 0};
const InputEvent interrupt{InputKind::interrupt, 0};
const InputEvent suspend{InputKind::suspend, 0};
InputEvent protocolReply(std::int32_t flags) { return {InputKind::protocolReply, flags}; }
InputEvent numLockMode(std::int32_t state) { return {InputKind::numLockModeReply, state}; }

void append(Events& all, const Events& some) { all.insert(all.end(), some.begin(), some.end()); }

Events decode(std::string_view bytes) {
    InputDecoder decoder;
    return decoder.feed(bytes);
}

Events decodeBytewise(std::string_view bytes) {
    InputDecoder decoder;
    Events all;
    for (const char byte : bytes) {
        append(all, decoder.feed(std::string_view(&byte, 1)));
    }
    return all;
}

struct Case {
    std::string bytes;
    Events expected;
};

// Each case is decoded whole and one byte per read: both must give the expected events.
void expectCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.bytes.substr(0, 100)));
        EXPECT_EQ(decode(c.bytes), c.expected);
        EXPECT_EQ(decodeBytewise(c.bytes), c.expected);
    }
}

bool isGameKey(std::int32_t vk) { return vk == 13 || vk == 81 || (vk >= 48 && vk <= 57); }

bool isSane(const InputEvent& event) {
    switch (event.kind) {
    case InputKind::keyTap:
    case InputKind::keyDown:
    case InputKind::keyRepeat:
    case InputKind::keyUp: return isGameKey(event.value);
    case InputKind::focusOut:
    case InputKind::interrupt:
    case InputKind::suspend: return event.value == 0;
    case InputKind::protocolReply:
    case InputKind::numLockModeReply: return event.value >= 0;
    }
    return false;
}

// One of every kind of input, in an order where each piece ends right where the next begins
// to matter: a split anywhere in it lands inside every kind of sequence at every offset.
const std::string mixedInput =
    "1\r\n2\n\n"
    "\033[A\033[15~\033[<0;10;5M\033[M 12"
    "\0331\033\033[B\033OM\033Op"
    "\033]0;title 42\a\033P1$r0m\033\\"
    "\033[200~9q\r\033[99;5u\033[201~"
    "\033[49u\033[49;1:3u\033[38::50;129u"
    "\033[99;5u\033[99;5:3u\033[122;5u"
    "\033[?11u\033[?62;c\033[113:81;2u"
    "\033[12\r\n\x03\x1a"
    "Q\033";

const Events mixedEvents{
    tap(49),           tap(13),  tap(50),  tap(13), tap(13),  // legacy keys
    tap(49),                                                  // Alt+1
    tap(13),                                                  // keypad Enter (ESC O M)
    down(49),          up(49),   down(50),                    // kitty keys
    interrupt,         suspend,                               // kitty Ctrl+C and Ctrl+Z presses
    protocolReply(11), down(81),                              // a reply, a device reply, Shift+q
    tap(13),                                                  // Enter ending an abandoned CSI
    interrupt,         suspend,  tap(81),                     // raw control bytes and Q
};

}  // namespace

TEST(InputDecoder, LegacyBytesAreKeysOnlyForTheGamesKeys) {
    expectCases({
        {"0123456789", {tap(48), tap(49), tap(50), tap(51), tap(52), tap(53), tap(54), tap(55), tap(56), tap(57)}},
        {"qQ", {tap(81), tap(81)}},
        {"\x03", {interrupt}},
        {"\x1a", {suspend}},
        {"abcxyzAZ wW", {}},
        {"!@#$%^&*()-=+[]{};:'\",.<>/?\\|`~", {}},
        {"\t\b\x7f\x01\x02\x04\x11\x13\x1c\x1f"s + '\0', {}},
        // UTF-8 and Latin-1 bytes, one of them a digit with the high bit set
        {"\xc3\xa9\xe2\x82\xac\xb1\xf1\xff", {}},
        {"a1b\x03q", {tap(49), interrupt, tap(81)}},
    });
}

TEST(InputDecoder, CarriageReturnLineFeedIsOneEnter) {
    expectCases({
        {"\r", {tap(13)}},
        {"\n", {tap(13)}},
        {"\r\n", {tap(13)}},
        {"\n\n", {tap(13), tap(13)}},
        {"\r\r", {tap(13), tap(13)}},
        {"\n\r", {tap(13), tap(13)}},
        {"\r\r\n", {tap(13), tap(13)}},
        {"\r\n\n", {tap(13), tap(13)}},
        {"\r\n\r\n", {tap(13), tap(13)}},
        {"\r1\n", {tap(13), tap(49), tap(13)}},
        // anything in between, even a whole sequence, makes the LF a second Enter
        {"\r\033[A\n", {tap(13), tap(13)}},
        // Alt+Enter then LF, and an Enter that cut a CSI short
        {"\033\r\n", {tap(13)}},
        {"\033[1\r\n", {tap(13)}},
    });

    InputDecoder decoder;
    EXPECT_EQ(decoder.feed("\r"), Events{tap(13)});
    EXPECT_EQ(decoder.feed("\n"), Events{});
    EXPECT_EQ(decoder.feed("\n"), Events{tap(13)});
}

TEST(InputDecoder, EscapeKeyAndAltCombinations) {
    expectCases({
        {"\0331", {tap(49)}},
        {"\033\r", {tap(13)}},
        {"\033q", {tap(81)}},
        {"\033a", {}},
        {"\033\0332", {tap(50)}},
        {"\033\033\033[A3", {tap(51)}},
        {"\033\x03", {interrupt}},
    });
}

TEST(InputDecoder, EscapeSequencesAreNeverKeys) {
    // Each is followed by '7' to show the decoder is back to reading keys right after it.
    const std::vector<std::string> sequences{
        // CSI: cursor and function keys, mouse, focus, reports, xterm's modifyOtherKeys
        "\033[A",
        "\033[1;5A",
        "\033[1;1:3A",
        "\033[15~",
        "\033[3;5~",
        "\033[<0;10;5M",
        "\033[<0;10;5m",
        "\033[I",
        "\033[12;40R",
        "\033[?1;2$y",
        "\033[27;5;13~",
        "\033[49~",
        "\033[1M",
        // SS3: application keypad digits, F1-F4, application cursor keys
        "\033Op",
        "\033Oq",
        "\033Or",
        "\033Os",
        "\033Ot",
        "\033Ou",
        "\033Ov",
        "\033Ow",
        "\033Ox",
        "\033Oy",
        "\033OP",
        "\033OS",
        "\033OA",
        "\033O5P",
        "\033O1;2Q",
        // strings, with digits and q inside; BEL ends only the OSC
        "\033]0;title 42 q\a",
        "\033]10;rgb:1234/5678/9abc\033\\",
        "\033P1+r544e=787465726d\033\\",
        "\033P1\a23\033\\",
        "\033_Gi=31;OK\033\\",
        "\033^private 9\033\\",
        "\033Xstart 8\r\033\\",
        // X10 mouse: three raw bytes, whatever they look like
        "\033[M 12",
        "\033[M\033\033\033",
        "\033[M\r\n\x03",
        "\033[Mq5\x1a",
        "\033[M\xff\x80\x00"s,
    };
    std::vector<Case> cases;
    cases.reserve(sequences.size());
    for (const std::string& sequence : sequences) {
        cases.push_back({sequence + "7", {tap(55)}});
    }
    expectCases(cases);
}

TEST(InputDecoder, KeypadEnterIsEnterAndKeypadDigitsAreNothing) {
    expectCases({
        {"\033OM", {tap(13)}},
        {"\033O2M\033O5M", {tap(13), tap(13)}},  // with Shift, with Ctrl: still Enter
        {"\033Oq\033Op\033Oy\033Ol\033Om\033On", {}},
        {"1\033OM\033Oq2", {tap(49), tap(13), tap(50)}},
    });
}

TEST(InputDecoder, CutShortSequencesGiveWayToWhatFollows) {
    expectCases({
        {"\033[12\r", {tap(13)}},
        {"\033[1;\x03", {interrupt}},
        {"\033[1\x1a", {suspend}},
        {"\033[?62;\n", {tap(13)}},
        {"\033[12\0335", {tap(53)}},      // the ESC begins Alt+5
        {"\033[12\033[49u", {down(49)}},  // the ESC begins a new CSI
        {"\033[\xc3\xa9"
         "1",
         {tap(49)}},
        {"\033O\r", {tap(13)}},  // the same inside SS3
        {"\033O12\0339", {tap(57)}},
        {"\033O 3", {tap(51)}},
        // the X10 report needs the bare CSI M: with parameters the bytes after it are keys
        {"\033[1M123", {tap(49), tap(50), tap(51)}},
        // an ESC inside a string that is not its terminator ends the string and begins anew
        {"\033]0;title\033[49u", {down(49)}},
        {"\033P1$r\0337", {tap(55)}},
        {"\033_ab\033\033\\6", {tap(54)}},
    });
}

TEST(InputDecoder, BracketedPasteIsNotTyped) {
    expectCases({
        {"\033[200~12q\r\n\x03\x1a\033[49u\033[99;5u\033[13;1:3u\033[201~3", {tap(51)}},
        // sequences inside are still read whole, so a digit in one cannot end the paste
        {"\033[200~\033[A1\033]0;x\a\033[M\033[2\033[201~\r", {tap(13)}},
        // replies inside a paste are pasted text too
        {"\033[200~\033[?11u\033[?62;c\033[201~", {}},
        {"\033[200~1\033[200~2\033[201~3", {tap(51)}},
        {"\033[201~4", {tap(52)}},
        {"5\033[200~6", {tap(53)}},
    });

    InputDecoder decoder;
    EXPECT_EQ(decoder.feed("\033[20"), Events{});
    EXPECT_EQ(decoder.feed("0~1"), Events{});
    EXPECT_EQ(decoder.feed("q\033[2"), Events{});
    EXPECT_EQ(decoder.feed("01"), Events{});
    EXPECT_EQ(decoder.feed("~2"), Events{tap(50)});
}

// A slow link cuts key events anywhere, and the rest comes however late. Where keys do not all
// come as sequences, a wait that may be a key of its own (a lone ESC, Alt with a key that begins
// a string) ends when the input is quiet: the rest of a cut sequence is still dropped, never typed.
TEST(InputDecoder, ASequenceCutAnywhereIsNeverTyped) {
    const std::vector<Case> sequences{
        {"\033[57;1:3u", {up(57)}},  // the release of 9
        {"\033[49;129u", {down(49)}},
        {"\033[13;1:2u", {repeat(13)}},
        {"\033[?15u", {protocolReply(15)}},
        {"\033[?1035;1$y", {numLockMode(1)}},
        {"\033[1;2B", {}},
        {"\033Oq", {}},
        {"\033OM", {tap(13)}},
        {"\033[O", {focusOut}},
        {"\033[200~12\r\033[201~", {}},
    };
    for (const Case& c : sequences) {
        for (std::size_t cut = 1; cut < c.bytes.size(); ++cut) {
            SCOPED_TRACE(::testing::PrintToString(c.bytes) + " cut at " + std::to_string(cut));
            for (const bool quietEndsAWait : {false, true}) {
                InputDecoder decoder;
                Events events = decoder.feed(c.bytes.substr(0, cut));
                if (quietEndsAWait && decoder.pendingMayBeAKey()) decoder.takePendingAsAKey();
                append(events, decoder.feed(c.bytes.substr(cut)));
                append(events, decoder.feed("5"));
                Events expected = c.expected;
                expected.push_back(tap(53));
                EXPECT_EQ(events, expected) << (quietEndsAWait ? "the wait ended" : "no end to the wait");
            }
        }
    }

    // What may be a key: a lone ESC, and Alt+[, Alt+O, Alt+] or Alt+P, which begin sequences and
    // strings; the keys after them count once the wait ended, and a string's end or the rest of a
    // sequence still do not. Quiet as long again, the rest of a sequence is over too: after Alt+[
    // or an ESC taken as Escape, what is typed later counts.
    struct Wait {
        std::string before;
        bool mayBeAKey;
        std::string after;
        Events expected;
        int takes = 1;
    };
    const std::vector<Wait> waits{
        {"\033", true, "1", {tap(49)}},
        {"\033", true, "[A1", {tap(49)}},
        {"\033", true, "\0331", {tap(49)}},
        {"\033]", true, "1\r", {tap(49), tap(13)}},
        {"\033P", true, "2", {tap(50)}},
        {"\033]0;title\033", true, "[A3", {tap(51)}},
        {"\033[", true, "12;5u4", {tap(52)}},
        {"\033O", true, "p", {}},
        {"\033[M1", false, "231", {tap(49)}},
        {"\033[200~1\033[201", false, "~2", {tap(50)}},
        {"\033[", true, "12", {tap(49), tap(50)}, 2},
        {"\033O", true, "1q", {tap(49), tap(81)}, 2},
        {"\033", true, "[12", {tap(49), tap(50)}, 2},
        {"\033", true, "O1", {tap(49)}, 2},
        {"\033]", true, "1", {tap(49)}, 2},
        {"\033[1", false, "2", {}, 2},  // a sequence begun, however late its end
    };
    for (const Wait& w : waits) {
        SCOPED_TRACE(::testing::PrintToString(w.before + w.after) + " after " + std::to_string(w.takes));
        InputDecoder decoder;
        EXPECT_EQ(decoder.feed(w.before), Events{});
        EXPECT_EQ(decoder.pendingMayBeAKey(), w.mayBeAKey);
        for (int take = 0; take < w.takes; ++take) decoder.takePendingAsAKey();
        EXPECT_EQ(decoder.feed(w.after), w.expected);
    }
    InputDecoder decoder;
    decoder.feed("\033[");
    decoder.takePendingAsAKey();
    EXPECT_TRUE(decoder.pendingMayBeAKey());  // taken, it may wait once more
    decoder.takePendingAsAKey();
    EXPECT_FALSE(decoder.pendingMayBeAKey());
}

TEST(InputDecoder, KittyKeyReports) {
    expectCases({
        // Enter, '1' and a held q exactly as kitty sends them
        {"\033[13u\033[13;1:2u\033[13;1:3u", {down(13), repeat(13), up(13)}},
        {"\033[49u\033[49;1:3u", {down(49), up(49)}},
        {"\033[113u\033[113;1:2u\033[113;1:2u\033[113;1:3u", {down(81), repeat(81), repeat(81), up(81)}},
        {"\033[48u\033[57u\033[57;1:3u", {down(48), down(57), up(57)}},
        // modifiers do not change which key it is
        {"\033[57441u\033[113:81;2u\033[57441;2:3u\033[113;1:3u", {down(81), up(81)}},
        {"\033[113;2u\033[113;5u\033[113;3:3u\033[81u", {down(81), down(81), up(81), down(81)}},
        {"\033[13;5u\033[13;3:3u\033[49;5u", {down(13), up(13), down(49)}},
        // empty and absent fields take their defaults; the text field is ignored
        {"\033[49;u\033[49;:3u\033[49;1:u\033[49:33u", {down(49), up(49), down(49), down(49)}},
        {"\033[113;1:3;113u\033[49;1;49u", {up(81), down(49)}},
        // keys that are not the game's
        {"\033[27u\033[27;1:3u\033[57441u\033[57442;5:3u\033[97u\033[99u\033[122u\033[9u\033[127u", {}},
        {"\033[57399u\033[57400u\033[57408;1:3u\033[57424u\033[57360;129u", {}},
        // the keypad's Enter is ENTER, Num Lock or not
        {"\033[57414u\033[57414;129:2u\033[57414;129:3u", {down(13), repeat(13), up(13)}},
        {"\033[97::98;1:3u\033[1u\033[47u\033[58u", {}},
        // kitty forms of other finals, and other private prefixes with final u
        {"\033[1;1:3A\033[13;1:3~\033[49;5~\033[>15u\033[<u\033[=15;1u\033[<49u", {}},
    });
}

TEST(InputDecoder, KittyDigitsGoByTheirPlaceOnTheMainRow) {
    expectCases({
        // AZERTY: '&' on the '1' key, 'é' on the '2' key
        {"\033[38::49u\033[38::49;1:3u", {down(49), up(49)}},
        {"\033[233::50;1:2u\033[233:201:50;2u", {repeat(50), down(50)}},
        // a '1' that sits somewhere else on the board is not the digit key
        {"\033[49::38u\033[49:33:38;1:3u", {}},
        {"\033[38:49u", {}},
        // the keypad never counts, whatever base key it claims
        {"\033[57400::49u\033[57399::48;129u", {}},
    });
}

TEST(InputDecoder, QAndCtrlCGoByTheLetterTypedOrOnANonLatinLayoutByTheBaseLayoutKey) {
    expectCases({
        // Cyrillic: the Q key types "й", the C key "с"; Greek: the Q key types ";"
        {"\033[1081::113u\033[1081:1049:113;2:3u", {down(81), up(81)}},
        {"\033[1089::99;5u", {interrupt}},
        {"\033[1103::122;5u", {suspend}},
        {"\033[59::113u", {down(81)}},
        // AZERTY: the key that types "q" is Q, the one where Q sits on a US board types "a"
        {"\033[113::97u\033[97::113u\033[97::113;1:3u", {down(81)}},
        {"\033[99::118;5u\033[118::99;5u", {interrupt}},
        // a non-Latin key with no base layout key, or a non-Latin base, is no letter
        {"\033[1081u\033[1081::1081u\033[1089;5u", {}},
    });
}

TEST(InputDecoder, FocusLeavingIsReportedAndFocusComingBackIsNot) {
    expectCases({
        {"\033[O7\033[I8", {focusOut, tap(55), tap(56)}},
        {"\033[49u\033[O\033[49;1:3u", {down(49), focusOut, up(49)}},
        {"\033[200~\033[O\033[201~", {}},  // pasted text, whatever it looks like
        {"\033[1O\033[?O1", {tap(49)}},
    });
}

TEST(InputDecoder, KittyLockBitsAreIgnored) {
    expectCases({
        {"\033[49;129u\033[49;129:3u", {down(49), up(49)}},      // Num Lock
        {"\033[113;65u\033[113;66:2u", {down(81), repeat(81)}},  // Caps Lock, with Shift
        {"\033[113;193u\033[13;129:3u", {down(81), up(13)}},
        {"\033[57400;129u\033[57400;129:3u", {}},
        {"\033[99;69u\033[99;133u\033[99;197u", {interrupt, interrupt, interrupt}},
        {"\033[122;133u", {suspend}},
    });
}

TEST(InputDecoder, KittyCtrlCAndCtrlZ) {
    expectCases({
        // Ctrl+C as kitty sends it: Ctrl down, c with ctrl, Ctrl up, c up without ctrl
        {"\033[57442u\033[99;5u\033[57442;5:3u\033[99;1:3u", {interrupt}},
        {"\033[99;5u\033[99;5:2u\033[99;5:2u\033[99;5:3u", {interrupt}},
        {"\033[122;5u\033[122;5:3u\033[122;1:3u", {suspend}},
        {"\033[99;5;3u", {interrupt}},
        // ctrl together with anything else is not the signal key, nor is c alone
        {"\033[99;6u\033[99;7u\033[99;13u\033[99u\033[99;1:3u\033[122;6u\033[122u", {}},
    });
}

TEST(InputDecoder, TerminalReplies) {
    expectCases({
        {"\033[?0u", {protocolReply(0)}},
        {"\033[?11u", {protocolReply(11)}},
        {"\033[?15u", {protocolReply(15)}},
        // device attributes, which the game does not ask for, are no key
        {"\033[?62;c\033[?64;1;2;6;9;15;16;17;18;21;22;28c", {}},
        // kitty's answers, all in one read
        {"\033[?0u\033[?62;c\033[?11u", {protocolReply(0), protocolReply(11)}},
        // not replies: no '?', the secondary attributes, a malformed flags reply
        {"\033[62;c\033[>1;4000;0c\033[?1;2u\033[?1:2u", {}},
        // xterm's NumLock mode, in each state DECRQM can report; other modes say nothing
        {"\033[?1035;1$y\033[?1035;2$y\033[?1035;0$y", {numLockMode(1), numLockMode(2), numLockMode(0)}},
        {"\033[?1036;1$y\033[1035;1$y\033[?1035;$y\033[?1035;1y\033[?1035;1;2$y\033[?1035$y", {}},
    });
}

TEST(InputDecoder, MalformedNumbersNameNoKey) {
    // Values chosen to read as real keys if they wrapped at 32 or 64 bits: 2^32+49, 2^64+49,
    // 2^32+1, 2^32+11. Each is followed by '5' to show the decoder carries on.
    const std::vector<std::string> malformed{
        "\033[u",
        "\033[;u",
        "\033[;1u",
        "\033[:49u",
        "\033[::49u",
        "\033[4294967345u",
        "\033[18446744073709551665u",
        "\033[1114161u",
        "\033[99999999999999999999999999u",
        "\033[49;4294967297u",
        "\033[49;1:4294967297u",
        "\033[49::4294967345u",
        "\033[38:4294967345:49u",
        "\033[99;4294967301u",
        "\033[?4294967307u",
        "\033[49;1:4u",
        "\033[49;1:0u",
        "\033[49;1;2;3u",
        "\033[49:1:2:3u",
        "\033[49;1:2:3u",
        "\033[49;;;u",
    };
    std::vector<Case> cases;
    cases.reserve(malformed.size());
    for (const std::string& sequence : malformed) {
        cases.push_back({sequence + "5", {tap(53)}});
    }
    expectCases(cases);
}

TEST(InputDecoder, OverlongInputIsSkippedNotBuffered) {
    const std::string csi10k = "\033[" + std::string(10000, '1');
    expectCases({
        // up to 64 bytes of parameters is still a key report; one more and it is not
        {"\033[" + std::string(62, '0') + "49u", {down(49)}},
        {"\033[" + std::string(63, '0') + "49u5", {tap(53)}},
        // what follows the final byte of a huge CSI is read normally
        {csi10k + "u2", {tap(50)}},
        {csi10k + ";:9 ?=\r", {tap(13)}},
        {csi10k + "\r3", {tap(13), tap(51)}},
        {csi10k + "\033[49u", {down(49)}},
        // a paste marker with too many leading zeros starts no paste
        {"\033[" + std::string(70, '0') + "200~1", {tap(49)}},
        {"\033O" + std::string(1000, '1') + "P3", {tap(51)}},
        {"\033]" + std::string(100000, '9') + "\a4", {tap(52)}},
        {"\033P" + std::string(100000, 'q') + "\033\\4", {tap(52)}},
        {"\033[200~" + std::string(100000, '1') + "\033[201~4", {tap(52)}},
    });

    // The same huge CSI arriving over many reads.
    InputDecoder decoder;
    EXPECT_EQ(decoder.feed("\033["), Events{});
    for (int chunk = 0; chunk < 10; ++chunk) {
        EXPECT_EQ(decoder.feed(std::string(1000, '7')), Events{});
        EXPECT_FALSE(decoder.pendingMayBeAKey());
    }
    EXPECT_EQ(decoder.feed("A7"), Events{tap(55)});
}

TEST(InputDecoder, SplitReadsDecodeAsWhole) {
    EXPECT_EQ(decode(mixedInput), mixedEvents);
    EXPECT_EQ(decodeBytewise(mixedInput), mixedEvents);

    // Every way to cut the input into three reads, however far apart in time.
    for (std::size_t first = 0; first <= mixedInput.size(); ++first) {
        for (std::size_t second = first; second <= mixedInput.size(); ++second) {
            const std::string_view input = mixedInput;
            InputDecoder decoder;
            Events events = decoder.feed(input.substr(0, first));
            append(events, decoder.feed(input.substr(first, second - first)));
            append(events, decoder.feed(input.substr(second)));
            ASSERT_EQ(events, mixedEvents) << "cut at " << first << " and " << second;
        }
    }
}

TEST(InputDecoder, RandomBytesOnlyEverGiveSaneEvents) {
    // Half the bytes come from those that steer the decoder, so random input reaches deep into
    // sequences instead of mostly staying in plain text.
    const std::string steering = "\033\033\033[[O]P_^X\\\a;;::?<>~uucM0123456789qQ\r\n\x03\x1a\x7f\x80 ";
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::uniform_int_distribution<std::size_t> steeringByte(0, steering.size() - 1);

    for (int round = 0; round < 300; ++round) {
        std::string bytes;
        for (int i = 0; i < 200; ++i) {
            const bool steer = anyByte(random) & 1;
            bytes += steer ? steering[steeringByte(random)] : static_cast<char>(anyByte(random));
        }
        SCOPED_TRACE(::testing::PrintToString(bytes));
        InputDecoder wholeDecoder;
        const Events whole = wholeDecoder.feed(bytes);
        for (const InputEvent& event : whole) {
            ASSERT_TRUE(isSane(event)) << ::testing::PrintToString(event);
        }
        ASSERT_EQ(decodeBytewise(bytes), whole);
        for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
            InputDecoder decoder;
            Events events = decoder.feed(std::string_view(bytes).substr(0, cut));
            append(events, decoder.feed(std::string_view(bytes).substr(cut)));
            ASSERT_EQ(events, whole) << "cut at " << cut;
        }
    }
}

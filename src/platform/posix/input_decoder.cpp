// The terminal input state machine: legacy bytes, skipped escape sequences and kitty key reports.
#include "platform/posix/input_decoder.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <utility>

#include "platform/keys.h"

namespace {

constexpr unsigned char esc = 0x1b;
constexpr unsigned char bel = 0x07;
constexpr unsigned char ctrlC = 0x03;
constexpr unsigned char ctrlZ = 0x1a;

// A CSI body longer than this is no key report, mouse report or reply we know: it is skipped
// rather than buffered, so a runaway sequence costs no memory.
constexpr std::size_t longestSequence = 64;

// kitty reports Unicode code points; a number past the last one names no key.
constexpr std::int32_t lastCodePoint = 0x10FFFF;

// Modifier bits (the reported value minus one) that say nothing about the key pressed.
constexpr std::int32_t lockBits = 64 | 128;
constexpr std::int32_t ctrlBit = 4;

// The keypad's digit keys: never the main-row digits, whatever base layout key they report.
constexpr std::int32_t firstKeypadDigit = 57399;
constexpr std::int32_t lastKeypadDigit = 57408;
// The keypad's Enter: ENTER, as the main one.
constexpr std::int32_t keypadEnter = 57414;

bool isDigit(unsigned char byte) { return byte >= '0' && byte <= '9'; }

bool isLatinLetter(std::int32_t code) { return (code >= 'a' && code <= 'z') || (code >= 'A' && code <= 'Z'); }

// The Latin letter a key stands for, lower case: the one it types, or on a layout without Latin
// letters the one on the same key of the base layout; 0 for none.
std::int32_t letterOf(std::int32_t code, std::optional<std::int32_t> base) {
    if (isLatinLetter(code)) return code | 0x20;
    if (base && isLatinLetter(*base)) return *base | 0x20;
    return 0;
}

bool isCsiBody(unsigned char byte) { return byte >= 0x20 && byte <= 0x3f; }

bool isFinal(unsigned char byte) { return byte >= 0x40 && byte <= 0x7e; }

bool allOf(std::string_view text, bool (*accept)(unsigned char)) {
    // std::all_of, not the ranges form: the browser build's library predates it
    return std::all_of(text.begin(), text.end(), [accept](char c) { return accept(static_cast<unsigned char>(c)); });
}

bool isKittyByte(unsigned char byte) { return isDigit(byte) || byte == ':' || byte == ';'; }

bool isParameterByte(unsigned char byte) { return byte >= 0x30 && byte <= 0x3f; }

// Reads decimal digits (the caller has checked they are digits); empty reads as absent. The
// value stops growing one past the last code point, so huge numbers cannot overflow and still
// read as out of range.
std::optional<std::int32_t> number(std::string_view digits) {
    if (digits.empty()) {
        return std::nullopt;
    }
    std::int32_t value = 0;
    for (const char digit : digits) {
        value = value * 10 + (digit - '0');
        if (value > lastCodePoint) {
            return lastCodePoint + 1;
        }
    }
    return value;
}

bool outOfRange(std::optional<std::int32_t> value) { return value && *value > lastCodePoint; }

// Splits at the separator into at most Count pieces, absent pieces left empty; more pieces
// than that is a malformed report (nullopt).
template <std::size_t Count>
std::optional<std::array<std::string_view, Count>> split(std::string_view text, char separator) {
    std::array<std::string_view, Count> pieces{};
    for (std::size_t index = 0; index < Count; ++index) {
        const std::size_t end = text.find(separator);
        pieces[index] = text.substr(0, end);
        if (end == std::string_view::npos) {
            return pieces;
        }
        text.remove_prefix(end + 1);
    }
    return std::nullopt;
}

}  // namespace

std::vector<InputEvent> InputDecoder::feed(std::string_view bytes) {
    std::vector<InputEvent> out;
    for (const char c : bytes) {
        // The flag lives for one byte only: anything between the CR and the LF, even a whole
        // escape sequence, makes the LF a key of its own.
        const bool lfEndsEnter = std::exchange(afterCarriageReturn, false);
        if (lfEndsEnter && c == '\n' && state == State::ground) {
            continue;
        }
        step(static_cast<unsigned char>(c), out);
    }
    return out;
}

bool InputDecoder::pendingMayBeAKey() const {
    switch (state) {
    case State::escape:
    case State::escapeTaken:
    case State::string:
    case State::stringEscape: return true;
    case State::csi:
    case State::ss3: return introducerOnly;
    default: return false;
    }
}

void InputDecoder::takePendingAsAKey() {
    if (!pendingMayBeAKey()) return;
    if (state == State::escape || state == State::stringEscape) {
        state = State::escapeTaken;
    } else if ((state == State::csi || state == State::ss3) && !takenAsAKey) {
        takenAsAKey = true;  // Alt+[ or Alt+O: nothing to type; the rest of a sequence may still come
    } else {
        state = State::ground;  // a string begun by Alt+] or Alt+P, or what was taken already
        introducerOnly = false;
        takenAsAKey = false;
    }
}

void InputDecoder::step(unsigned char byte, std::vector<InputEvent>& out) {
    // A byte after a CSI's or SS3's introducer: the sequence goes on, or gives way to the byte.
    introducerOnly = false;
    takenAsAKey = false;
    switch (state) {
    case State::ground: ground(byte, out); break;
    case State::escape: escape(byte, out); break;
    case State::escapeTaken:
        if (byte == '[' || byte == 'O') {
            escape(byte, out);
        } else if (byte == esc) {
            state = State::escape;
        } else {
            state = State::ground;
            ground(byte, out);
        }
        break;
    case State::csi: csi(byte, out); break;
    case State::csiSkip:
        if (isFinal(byte)) {
            state = State::ground;
        } else if (!isCsiBody(byte)) {
            state = State::ground;
            ground(byte, out);
        }
        break;
    case State::ss3:
        // Of what comes after ESC O (the keypad in application mode, F1-F4, cursor keys) only
        // the keypad's Enter is a key of the game's: it goes on like the main Enter. Keypad
        // digits (ESC O p to y) are never the main row's. Parameters (a modifier) are not kept:
        // a long one costs nothing and ends at its final byte like any other.
        if (isFinal(byte)) {
            state = State::ground;
            if (byte == 'M') emit(out, InputKind::keyTap, vkEnter);
        } else if (!isParameterByte(byte)) {
            state = State::ground;
            ground(byte, out);
        }
        break;
    case State::string:
        if (byte == esc) {
            state = State::stringEscape;
        } else if (byte == bel && stringEndsAtBell) {
            state = State::ground;
        }
        break;
    case State::stringEscape:
        // ESC '\' ends the string. Any other ESC inside one ends it too and begins a new
        // sequence, as in a terminal's own parser, so a broken string cannot swallow the keys
        // that follow it.
        if (byte == '\\') {
            state = State::ground;
        } else {
            state = State::escape;
            escape(byte, out);
        }
        break;
    case State::mouse:
        if (--mouseBytesLeft == 0) {
            state = State::ground;
        }
        break;
    }
}

void InputDecoder::ground(unsigned char byte, std::vector<InputEvent>& out) {
    switch (byte) {
    case esc: state = State::escape; break;
    case '\r':
        afterCarriageReturn = true;
        emit(out, InputKind::keyTap, vkEnter);
        break;
    case '\n': emit(out, InputKind::keyTap, vkEnter); break;
    case 'q':
    case 'Q': emit(out, InputKind::keyTap, vkQ); break;
    case ctrlC: emit(out, InputKind::interrupt, 0); break;
    case ctrlZ: emit(out, InputKind::suspend, 0); break;
    default:
        if (isDigit(byte)) {
            emit(out, InputKind::keyTap, byte);
        }
        break;
    }
}

void InputDecoder::escape(unsigned char byte, std::vector<InputEvent>& out) {
    switch (byte) {
    case '[':
        state = State::csi;
        sequence.clear();
        introducerOnly = true;
        break;
    case 'O':
        state = State::ss3;
        introducerOnly = true;
        break;
    case ']':
        state = State::string;
        stringEndsAtBell = true;
        break;
    case 'P':
    case '_':
    case '^':
    case 'X':
        state = State::string;
        stringEndsAtBell = false;
        break;
    case esc:
        // The first ESC was the Escape key on its own; this one may begin a sequence.
        break;
    default:
        // The Escape key, or Alt with a key: the byte counts as typed (Alt+1 is still 1).
        state = State::ground;
        ground(byte, out);
        break;
    }
}

void InputDecoder::csi(unsigned char byte, std::vector<InputEvent>& out) {
    if (isCsiBody(byte)) {
        if (sequence.size() == longestSequence) {
            sequence.clear();
            state = State::csiSkip;
        } else {
            sequence.push_back(static_cast<char>(byte));
        }
    } else if (isFinal(byte)) {
        if (byte == 'M' && sequence.empty()) {
            // An X10 mouse report: three raw bytes follow, any values at all.
            state = State::mouse;
            mouseBytesLeft = 3;
        } else {
            state = State::ground;
            finishCsi(byte, out);
        }
        sequence.clear();
    } else {
        // A control byte or non-ASCII byte cannot be part of a CSI: the terminal gave up on
        // it, so the byte means what it would mean on its own.
        sequence.clear();
        state = State::ground;
        ground(byte, out);
    }
}

void InputDecoder::finishCsi(unsigned char final, std::vector<InputEvent>& out) {
    const std::string_view body = sequence;
    if (final == '~' && body == "200") {
        inPaste = true;
        return;
    }
    if (final == '~' && body == "201") {
        inPaste = false;
        return;
    }
    // "\e[?1035;<state>$y": the terminal's answer about its NumLock mode (DECRQM).
    if (final == 'y' && body.starts_with("?1035;") && body.ends_with('$')) {
        const std::string_view value = body.substr(6, body.size() - 7);
        if (!value.empty() && allOf(value, isDigit) && !outOfRange(number(value))) {
            emit(out, InputKind::numLockModeReply, number(value).value_or(0));
        }
        return;
    }
    if (!allOf(body, isParameterByte)) {
        return;  // intermediate bytes: nothing else we decode has them
    }
    if (!body.empty() && body.front() == '?') {
        const std::string_view rest = body.substr(1);
        if (final == 'u' && allOf(rest, isDigit)) {
            const std::optional<std::int32_t> flags = number(rest);
            if (!outOfRange(flags)) {
                emit(out, InputKind::protocolReply, flags.value_or(0));
            }
        }
        return;
    }
    if (final == 'u' && allOf(body, isKittyByte)) {
        finishKittyKey(body, out);
    } else if (final == 'O' && body.empty()) {
        emit(out, InputKind::focusOut, 0);
    }
    // Every other final (arrows, function keys, mouse, focus, position reports) is no key of
    // the game's, even with kitty's modifier and event fields.
}

// "code[:shifted[:base]] ; mods[:event] ; text", any field after the code may be empty or absent.
void InputDecoder::finishKittyKey(std::string_view parameters, std::vector<InputEvent>& out) {
    const auto fields = split<3>(parameters, ';');
    if (!fields) {
        return;
    }
    const auto key = split<3>((*fields)[0], ':');
    const auto modifiers = split<2>((*fields)[1], ':');
    if (!key || !modifiers) {
        return;
    }
    const std::optional<std::int32_t> code = number((*key)[0]);
    const std::optional<std::int32_t> shifted = number((*key)[1]);
    const std::optional<std::int32_t> base = number((*key)[2]);
    const std::optional<std::int32_t> mods = number((*modifiers)[0]);
    const std::optional<std::int32_t> event = number((*modifiers)[1]);
    if (!code || outOfRange(code) || outOfRange(shifted) || outOfRange(base) || outOfRange(mods) || outOfRange(event)) {
        return;
    }

    InputKind kind = InputKind::keyDown;
    switch (event.value_or(1)) {
    case 1: kind = InputKind::keyDown; break;
    case 2: kind = InputKind::keyRepeat; break;
    case 3: kind = InputKind::keyUp; break;
    default: return;  // no such event type
    }
    // Caps Lock and Num Lock ride along on every key while they are on.
    const std::int32_t reported = mods.value_or(1);
    const std::int32_t bits = (reported > 0 ? reported - 1 : 0) & ~lockBits;

    if (*code == vkEnter || *code == keypadEnter) {
        emit(out, kind, vkEnter);
        return;
    }
    const std::int32_t letter = letterOf(*code, base);
    // The terminal no longer sends Ctrl+C and Ctrl+Z as signals: acting on them is ours, once
    // per press.
    if ((letter == 'c' || letter == 'z') && bits == ctrlBit) {
        if (kind == InputKind::keyDown) {
            emit(out, letter == 'c' ? InputKind::interrupt : InputKind::suspend, 0);
        }
        return;
    }
    if (letter == 'q') {
        emit(out, kind, vkQ);
        return;
    }
    if (*code >= firstKeypadDigit && *code <= lastKeypadDigit) {
        return;
    }
    // Digits go by the key's place on the main row, which is what the base layout key tells
    // on layouts like AZERTY whose unshifted top row is punctuation.
    const std::int32_t place = base.value_or(*code);
    if (place >= '0' && place <= '9') {
        emit(out, kind, place);
    }
}

// Inside a paste nothing is emitted at all, terminal replies included: what comes between the
// markers is pasted text, whatever it looks like.
void InputDecoder::emit(std::vector<InputEvent>& out, InputKind kind, std::int32_t value) const {
    if (!inPaste) {
        out.push_back(InputEvent{kind, value});
    }
}

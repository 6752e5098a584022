// Turns the bytes a terminal sends into key events: legacy characters, escape sequences to be
// skipped, and the key reports of the kitty keyboard protocol. A pure function of the bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class InputKind {
    keyTap,            // a legacy character: the key went down and up again; value = vk
    keyDown,           // protocol press; value = vk
    keyRepeat,         // protocol repeat, the key is still down; value = vk
    keyUp,             // protocol release; value = vk
    focusOut,          // "\e[O": the terminal's window lost the keyboard focus; value = 0
    interrupt,         // Ctrl+C (protocol report, or a raw byte 3); value = 0
    suspend,           // Ctrl+Z (protocol report, or a raw byte 26); value = 0
    protocolReply,     // "\e[?<flags>u": the terminal speaks the kitty protocol; value = flags
    numLockModeReply,  // "\e[?1035;<state>$y": xterm's NumLock mode; value = its state (0 to 4)
};

struct InputEvent {
    InputKind kind;
    std::int32_t value;
    bool operator==(const InputEvent&) const = default;
};

// Only the game's keys produce key events: vk 13 (either Enter key), 48 to 57 (main-row digits),
// 81 (Q). Q and Ctrl+C go by the letter the key types or, where the layout has no Latin letters
// (Cyrillic, Greek), by the letter of the same key on the base layout the protocol reports.
class InputDecoder {
public:
    // Decodes the next bytes of the stream. A sequence split across calls is completed by the
    // later call, however long after: a slow link can cut a key event anywhere, and nothing of an
    // escape sequence is ever read as a key. A sequence is bounded in bytes, never buffered past
    // its limit.
    std::vector<InputEvent> feed(std::string_view bytes);

    // Is what waits for more bytes perhaps a key of its own rather than a sequence cut short: a
    // lone ESC (the Escape key), ESC with a key that begins a sequence or a string (Alt+[, Alt+O,
    // Alt+], Alt+P), or what was taken as such and may still be continued? Where keys do not all
    // come as sequences, such a wait may end with the input quiet.
    [[nodiscard]] bool pendingMayBeAKey() const;

    // Ends such a wait, each call one step: the first takes what waits as a key (the Escape key,
    // Alt with a key), though the bytes of a sequence cut short, coming next, still continue it
    // (an introducer after a lone ESC, the rest after ESC [ or ESC O), and are dropped, never
    // typed; the second, the input quiet as long again, ends that too: the bytes after it are
    // keys again.
    void takePendingAsAKey();

private:
    // csiSkip: a CSI grown past the length limit, skipped unbuffered up to its final byte.
    // escapeTaken: a lone ESC was taken as the Escape key; only '[' or 'O' may still continue it.
    enum class State { ground, escape, escapeTaken, csi, csiSkip, ss3, string, stringEscape, mouse };
    State state = State::ground;
    std::string sequence;              // bytes of the escape sequence being read, after the introducer
    bool introducerOnly = false;       // a CSI or SS3 with nothing after its introducer yet
    bool takenAsAKey = false;          // what waits was taken as a key once: it may wait no longer
    int mouseBytesLeft = 0;            // raw bytes still to skip of an X10 mouse report
    bool stringEndsAtBell = false;     // an OSC may end at BEL as well as at ESC '\'
    bool inPaste = false;              // between "\e[200~" and "\e[201~": pasted text is not typed keys
    bool afterCarriageReturn = false;  // a LF right after a CR is the same ENTER

    void step(unsigned char byte, std::vector<InputEvent>& out);
    void ground(unsigned char byte, std::vector<InputEvent>& out);
    void escape(unsigned char byte, std::vector<InputEvent>& out);
    void csi(unsigned char byte, std::vector<InputEvent>& out);
    void finishCsi(unsigned char final, std::vector<InputEvent>& out);
    void finishKittyKey(std::string_view parameters, std::vector<InputEvent>& out);
    void emit(std::vector<InputEvent>& out, InputKind kind, std::int32_t value) const;
};

// libFuzzer target for the input decoder: no crash, only the game's keys, same events however split.
#include "platform/posix/input_decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

using Events = std::vector<InputEvent>;

void fail(const char* what) {
    std::fprintf(stderr, "input decoder property broken: %s\n", what);
    std::abort();
}

bool isGameKey(std::int32_t vk) { return vk == 13 || vk == 81 || (vk >= 48 && vk <= 57); }

void checkValues(const Events& events) {
    for (const InputEvent& event : events) {
        switch (event.kind) {
        case InputKind::keyTap:
        case InputKind::keyDown:
        case InputKind::keyRepeat:
        case InputKind::keyUp:
            if (!isGameKey(event.value)) {
                fail("key event for a key the game does not use");
            }
            break;
        case InputKind::focusOut:
        case InputKind::interrupt:
        case InputKind::suspend:
            if (event.value != 0) {
                fail("non-zero value on an event that carries none");
            }
            break;
        case InputKind::protocolReply:
            if (event.value < 0) {
                fail("negative protocol flags");
            }
            break;
        case InputKind::numLockModeReply:
            if (event.value < 0) {
                fail("negative mode state");
            }
            break;
        default: fail("unknown event kind");
        }
    }
}

void append(Events& all, const Events& some) { all.insert(all.end(), some.begin(), some.end()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    InputDecoder wholeDecoder;
    const Events whole = wholeDecoder.feed(bytes);
    checkValues(whole);

    // Reads as small and uneven as a slow terminal's: each chunk's length comes from the byte
    // that starts it, so the fuzzer steers where the cuts fall along with the content.
    InputDecoder chunkDecoder;
    Events chunked;
    for (std::size_t at = 0; at < size;) {
        const std::size_t length = static_cast<std::size_t>(data[at] % 7) + 1;
        const std::string_view chunk = bytes.substr(at, length);
        append(chunked, chunkDecoder.feed(chunk));
        at += chunk.size();
    }
    checkValues(chunked);
    if (chunked != whole) {
        fail("chunked reads decode differently from one read");
    }

    // One cut at a point derived from the data, so every offset gets tried across the corpus.
    std::size_t cut = 0;
    if (size > 0) {
        cut = (static_cast<std::size_t>(data[0]) << 8 | data[size - 1]) % (size + 1);
    }
    InputDecoder splitDecoder;
    Events split = splitDecoder.feed(bytes.substr(0, cut));
    append(split, splitDecoder.feed(bytes.substr(cut)));
    if (split != whole) {
        fail("two reads decode differently from one read");
    }

    // The input quiet twice as long as it takes to give up on what may be a key: nothing waits
    // for more as a key any more (the keys typed later count).
    InputDecoder quietDecoder;
    quietDecoder.feed(bytes);
    quietDecoder.takePendingAsAKey();
    quietDecoder.takePendingAsAKey();
    if (quietDecoder.pendingMayBeAKey()) {
        fail("what may be a key waits on after the input was quiet twice");
    }

    // Whatever came before, no sequence swallows keys for ever: the end of a string, of a paste
    // and of any escape sequence, and a CR after them is ENTER. (The string's end comes three
    // times over, past the raw bytes of a mouse report.)
    if (wholeDecoder.feed("\x1b\\\x1b\\\x1b[201~\r") != Events{InputEvent{InputKind::keyTap, 13}}) {
        fail("keys after a sequence are not read");
    }
    return 0;
}

// Key presses from polled key state: one latch per virtual-key code, never reset.
#include "console/key_latch.h"

#include "console/drawing.h"
#include "platform/platform.h"

std::array<std::int16_t, 256> keyLatch{};

std::int32_t keyPressed(std::int32_t vk) {
    std::int16_t& latch = keyLatch.at(static_cast<std::size_t>(vk));
    if (!isKeyDown(vk)) {
        latch = 0;
        return keyUp;
    }
    if (latch < 0) return keyHeld;
    // 0xFF81 as a signed 16-bit value: only its sign is ever tested.
    latch = static_cast<std::int16_t>(-127);
    return keyNewPress;
}

void waitForKey(std::int32_t vk) {
    flushScreen();
    while (keyPressed(vk) != keyNewPress) waitForKeyboard();
}

// Key presses from polled key state: the latch table and the press and wait operations.
#pragma once

#include <array>
#include <cstdint>

#include "platform/keys.h"

// One entry per virtual-key code: 0 free, negative once a press was accepted and no poll of
// that key has seen it up since.
extern std::array<std::int16_t, 256> keyLatch;

enum KeyPoll : std::int32_t { keyUp = 0, keyNewPress = 1, keyHeld = 2 };

// Polls the key once and updates its latch.
std::int32_t keyPressed(std::int32_t vk);

// Returns once keyPressed(vk) has reported a new press.
void waitForKey(std::int32_t vk);

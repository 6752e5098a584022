// The virtual-key codes of the game's keys, shared by the key latch and every platform's key model.
#pragma once

#include <cstdint>

constexpr std::int32_t vkEnter = 13;   // either Enter key
constexpr std::int32_t vkQ = 81;       // the letter key Q, with or without Shift or Caps Lock
constexpr std::int32_t vkDigit0 = 48;  // 48 to 57: the digit keys of the main row, never the keypad's

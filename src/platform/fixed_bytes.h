// Bytes kept in place, for signal handlers and console control handlers that may not allocate.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

struct FixedBytes {
    static constexpr std::size_t capacity = 64;

    // Do bytes this long fit, or these pieces all together (string literals)? Every caller checks
    // at compile time, static_assert(FixedBytes::fits(...)), for the longest bytes it can give.
    static constexpr bool fits(std::size_t size) { return size <= capacity; }
    template <std::size_t... Sizes>
    static constexpr bool fits([[maybe_unused]] const char (&... pieces)[Sizes]) {
        return fits((std::size_t{0} + ... + (Sizes - 1)));
    }

    char data[capacity] = {};
    std::size_t size = 0;

    void assign(std::string_view bytes) {
        size = 0;
        append(bytes);
    }
    // Bounded all the same: a caller's check that failed to foresee its bytes cuts them short
    // rather than writing past the end.
    void append(std::string_view bytes) {
        const std::size_t count = std::min(bytes.size(), capacity - size);
        std::memcpy(data + size, bytes.data(), count);
        size += count;
    }
    [[nodiscard]] std::string_view view() const { return {data, size}; }
};

// Bytes kept in place, for signal handlers and console control handlers that may not allocate.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

struct FixedBytes {
    char data[64] = {};
    std::size_t size = 0;

    void assign(std::string_view bytes) {
        size = 0;
        append(bytes);
    }
    // What does not fit is left out.
    void append(std::string_view bytes) {
        const std::size_t count = std::min(bytes.size(), sizeof data - size);
        std::memcpy(data + size, bytes.data(), count);
        size += count;
    }
    [[nodiscard]] std::string_view view() const { return {data, size}; }
};

// Writing all of a buffer through a call that may write only part of it, for the backends'
// handlers, which write straight to the terminal.
#pragma once

#include <cstddef>
#include <string_view>

// `writeSome(data, size)` writes up to `size` bytes and returns how many, or 0 or less to stop.
template <typename WriteSome>
void writeAll(std::string_view bytes, WriteSome writeSome) {
    while (!bytes.empty()) {
        const auto written = writeSome(bytes.data(), bytes.size());
        if (written <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

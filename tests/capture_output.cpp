// The capture of standard output, byte for byte, for the tests.
#include "capture_output.h"

// dup and dup2 come from <unistd.h> on POSIX and MinGW, from <io.h> with Visual Studio.
#if __has_include(<unistd.h>)
#include <unistd.h>
#else
#include <io.h>
#endif

#include <cstdio>
#include <iostream>
#include <stdexcept>

std::string captureOutput(const std::function<void()>& body) {
    std::cout.flush();
    std::fflush(stdout);
    std::FILE* file = std::tmpfile();
    if (file == nullptr) throw std::runtime_error("no temporary file");
    const int out = ::fileno(stdout);
    const int saved = ::dup(out);
    ::dup2(::fileno(file), out);
    auto restore = [&] {
        std::cout.flush();
        std::fflush(stdout);
        ::dup2(saved, out);
        ::close(saved);
    };
    try {
        body();
    } catch (...) {
        restore();
        std::fclose(file);
        throw;
    }
    restore();
    std::string output;
    std::rewind(file);
    char chunk[4096];
    std::size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) output.append(chunk, count);
    std::fclose(file);
    return output;
}

long outputSoFar() {
    std::fflush(stdout);
    return static_cast<long>(::lseek(::fileno(stdout), 0, SEEK_CUR));
}

std::string at(int row, int column) { return "\x1b[" + std::to_string(row) + ";" + std::to_string(column) + "H"; }

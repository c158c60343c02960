// The tool's own messages on standard error, one line each with its name.
#pragma once

#include <cstdarg>
#include <cstdio>

namespace vyr::tool {

[[gnu::format(printf, 1, 2)]] inline void notice(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fprintf(stderr, "vyr-gps: %s\n", text);
}

}  // namespace vyr::tool

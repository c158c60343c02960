// A sentence as a receiver sends it: the body between `$` and `*` with its
// checksum appended.
#pragma once

#include <cstdio>
#include <string>

namespace vyr::test {

inline std::string nmea(const std::string& body) {
    unsigned sum = 0;
    for (const char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X", sum);
    return "$" + body + tail;
}

}  // namespace vyr::test

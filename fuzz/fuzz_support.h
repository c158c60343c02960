// Shared helpers of the fuzz targets: a check that reports and aborts (so the
// fuzzer keeps the input as a crasher), NUL-terminated copies of the input,
// and a quiet log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vyr_gpsparser.h"
#include "vyr_platform.h"

#define FUZZ_CHECK(cond, ...)                                                                 \
    do {                                                                                      \
        if (!(cond)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #cond); \
            std::fprintf(stderr, "  " __VA_ARGS__);                                           \
            std::fprintf(stderr, "\n");                                                       \
            std::abort();                                                                     \
        }                                                                                     \
    } while (0)

namespace vyr::fuzz {

// Silences the library's log lines: formatting them would dominate the run
// time, and their content is checked by the unit tests.
inline void quietLog() {
    VyrPlatform_SetPrintLevel(0);
}

// The input as a NUL-terminated text (embedded NULs shorten it, as they do
// for the C string functions of the library).
inline std::string asText(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// Printable rendering of a text for failure messages.
inline std::string shown(const char* text, size_t size) {
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// Scales a fixed-point number may carry: 0 (empty) or a power of ten up to 10^9.
inline bool isValidScale(int32_t scale) {
    if (scale == 0) return true;
    for (int32_t s = 1;; s *= 10) {
        if (s == scale) return true;
        if (s == 1000000000) return false;
    }
}

inline bool isValidFloat(const GpsFloat& number) {
    return isValidScale(number.scale) && (number.scale != 0 || number.value == 0);
}

// A scanned time is either empty (all -1) or two digits per member and at most
// six fraction digits.
inline bool isValidTime(const GpsTime& t) {
    if (t.hours == -1 && t.minutes == -1 && t.seconds == -1 && t.microseconds == -1) return true;
    return t.hours >= 0 && t.hours <= 99 && t.minutes >= 0 && t.minutes <= 99 && t.seconds >= 0 &&
           t.seconds <= 99 && t.microseconds >= 0 && t.microseconds <= 999999;
}

inline bool isValidDate(const GpsDate& d) {
    if (d.day == -1 && d.month == -1 && d.year == -1) return true;
    return d.day >= 0 && d.day <= 99 && d.month >= 0 && d.month <= 99 && d.year >= 0 &&
           d.year <= 99;
}

}  // namespace vyr::fuzz

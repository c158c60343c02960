// One 256-entry table of character classes for the scanner, the framer and
// the sentence classifier: a single load and a bit test per character, and one
// copy of the table in the shared object.
#pragma once

#include <array>
#include <cstdint>

namespace vyr::chars {

inline constexpr uint8_t kFieldChar = 1;  // printable, not "," and not "*"
inline constexpr uint8_t kDigit = 2;
inline constexpr uint8_t kCSpace = 4;     // white space as strtol and "%d" skip it in the C locale
inline constexpr uint8_t kFraming = 8;    // CR, LF, "$": the bytes the framer acts on
inline constexpr uint8_t kNameStop = 16;  // NUL and "G": where the classifier looks closer

constexpr std::array<uint8_t, 256> makeClasses() {
    std::array<uint8_t, 256> table{};
    for (int c = 0x20; c <= 0x7E; ++c) {
        if (c != ',' && c != '*') table[c] |= kFieldChar;
    }
    for (int c = '0'; c <= '9'; ++c) table[c] |= kDigit;
    for (const char c : {' ', '\t', '\n', '\v', '\f', '\r'})
        table[static_cast<uint8_t>(c)] |= kCSpace;
    for (const char c : {'\r', '\n', '$'}) table[static_cast<uint8_t>(c)] |= kFraming;
    for (const char c : {'\0', 'G'}) table[static_cast<uint8_t>(c)] |= kNameStop;
    return table;
}

// Defined once (char_class.cpp), hidden: read PC-relative, not through the GOT.
[[gnu::visibility("hidden")]] extern const std::array<uint8_t, 256> kClasses;

inline bool has(char c, uint8_t cls) {
    return (kClasses[static_cast<uint8_t>(c)] & cls) != 0;
}
inline bool isFieldChar(char c) {
    return has(c, kFieldChar);
}
inline bool isDigit(char c) {
    return has(c, kDigit);
}
inline bool isCSpace(char c) {
    return has(c, kCSpace);
}

}  // namespace vyr::chars

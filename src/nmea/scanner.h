// Field scanner: converts the comma-separated fields of one NMEA 0183 sentence,
// one format letter per field, into typed outputs. Stateless; any thread.
//
// Letters and their outputs (in letter order, one pointer per letter):
//   t  char[6]   "$" and five field characters: the sentence type, NUL-terminated
//   T  GpsTime   hhmmss[.ffffff]          (empty or absent: all -1)
//   D  GpsDate   ddmmyy                   (empty or absent: all -1)
//   f  GpsFloat  fixed-point decimal      (empty or absent: {0, 0})
//   i  int32_t   decimal integer, as strtol base 10, clamped to 32 bits (empty: 0)
//   c  char      first character of the field, 0 when empty
//   d  int32_t   direction: N/E 1, S/W -1, empty 0
//   s  char[]    the whole field, NUL-terminated (caller sizes it)
//   _  -         skips one field
//   ;  -         consumes no field; every later field may be absent
// A field is empty when its first character is ",", "*" or a non-printable
// one; it is absent when the sentence ended before it. On failure the outputs
// of the fields before the failing one are written, the rest untouched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "vyr_gpsparser.h"

namespace vyr::nmea {

// true when every letter of format was satisfied. Never logs.
bool GPSPARSER_Scan(const char* sentence, const char* format, ...) noexcept;

namespace detail {

enum class OutKind : uint8_t { None, TypeText, Time, Date, Float, Int, Char, Invalid };

constexpr OutKind letterKind(char letter) {
    switch (letter) {
        case ';':
        case '_':
            return OutKind::None;
        case 't':
            return OutKind::TypeText;
        case 'T':
            return OutKind::Time;
        case 'D':
            return OutKind::Date;
        case 'f':
            return OutKind::Float;
        case 'i':
        case 'd':
            return OutKind::Int;
        case 'c':
        case 's':
            return OutKind::Char;
        default:
            return OutKind::Invalid;
    }
}

template <typename T>
constexpr OutKind outKind() {
    if constexpr (std::is_same_v<T, char[6]>) return OutKind::TypeText;
    if constexpr (std::is_same_v<T, GpsTime>) return OutKind::Time;
    if constexpr (std::is_same_v<T, GpsDate>) return OutKind::Date;
    if constexpr (std::is_same_v<T, GpsFloat>) return OutKind::Float;
    if constexpr (std::is_same_v<T, int32_t>) return OutKind::Int;
    if constexpr (std::is_same_v<T, char>) return OutKind::Char;
    return OutKind::Invalid;
}

// Declared only: a call in a constant evaluation stops the build, which is how
// a format that disagrees with its output pointers is reported.
void scanFormatDoesNotMatchOutputs();

inline char* vararg(char (*typeText)[6]) {
    return *typeText;
}
template <typename T>
T* vararg(T* out) {
    return out;
}

}  // namespace detail

// A format string checked at compile time against the output pointer types.
template <typename... Out>
class ScanFormat {
public:
    template <std::size_t N>
    consteval ScanFormat(const char (&format)[N]) : text_(format) {
        constexpr detail::OutKind kinds[] = {detail::outKind<Out>()..., detail::OutKind::None};
        std::size_t next = 0;
        for (std::size_t i = 0; i + 1 < N; ++i) {
            const detail::OutKind kind = detail::letterKind(format[i]);
            if (kind == detail::OutKind::None) continue;
            if (kind == detail::OutKind::Invalid || next >= sizeof...(Out) || kinds[next] != kind) {
                detail::scanFormatDoesNotMatchOutputs();
            }
            ++next;
        }
        if (next != sizeof...(Out)) detail::scanFormatDoesNotMatchOutputs();
    }
    constexpr const char* text() const { return text_; }

private:
    const char* text_;
};

// GPSPARSER_Scan with the format checked against the outputs at compile time;
// costs nothing over the plain call.
template <typename... Out>
[[nodiscard]] inline bool scanFields(const char* sentence,
                                     std::type_identity_t<ScanFormat<Out...>> format,
                                     Out*... out) noexcept {
    return GPSPARSER_Scan(sentence, format.text(), detail::vararg(out)...);
}

}  // namespace vyr::nmea

// Field scanner: converts the comma-separated fields of one NMEA 0183 sentence,
// one format letter per field, into typed outputs. Stateless; any thread.
//
//   scanFields<"tTcfdfdffDfd">(sentence, &type, &time, &status, ...)
//
// The format is a template argument: the compiler checks every output pointer
// against its letter (a wrong type, a missing or extra output or an unknown
// letter does not compile) and expands the call into one typed conversion per
// field; nothing is looked up at run time.
//
// Letters and their outputs (in letter order, one pointer per letter):
//   t  char[6]   "$" and five field characters: the sentence type, NUL-terminated
//   T  GpsTime   hhmmss[.ffffff]          (empty or absent: all -1)
//   D  GpsDate   ddmmyy                   (empty or absent: all -1)
//   f  GpsFloat  fixed-point decimal      (empty or absent: {0, 0})
//   i  int32_t   decimal integer, as strtol base 10, clamped to 32 bits (empty: 0)
//   c  char      first character of the field, 0 when empty
//   d  int32_t   direction: N/E 1, S/W -1, empty 0
//   s  char      the whole field, NUL-terminated (the caller sizes the array)
//   _  -         skips one field
//   ;  -         consumes no field; every later field may be absent
// A field is empty when its first character is ",", "*" or a non-printable
// one; it is absent when the sentence ended before it. On failure the outputs
// of the fields before the failing one are written, the rest untouched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "common/char_class.h"
#include "vyr_gpsparser.h"

namespace vyr::nmea {

// --- Conversions of one field ----------------------------------------------
// Each takes a cursor and returns the cursor for the next field. A cursor is
// the first character of a field of the sentence, or one of three stops:
//   kAbsent  a field after the sentence's end that a ";" allowed: converts
//            like an empty field;
//   kEnded   the sentence has ended: a letter without a ";" before it fails;
//   kFailed  (null) a field failed: nothing more is written, kFailed is
//            returned.
// So a scan is one conversion after the other with no test in between, and
// it succeeded when the last one did not return kFailed.
namespace field {

// Two NULs: kEnded and kAbsent read as an empty text.
[[gnu::visibility("hidden")]] extern const char kStops[2];
inline constexpr const char* kFailed = nullptr;
inline constexpr const char* kEnded = &kStops[0];
inline constexpr const char* kAbsent = &kStops[1];

using TypeText = char[6];

const char* typeText(const char* cursor, TypeText* out) noexcept;
const char* time(const char* cursor, GpsTime* out) noexcept;
const char* date(const char* cursor, GpsDate* out) noexcept;
const char* decimal(const char* cursor, GpsFloat* out) noexcept;
const char* integer(const char* cursor, int32_t* out) noexcept;
const char* optionalInteger(const char* cursor, int32_t* out) noexcept;  // after a ";"
const char* character(const char* cursor, char* out) noexcept;
const char* direction(const char* cursor, int32_t* out) noexcept;
const char* skip(const char* cursor) noexcept;

// The walk from where a conversion stopped (every character before stop is a
// field character): past the rest of the field; the next field begins after a
// ",", anything else ends the sentence (kEnded).
const char* next(const char* stop) noexcept;

// An optional sign and at least one digit, read as strtol and "%d" read them
// (no white space), the value clamped to the 32-bit range. Returns where the
// number ends, or nullptr (and out untouched) when no digit follows the sign.
const char* readInteger(const char* text, int32_t* out) noexcept;

// "s": the whole field and a NUL. No parser uses it, so it is built only where
// a format has it.
inline const char* text(const char* cursor, char* out) noexcept {
    if (cursor == kFailed || cursor == kEnded) return kFailed;  // reads nothing
    const char* p = cursor;
    while (chars::isFieldChar(*p)) *out++ = *p++;
    *out = '\0';
    return next(p);
}

// The cursor for a letter that a ";" made optional.
inline const char* allowAbsent(const char* cursor) noexcept {
    return cursor == kEnded ? kAbsent : cursor;
}

}  // namespace field

namespace detail {

// The output type and the conversion of each letter that takes an output.
template <char Letter>
struct LetterOf {
    static constexpr bool known = false;
};
#define VYR_SCAN_LETTER(LETTER, OUT, CONVERT)                               \
    template <>                                                             \
    struct LetterOf<LETTER> {                                               \
        static constexpr bool known = true;                                 \
        using Out = OUT;                                                    \
        static const char* convert(const char* cursor, Out* out) noexcept { \
            return CONVERT(cursor, out);                                    \
        }                                                                   \
    }
VYR_SCAN_LETTER('t', field::TypeText, field::typeText);
VYR_SCAN_LETTER('T', GpsTime, field::time);
VYR_SCAN_LETTER('D', GpsDate, field::date);
VYR_SCAN_LETTER('f', GpsFloat, field::decimal);
VYR_SCAN_LETTER('i', int32_t, field::integer);
VYR_SCAN_LETTER('c', char, field::character);
VYR_SCAN_LETTER('d', int32_t, field::direction);
VYR_SCAN_LETTER('s', char, field::text);
#undef VYR_SCAN_LETTER

constexpr bool takesOutput(char letter) {
    return letter != ';' && letter != '_';
}

}  // namespace detail

// A format string as a template argument.
template <std::size_t N>
struct ScanFormat {
    char letters[N];

    consteval ScanFormat(const char (&format)[N]) {
        for (std::size_t i = 0; i < N; ++i) letters[i] = format[i];
    }
    static constexpr std::size_t size() { return N - 1; }
    // Number of output pointers the format takes.
    constexpr std::size_t outputs() const { return outputsBefore(size()); }
    constexpr std::size_t outputsBefore(std::size_t position) const {
        std::size_t count = 0;
        for (std::size_t i = 0; i < position; ++i) count += detail::takesOutput(letters[i]) ? 1 : 0;
        return count;
    }
    // The letter of the k-th output.
    constexpr char outputLetter(std::size_t k) const {
        for (std::size_t i = 0; i < size(); ++i) {
            if (detail::takesOutput(letters[i]) && k-- == 0) return letters[i];
        }
        return '\0';
    }
    // Whether a ";" stands before the letter at position.
    constexpr bool optionalAt(std::size_t position) const {
        for (std::size_t i = 0; i < position; ++i) {
            if (letters[i] == ';') return true;
        }
        return false;
    }
};

namespace detail {

template <ScanFormat F, std::size_t... K>
constexpr bool lettersKnown(std::index_sequence<K...>) {
    return (LetterOf<F.outputLetter(K)>::known && ...);
}

template <ScanFormat F, typename... Out, std::size_t... K>
constexpr bool outputsMatch(std::index_sequence<K...>) {
    return (std::is_same_v<typename LetterOf<F.outputLetter(K)>::Out, Out> && ...);
}

// true when every letter is known and the outputs are exactly one pointer of
// the letter's type per letter that takes one.
template <ScanFormat F, typename... Out>
consteval bool formatMatches() {
    if (F.outputs() != sizeof...(Out)) return false;
    if constexpr (sizeof...(Out) == 0) {
        return true;
    } else {
        constexpr auto outputs = std::make_index_sequence<sizeof...(Out)>{};
        if constexpr (!lettersKnown<F>(outputs)) {
            return false;
        } else {
            return outputsMatch<F, Out...>(outputs);
        }
    }
}

// A letter after a ";": one small conversion per letter so used, which lets an
// ended sentence count as an absent field, instead of that test at every site.
template <char Letter>
[[gnu::noinline]] const char* convertOptional(const char* cursor,
                                              typename LetterOf<Letter>::Out* out) noexcept {
    return LetterOf<Letter>::convert(field::allowAbsent(cursor), out);
}
// The integer, the usual optional field, has an entry of its own.
template <>
inline const char* convertOptional<'i'>(const char* cursor, int32_t* out) noexcept {
    return field::optionalInteger(cursor, out);
}
template <char Letter>
[[gnu::noinline]] const char* skipOptional(const char* cursor) noexcept {
    return field::skip(field::allowAbsent(cursor));
}

// The conversions of the letters from position I on; out are the outputs of
// those letters. The outputs are handed down as plain arguments, so each is
// formed where its conversion is called.
template <ScanFormat F, std::size_t I, typename... Out>
[[gnu::always_inline]] inline const char* scanFrom(const char* cursor, Out*... out) noexcept;

template <ScanFormat F, std::size_t I, typename First, typename... Rest>
[[gnu::always_inline]] inline const char* convertFirst(const char* cursor, First* first,
                                                       Rest*... rest) noexcept {
    constexpr char letter = F.letters[I];
    if constexpr (F.optionalAt(I)) {
        return scanFrom<F, I + 1>(convertOptional<letter>(cursor, first), rest...);
    } else {
        return scanFrom<F, I + 1>(LetterOf<letter>::convert(cursor, first), rest...);
    }
}

template <ScanFormat F, std::size_t I, typename... Out>
[[gnu::always_inline]] inline const char* scanFrom(const char* cursor, Out*... out) noexcept {
    if constexpr (I == F.size()) {
        return cursor;
    } else if constexpr (F.letters[I] == ';') {
        return scanFrom<F, I + 1>(cursor, out...);
    } else if constexpr (F.letters[I] == '_') {
        if constexpr (F.optionalAt(I)) {
            return scanFrom<F, I + 1>(skipOptional<'_'>(cursor), out...);
        } else {
            return scanFrom<F, I + 1>(field::skip(cursor), out...);
        }
    } else {
        return convertFirst<F, I>(cursor, out...);
    }
}

}  // namespace detail

// Scans the fields of the format from cursor on (a sentence's first
// character, or what an earlier part returned) and returns the cursor after
// them, field::kFailed when a field failed. A format may be scanned in parts,
// for example a repeated group in a loop; a ";" applies within its part only.
template <ScanFormat F, typename... Out>
[[nodiscard]] inline const char* scanPart(const char* cursor, Out*... out) noexcept {
    static_assert(detail::formatMatches<F, Out...>(),
                  "the format's letters do not match the output pointers");
    return detail::scanFrom<F, 0>(cursor, out...);
}

// true when every letter of the format was satisfied. Never logs. An empty
// format succeeds at once; fields after the format's last letter are not
// looked at.
template <ScanFormat F, typename... Out>
[[nodiscard]] inline bool scanFields(const char* sentence, Out*... out) noexcept {
    return scanPart<F>(sentence, out...) != field::kFailed;
}

// GPSPARSER_FORMAT_DOUBLE for the library's own callers: a direct call, not
// one through the exported symbol.
double toDouble(const GpsFloat& number) noexcept;

}  // namespace vyr::nmea

// Field scanner and the fixed-point conversion to double.
//
// One pass over the sentence: each converter reads its field from the first
// character and returns where it stopped (every character before that point is
// a field character), and the walk to the next field continues from there.
#include "nmea/scanner.h"

#include <array>
#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace vyr::nmea {
namespace {

constexpr uint8_t kFieldChar = 1;  // printable, not "," and not "*"
constexpr uint8_t kDigit = 2;
constexpr uint8_t kCSpace = 4;  // white space as strtol skips it in the C locale

constexpr std::array<uint8_t, 256> makeCharClasses() {
    std::array<uint8_t, 256> table{};
    for (int c = 0x20; c <= 0x7E; ++c) {
        if (c != ',' && c != '*') table[c] |= kFieldChar;
    }
    for (int c = '0'; c <= '9'; ++c) table[c] |= kDigit;
    for (const char c : {' ', '\t', '\n', '\v', '\f', '\r'})
        table[static_cast<uint8_t>(c)] |= kCSpace;
    return table;
}

constexpr std::array<uint8_t, 256> kCharClasses = makeCharClasses();

constexpr bool hasClass(char c, uint8_t cls) {
    return (kCharClasses[static_cast<uint8_t>(c)] & cls) != 0;
}
constexpr bool isFieldChar(char c) {
    return hasClass(c, kFieldChar);
}
constexpr bool isDigit(char c) {
    return hasClass(c, kDigit);
}
constexpr bool isCSpace(char c) {
    return hasClass(c, kCSpace);
}

static_assert(isFieldChar(' ') && isFieldChar('~') && isFieldChar('$'));
static_assert(!isFieldChar(',') && !isFieldChar('*') && !isFieldChar('\r') && !isFieldChar('\0'));
static_assert(!isFieldChar('\x7F') && !isFieldChar('\x80') && !isFieldChar('\xFF'));
static_assert(isDigit('0') && isDigit('9') && !isDigit('/') && !isDigit(':'));
static_assert(isCSpace('\v') && !isCSpace('\0'));

constexpr int32_t kInt32Max = 2147483647;
constexpr int32_t kInt32Min = -kInt32Max - 1;
constexpr int32_t kMaxScale = 1000000000;  // 10^9: one more digit passes kInt32Max

// 0 to 9 for a digit, above 9 for anything else: one subtraction in the loops.
constexpr uint32_t digitValue(char c) {
    return static_cast<uint32_t>(static_cast<uint8_t>(c)) - '0';
}
static_assert(digitValue('0') == 0 && digitValue('9') == 9 && digitValue('/') > 9 &&
              digitValue(':') > 9);

// Stands for every field after the end of the sentence: absent fields convert
// like empty ones; only the walk tells them apart.
constexpr char kAbsentField[] = "";

int32_t digitPair(const char* p) {
    return (p[0] - '0') * 10 + (p[1] - '0');
}

// Digits are field characters, so this stops at the sentence's end.
bool sixDigits(const char* p) {
    for (int i = 0; i < 6; ++i) {
        if (!isDigit(p[i])) return false;
    }
    return true;
}

const char* scanTypeText(const char* field, char* out) {
    if (field[0] != '$') return nullptr;
    for (int i = 1; i <= 5; ++i) {
        if (!isFieldChar(field[i])) return nullptr;
    }
    for (int i = 0; i < 5; ++i) out[i] = field[i + 1];
    out[5] = '\0';
    return field + 6;
}

const char* scanTime(const char* field, GpsTime* out) {
    if (!isFieldChar(field[0])) {
        *out = GpsTime{-1, -1, -1, -1};
        return field;
    }
    if (!sixDigits(field)) return nullptr;
    const char* p = field + 6;
    int32_t microseconds = 0;
    if (p[0] == '.' && isDigit(p[1])) {
        ++p;
        int digits = 0;
        for (; digits < 6 && isDigit(*p); ++digits, ++p)
            microseconds = microseconds * 10 + (*p - '0');
        for (; digits < 6; ++digits) microseconds *= 10;
    }
    *out = GpsTime{digitPair(field), digitPair(field + 2), digitPair(field + 4), microseconds};
    return p;
}

const char* scanDate(const char* field, GpsDate* out) {
    if (!isFieldChar(field[0])) {
        *out = GpsDate{-1, -1, -1};
        return field;
    }
    if (!sixDigits(field)) return nullptr;
    *out = GpsDate{digitPair(field), digitPair(field + 2), digitPair(field + 4)};
    return field + 6;
}

// Fixed point: all digits as one integer, scale 10^(fraction digits). A value
// that no longer fits ends the number after the point and fails before it.
// A scale that would pass 10^9 (more than nine fraction digits with a small
// value) ends the number the same way, at the last digit whose scale fits.
const char* scanFloat(const char* field, GpsFloat* out) {
    int32_t value = 0;
    int32_t scale = 0;
    int32_t sign = 0;
    bool point = false;
    bool digit = false;
    const char* p = field;
    for (;; ++p) {
        const char c = *p;
        const uint32_t d = digitValue(c);
        if (d <= 9) {
            // value * 10 + d > 2147483647, without a division.
            if (value >= kInt32Max / 10 && (value > kInt32Max / 10 || d > kInt32Max % 10)) {
                if (!point) return nullptr;
                break;
            }
            if (scale == kMaxScale) break;
            value = value * 10 + static_cast<int32_t>(d);
            scale *= 10;  // stays 0 before the point
            digit = true;
        } else if (!isFieldChar(c)) {
            break;
        } else if (c == '+' || c == '-') {
            if (sign != 0 || digit) return nullptr;
            sign = (c == '-') ? -1 : 1;
        } else if (c == '.') {
            if (point) return nullptr;
            point = true;
            scale = 1;
        } else if (c != ' ' || sign != 0 || point || digit) {
            return nullptr;  // a space after the number has begun, or any other character
        }
    }
    if (sign == 0 && !point) {
        *out = digit ? GpsFloat{value, 1} : GpsFloat{0, 0};
    } else {
        if (!digit) return nullptr;
        *out = GpsFloat{sign != 0 ? value * sign : value, scale != 0 ? scale : 1};
    }
    return p;
}

// Exactly strtol(field, &end, 10) clamped to 32 bits, followed by the check
// that end is not a field character. strtol's leading white space may run past
// the field's end (a tab or CR is not a field character); the walk then resumes
// at that end, not where the number stopped.
const char* scanInteger(const char* field, int32_t* out) {
    // Fast path: the usual field is a few plain digits.
    if (uint32_t d = digitValue(field[0]); d <= 9) {
        uint32_t magnitude = d;
        const char* p = field + 1;
        for (d = digitValue(*p); d <= 9; d = digitValue(*++p)) {
            magnitude = magnitude <= 214748364u ? magnitude * 10 + d : 0x80000000u;
        }
        if (isFieldChar(*p)) return nullptr;
        *out = magnitude > static_cast<uint32_t>(kInt32Max) ? kInt32Max
                                                            : static_cast<int32_t>(magnitude);
        return p;
    }
    if (!isFieldChar(field[0])) {
        *out = 0;
        return field;
    }
    const char* fieldEnd = nullptr;
    const char* p = field;
    for (; isCSpace(*p); ++p) {
        if (fieldEnd == nullptr && !isFieldChar(*p)) fieldEnd = p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = (*p == '-');
        ++p;
    }
    if (!isDigit(*p)) return nullptr;  // no conversion: strtol stops at field[0]
    // Saturates just above 2^31, which clamps to either bound.
    constexpr uint32_t kSaturated = 0x80000001u;
    uint32_t magnitude = 0;
    for (uint32_t d = digitValue(*p); d <= 9; d = digitValue(*++p)) {
        magnitude = magnitude <= 214748364u ? magnitude * 10 + d : kSaturated;
    }
    if (isFieldChar(*p)) return nullptr;
    if (negative) {
        *out = magnitude >= 0x80000000u ? kInt32Min : -static_cast<int32_t>(magnitude);
    } else {
        *out = magnitude > static_cast<uint32_t>(kInt32Max) ? kInt32Max
                                                            : static_cast<int32_t>(magnitude);
    }
    return fieldEnd != nullptr ? fieldEnd : p;
}

const char* scanDirection(const char* field, int32_t* out) {
    switch (field[0]) {
        case 'N':
        case 'E':
            *out = 1;
            break;
        case 'S':
        case 'W':
            *out = -1;
            break;
        default:
            if (isFieldChar(field[0])) return nullptr;
            *out = 0;
            break;
    }
    return field;
}

const char* scanCharacter(const char* field, char* out) {
    *out = isFieldChar(field[0]) ? field[0] : '\0';
    return field;
}

const char* scanText(const char* field, char* out) {
    const char* p = field;
    for (; isFieldChar(*p); ++p) *out++ = *p;
    *out = '\0';
    return p;
}

// The usual "f" field: plain digits with at most one point and at most nine
// digits in all, ending the field. Such a value and its scale always fit, so
// no digit needs a range check. Returns where the number stops, or nullptr
// for any other field, which then takes scanFloat's full rules.
inline const char* scanPlainFloat(const char* field, GpsFloat* out) {
    const char* p = field;
    uint32_t value = 0;  // wraps only in fields that are handed on
    uint32_t scale = 1;
    uint32_t d = 0;
    for (; (d = digitValue(*p)) <= 9; ++p) value = value * 10 + d;
    ptrdiff_t digits = p - field;
    if (*p == '.') {
        for (++p; (d = digitValue(*p)) <= 9; ++p) {
            value = value * 10 + d;
            scale *= 10;
        }
        digits = p - field - 1;
        if (digits == 0) return nullptr;  // "." alone
    }
    if (digits > 9 || isFieldChar(*p)) return nullptr;
    *out = digits == 0 ? GpsFloat{0, 0}
                       : GpsFloat{static_cast<int32_t>(value), static_cast<int32_t>(scale)};
    return p;
}

bool scanFieldsV(const char* sentence, const char* format, va_list args) {
    const char* field = sentence;
    bool optional = false;
    bool blocked = false;  // the sentence has ended and no ";" allowed absent fields
    for (const char* letter = format;; ++letter) {
        if (blocked && *letter != ';') return *letter == '\0';
        const char* stop = nullptr;
        if (*letter == 'i') [[likely]] {
            // The usual field: at most nine plain digits (a value that always
            // fits) or none, then a comma. Anything else takes the full rules.
            int32_t* const out = va_arg(args, int32_t*);
            const char* p = field;
            uint32_t value = 0;  // wraps only in fields that take the full rules
            uint32_t d = digitValue(*p);
            for (; d <= 9; d = digitValue(*++p)) value = value * 10 + d;
            if (d == digitValue(',') && p <= field + 9) [[likely]] {
                *out = static_cast<int32_t>(value);
                field = p + 1;
                continue;
            }
            stop = scanInteger(field, out);
        } else {
            switch (*letter) {
                case '\0':
                    return true;
                case ';':
                    optional = true;
                    blocked = false;
                    continue;
                case 't':  // an absent field ("") has no "$": "t" fails even after ";"
                    stop = scanTypeText(field, va_arg(args, char*));
                    break;
                case 'T':
                    stop = scanTime(field, va_arg(args, GpsTime*));
                    break;
                case 'D':
                    stop = scanDate(field, va_arg(args, GpsDate*));
                    break;
                case 'f': {
                    GpsFloat* const out = va_arg(args, GpsFloat*);
                    stop = scanPlainFloat(field, out);
                    if (stop == nullptr) stop = scanFloat(field, out);
                    break;
                }
                case 'c':
                    stop = scanCharacter(field, va_arg(args, char*));
                    break;
                case 'd':
                    stop = scanDirection(field, va_arg(args, int32_t*));
                    break;
                case 's':
                    stop = scanText(field, va_arg(args, char*));
                    break;
                case '_':
                    stop = field;
                    break;
                default:
                    return false;
            }
        }
        if (stop == nullptr) return false;
        while (isFieldChar(*stop)) ++stop;
        if (*stop == ',') {
            field = stop + 1;
        } else {
            field = kAbsentField;
            blocked = !optional;
        }
    }
}

}  // namespace

bool GPSPARSER_Scan(const char* sentence, const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    const bool result = scanFieldsV(sentence, format, args);
    va_end(args);
    return result;
}

}  // namespace vyr::nmea

extern "C" double GPSPARSER_FORMAT_DOUBLE(const GpsFloat* number) {
    const double value = static_cast<double>(number->value);
    return number->scale == 0 ? value : value / static_cast<double>(number->scale);
}

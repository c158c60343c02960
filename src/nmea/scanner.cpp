// Field scanner and the fixed-point conversion to double.
//
// One pass over the sentence: each converter reads its field from the first
// character and returns where it stopped (every character before that point is
// a field character), and the walk to the next field continues from there.
// The conversions of the field namespace wrap them with the stops and the walk.
#include "nmea/scanner.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/char_class.h"

namespace vyr::nmea {
namespace field {

const char kStops[2] = {'\0', '\0'};

}  // namespace field

namespace {

using chars::isCSpace;
using chars::isDigit;
using chars::isFieldChar;
using field::allowAbsent;
using field::kEnded;
using field::kFailed;
using field::next;

constexpr int32_t kInt32Max = 2147483647;
constexpr int32_t kInt32Min = -kInt32Max - 1;
constexpr int32_t kMaxScale = 1000000000;  // 10^9: one more digit passes kInt32Max

// 0 to 9 for a digit, above 9 for anything else: one subtraction in the loops.
constexpr uint32_t digitValue(char c) {
    return static_cast<uint32_t>(static_cast<uint8_t>(c)) - '0';
}
static_assert(digitValue('0') == 0 && digitValue('9') == 9 && digitValue('/') > 9 &&
              digitValue(':') > 9);

// 10^n for n fraction digits.
constexpr int32_t kPowersOfTen[] = {1,      10,      100,      1000,      10000,
                                    100000, 1000000, 10000000, 100000000, 1000000000};

// Six digits as three two-digit numbers (hh mm ss, dd mm yy); false when one
// of the six is not a digit. Digits are field characters, so this stops at the
// sentence's end.
bool digitPairs(const char* p, int32_t (&pairs)[3]) {
    for (int i = 0; i < 6; ++i) {
        if (!isDigit(p[i])) return false;
    }
    for (int i = 0; i < 3; ++i) pairs[i] = (p[2 * i] - '0') * 10 + (p[2 * i + 1] - '0');
    return true;
}

const char* scanTypeText(const char* field, char* out) {
    if (field[0] != '$') return nullptr;
    for (int i = 1; i <= 5; ++i) {
        if (!isFieldChar(field[i])) return nullptr;
    }
    std::memcpy(out, field + 1, 5);
    out[5] = '\0';
    return field + 6;
}

const char* scanTime(const char* field, GpsTime* out) {
    if (!isFieldChar(field[0])) {
        *out = GpsTime{-1, -1, -1, -1};
        return field;
    }
    int32_t pairs[3];
    if (!digitPairs(field, pairs)) return nullptr;
    const char* p = field + 6;
    int32_t microseconds = 0;
    if (p[0] == '.' && isDigit(p[1])) {
        const char* const fraction = ++p;
        for (; p - fraction < 6 && isDigit(*p); ++p) microseconds = microseconds * 10 + (*p - '0');
        microseconds *= kPowersOfTen[6 - (p - fraction)];
    }
    *out = GpsTime{pairs[0], pairs[1], pairs[2], microseconds};
    return p;
}

const char* scanDate(const char* field, GpsDate* out) {
    if (!isFieldChar(field[0])) {
        *out = GpsDate{-1, -1, -1};
        return field;
    }
    int32_t pairs[3];
    if (!digitPairs(field, pairs)) return nullptr;
    *out = GpsDate{pairs[0], pairs[1], pairs[2]};
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
    if (!isFieldChar(field[0])) {
        *out = 0;
        return field;
    }
    const char* fieldEnd = nullptr;
    const char* p = field;
    for (; isCSpace(*p); ++p) {
        if (fieldEnd == nullptr && !isFieldChar(*p)) fieldEnd = p;
    }
    int32_t value = 0;
    p = field::readInteger(p, &value);
    // No conversion (strtol stops at field[0]), or a field character after it.
    if (p == nullptr || isFieldChar(*p)) return nullptr;
    *out = value;
    return fieldEnd != nullptr ? fieldEnd : p;
}

const char* scanDirection(const char* field, int32_t* out) {
    const char c = field[0];
    int32_t sign = 0;
    if (c == 'N' || c == 'E') {
        sign = 1;
    } else if (c == 'S' || c == 'W') {
        sign = -1;
    } else if (isFieldChar(c)) {
        return nullptr;
    }
    *out = sign;
    return field;
}

const char* scanCharacter(const char* field, char* out) {
    *out = isFieldChar(field[0]) ? field[0] : '\0';
    return field;
}

// The usual "f" field: plain digits with at most one point, at most nine
// fraction digits and at most nine digits after any leading zeros, ending the
// field. Such a value and its scale always fit, so no digit needs a range
// check. Returns where the number stops, or nullptr for any other field,
// which then takes scanFloat's full rules.
inline const char* scanPlainFloat(const char* field, GpsFloat* out) {
    const char* p = field;
    while (*p == '0') ++p;  // leading zeros add nothing to the value
    const char* const significant = p;
    uint32_t value = 0;  // wraps only in fields that are handed on
    uint32_t d = 0;
    for (; (d = digitValue(*p)) <= 9; ++p) value = value * 10 + d;
    ptrdiff_t digits = p - significant;  // at least the value's digits
    bool anyDigit = p != field;
    int32_t scale = 1;
    if (*p == '.') {
        const char* const fraction = ++p;
        for (; (d = digitValue(*p)) <= 9; ++p) value = value * 10 + d;
        const ptrdiff_t fractionDigits = p - fraction;
        if (fractionDigits > 9) return nullptr;
        scale = kPowersOfTen[fractionDigits];
        digits += fractionDigits;
        anyDigit = anyDigit || fractionDigits != 0;
        if (!anyDigit) return nullptr;  // "." alone
    }
    if (digits > 9 || isFieldChar(*p)) return nullptr;
    *out = anyDigit ? GpsFloat{static_cast<int32_t>(value), scale} : GpsFloat{0, 0};
    return p;
}

// The conversion of one field by the letter's rules: the test for the stops,
// then the conversion, then the walk to the next field. kFailed (null) is
// never read; kEnded and kAbsent read as a NUL, so they reach a conversion
// only as an empty field, where kEnded fails and kAbsent converts as empty.
template <typename Out, const char* (*Convert)(const char*, Out*)>
const char* converted(const char* cursor, Out* out) {
    if (cursor == kFailed || (!isFieldChar(*cursor) && cursor == kEnded)) return kFailed;
    const char* const stop = Convert(cursor, out);
    return stop != nullptr ? next(stop) : kFailed;
}

const char* scanDecimal(const char* field, GpsFloat* out) {
    const char* const stop = scanPlainFloat(field, out);
    return stop != nullptr ? stop : scanFloat(field, out);
}

// The usual "i" field: none to three plain digits, then a comma, read
// directly. Each character is read only once the one before it is known to be
// a digit. Returns the next field, or nullptr for any other field (the stops
// included), which then takes the full rules.
const char* plainInteger(const char* p, int32_t* out) {
    constexpr uint32_t kComma = digitValue(',');
    const uint32_t d0 = digitValue(p[0]);
    if (d0 == kComma) {
        *out = 0;
        return p + 1;
    }
    if (d0 <= 9) {
        const uint32_t d1 = digitValue(p[1]);
        if (d1 == kComma) {
            *out = static_cast<int32_t>(d0);
            return p + 2;
        }
        if (d1 <= 9) {
            const uint32_t d2 = digitValue(p[2]);
            if (d2 == kComma) {
                *out = static_cast<int32_t>(d0 * 10 + d1);
                return p + 3;
            }
            if (d2 <= 9 && p[3] == ',') {
                *out = static_cast<int32_t>(d0 * 100 + d1 * 10 + d2);
                return p + 4;
            }
        }
    }
    return nullptr;
}

}  // namespace

namespace field {

const char* typeText(const char* cursor, TypeText* out) noexcept {
    return converted<char, scanTypeText>(cursor, *out);
}
const char* time(const char* cursor, GpsTime* out) noexcept {
    return converted<GpsTime, scanTime>(cursor, out);
}
const char* date(const char* cursor, GpsDate* out) noexcept {
    return converted<GpsDate, scanDate>(cursor, out);
}
const char* decimal(const char* cursor, GpsFloat* out) noexcept {
    return converted<GpsFloat, scanDecimal>(cursor, out);
}
const char* character(const char* cursor, char* out) noexcept {
    return converted<char, scanCharacter>(cursor, out);
}
const char* direction(const char* cursor, int32_t* out) noexcept {
    return converted<int32_t, scanDirection>(cursor, out);
}

const char* integer(const char* cursor, int32_t* out) noexcept {
    if (cursor == kFailed) return kFailed;
    const char* const after = plainInteger(cursor, out);
    return after != nullptr ? after : converted<int32_t, scanInteger>(cursor, out);
}
const char* optionalInteger(const char* cursor, int32_t* out) noexcept {
    if (cursor == kFailed) return kFailed;
    const char* const after = plainInteger(cursor, out);
    return after != nullptr ? after : converted<int32_t, scanInteger>(allowAbsent(cursor), out);
}

const char* next(const char* stop) noexcept {
    while (isFieldChar(*stop)) ++stop;
    return *stop == ',' ? stop + 1 : kEnded;
}

const char* readInteger(const char* text, int32_t* out) noexcept {
    const char* p = text;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    uint32_t d = digitValue(*p);
    if (d > 9) return nullptr;
    // Saturates just above 2^31, which clamps to either bound.
    uint32_t magnitude = 0;
    for (; d <= 9; d = digitValue(*++p)) {
        magnitude = magnitude <= 214748364u ? magnitude * 10 + d : 0x80000001u;
    }
    if (negative) {
        *out = magnitude >= 0x80000000u ? kInt32Min : -static_cast<int32_t>(magnitude);
    } else {
        *out = magnitude > static_cast<uint32_t>(kInt32Max) ? kInt32Max
                                                            : static_cast<int32_t>(magnitude);
    }
    return p;
}

const char* skip(const char* cursor) noexcept {
    return cursor == kFailed || cursor == kEnded ? kFailed : next(cursor);
}

}  // namespace field

double toDouble(const GpsFloat& number) noexcept {
    const double value = static_cast<double>(number.value);
    return number.scale == 0 ? value : value / static_cast<double>(number.scale);
}

}  // namespace vyr::nmea

extern "C" double GPSPARSER_FORMAT_DOUBLE(const GpsFloat* number) {
    return vyr::nmea::toDouble(*number);
}

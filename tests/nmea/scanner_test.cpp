// Field scanner: each letter on its own field, then the walk over a sentence,
// and the compile-time check of formats against their outputs.
#include "nmea/scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using vyr::nmea::scanFields;
using vyr::nmea::ScanFormat;
using vyr::nmea::detail::formatMatches;
using TypeText = char[6];

// A format that does not match its outputs does not compile.
static_assert(formatMatches<"tTcfdfdffDfd", TypeText, GpsTime, char, GpsFloat, int32_t, GpsFloat,
                            int32_t, GpsFloat, GpsFloat, GpsDate, GpsFloat, int32_t>());
static_assert(formatMatches<"t_;s", TypeText, char>() && formatMatches<";_">());
static_assert(!formatMatches<"tiXi", TypeText, int32_t, int32_t, int32_t>());  // unknown letter
static_assert(!formatMatches<"ti", TypeText, GpsFloat>());                     // wrong type
static_assert(!formatMatches<"ti", char, int32_t>());                          // "t" takes char[6]
static_assert(!formatMatches<"tD", TypeText, GpsTime>());
static_assert(!formatMatches<"ti", TypeText>() && !formatMatches<"t", TypeText, int32_t>());

// Scans "$GPXXX,<field>,5" with format "t<letter>i" into an output holding 7s
// and renders that output as its 32-bit words, "!" first when the scan failed.
// The field after it must be written exactly when the scan succeeded.
template <char Letter, typename Out>
std::string scanAs(const std::string& field, Out out) {
    TypeText type;
    int32_t later = 7, words[4];
    std::string sentence = "$GPXXX,";  // appends: GCC 12 -O3 warns (-Wrestrict) on a + chain
    sentence.append(field).append(",5");
    const bool ok =
        scanFields<ScanFormat<4>({'t', Letter, 'i', '\0'})>(sentence.c_str(), &type, &out, &later);
    EXPECT_EQ(later, ok ? 5 : 7) << Letter << " \"" << field << '"';
    std::memcpy(words, &out, sizeof out);
    std::string text = ok ? "" : "!";
    for (size_t i = 0; i < sizeof out / 4; ++i) (i ? text += ' ' : text) += std::to_string(words[i]);
    return text;
}

std::string scanOne(char letter, const std::string& field) {
    switch (letter) {
        case 'f':
            return scanAs<'f'>(field, GpsFloat{7, 7});
        case 'T':
            return scanAs<'T'>(field, GpsTime{7, 7, 7, 7});
        case 'D':
            return scanAs<'D'>(field, GpsDate{7, 7, 7});
        case 'd':
            return scanAs<'d'>(field, int32_t{7});
        default:
            return scanAs<'i'>(field, int32_t{7});
    }
}

TEST(ScanLetters, EachLetterOnItsOwnField) {
    // clang-format off
    const char* const cases[][2] = {  // letter and field, expected output
        {"f4916.45", "491645 100"}, {"f-.5", "-5 10"}, {"f  12", "12 1"}, {"f", "0 0"},
        {"f214748364.79", "2147483647 10"}, {"f0.0000000001", "0 1000000000"},
        {"f-0.00000000123", "-1 1000000000"}, {"f2147483648", "!7 7"}, {"f12 ", "!7 7"},
        {"f- 5", "!7 7"}, {"f+", "!7 7"}, {"f-", "!7 7"}, {"f.", "!7 7"}, {"f1.2.3", "!7 7"},
        {"f1e3", "!7 7"}, {"f0", "0 1"}, {"f0.", "0 1"}, {"f.0", "0 10"}, {"f000", "0 1"},
        // Leading zeros do not count towards the nine digits that always fit.
        {"f01131.00002", "113100002 100000"}, {"f0000123456789.5", "1234567895 10"},
        {"f00.123456789", "123456789 1000000000"}, {"f1.2345678901", "1234567890 1000000000"},
        {"f0.1234567891", "123456789 1000000000"}, {"f9999999999", "!7 7"},
        {"T123519", "12 35 19 0"}, {"T123519.5", "12 35 19 500000"},
        {"T123519.1234567", "12 35 19 123456"}, {"T123519.05", "12 35 19 50000"},
        {"T123519.", "12 35 19 0"}, {"T", "-1 -1 -1 -1"}, {"T12351", "!7 7 7 7"},
        {"T12a519", "!7 7 7 7"}, {"D230394", "23 3 94"}, {"D", "-1 -1 -1"}, {"D23039", "!7 7 7"},
        {"dN", "1"}, {"dE", "1"}, {"dS", "-1"}, {"dW", "-1"}, {"d", "0"}, {"dn", "!7"}};
    // clang-format on
    for (const auto& [field, expected] : cases) {
        EXPECT_EQ(scanOne(field[0], field + 1), expected) << field;
    }
    // "i" is strtol base 10 clamped to 32 bits, failing when strtol stops on a
    // field character; the short plain fields take a path of their own.
    for (const char* field :
         {"-7",         "+5",   "  42", "2147483648", "-2147483649", "99999999999999999999",
          "12a",        "12.5", "+",    " ",          "1 ",          "",
          "0",          "7",    "07",   "123",        "1234",        "123456789",
          "1234567890", "1a",   "12a",  "123a",       "12 "}) {
        const std::string text = std::string(field) + ",5";
        char* end = nullptr;
        const long parsed = std::strtol(text.c_str(), &end, 10);
        const long clamped = std::max<long>(INT32_MIN, std::min<long>(INT32_MAX, parsed));
        EXPECT_EQ(scanOne('i', field), *end == ',' ? std::to_string(clamped) : "!7") << field;
    }
}

// Renders type and three integers, "!" first when the scan failed.
template <ScanFormat F>
std::string walk(const char* sentence) {
    TypeText type = "?";
    int32_t n[3] = {9, 9, 9};
    bool ok = false;
    if constexpr (F.outputs() == 4) {
        ok = scanFields<F>(sentence, &type, &n[0], &n[1], &n[2]);
    } else if constexpr (F.outputs() == 3) {
        ok = scanFields<F>(sentence, &type, &n[0], &n[1]);
    } else {
        ok = scanFields<F>(sentence, &type, &n[0]);
    }
    char out[64];
    std::snprintf(out, sizeof out, "%s%s %d %d %d", ok ? "" : "!", type, n[0], n[1], n[2]);
    return out;
}

// The walk: type text, empty and absent fields, ";", and partial writes
// (fields before the failing one written, the rest untouched).
TEST(ScanWalk, FieldsAndFailures) {
    const struct {
        const char* sentence;
        std::string (*scan)(const char*);
        const char* expected;
    } cases[] = {
        {"$GPGSV,3,,5", walk<"tiii">, "GPGSV 3 0 5"},
        {"$GPGSV,3", walk<"tiii">, "!GPGSV 3 9 9"},
        {"$GPGSV,3", walk<"ti;ii">, "GPGSV 3 0 0"},
        {"$GPGSV,3,4", walk<"ti;ii">, "GPGSV 3 4 0"},  // optional after a last real field
        {"$GPGSV,3*12,5", walk<"ti;ii">, "GPGSV 3 0 0"},
        {"$GPGSV,3\r\n,5", walk<"ti;ii">, "GPGSV 3 0 0"},
        {"$GPGSV,3,x,5", walk<"tiii">, "!GPGSV 3 9 9"},
        {"$GPGSV,x,4,5", walk<"tiii">, "!GPGSV 9 9 9"},  // nothing after a failure is written
        {"$GPGSV,3,4,5", walk<"ti_i">, "GPGSV 3 5 9"},
        {"$GPGSV,3,4", walk<"ti_i">, "!GPGSV 3 9 9"},  // "_" needs its field
        {"$GPGSV,3,4", walk<"ti;_i">, "GPGSV 3 0 9"},
        {"$GPGSV,3,4,5", walk<"t;;iii">, "GPGSV 3 4 5"},
        {"$GPRMCX,1", walk<"ti">, "GPRMC 1 9 9"},
        {"$GP RM,1", walk<"ti">, "GP RM 1 9 9"},
        {"$GPRM,1", walk<"ti">, "!? 9 9 9"},
        {"GPRMCX,1", walk<"ti">, "!? 9 9 9"},
        {"$GP*MC,1", walk<"ti">, "!? 9 9 9"},
        {"", walk<"ti">, "!? 9 9 9"},
    };
    for (const auto& [sentence, scan, expected] : cases) {
        EXPECT_EQ(scan(sentence), expected) << sentence;
    }
    TypeText type;
    EXPECT_FALSE(scanFields<"t;t">("$GPGSV", &type, &type));  // "t" on an absent field
    EXPECT_TRUE(scanFields<"">("anything"));
}

}  // namespace

// Field scanner: each letter on its own field, then the walk over a sentence.
#include "nmea/scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using vyr::nmea::GPSPARSER_Scan;

// Scans "$GPXXX,<field>,5" with format "t<letter>i" into an output holding 7s
// and renders that output as its 32-bit words, "!" first when the scan failed.
// The field after it must be written exactly when the scan succeeded.
template <typename Out>
std::string scanAs(char letter, const std::string& field, Out out) {
    const char format[] = {'t', letter, 'i', '\0'};
    char type[6];
    int32_t later = 7, words[4];
    std::string sentence = "$GPXXX,";  // appends: GCC 12 -O3 warns (-Wrestrict) on a + chain
    sentence.append(field).append(",5");
    const bool ok = GPSPARSER_Scan(sentence.c_str(), format, type, &out, &later);
    EXPECT_EQ(later, ok ? 5 : 7) << letter << " \"" << field << '"';
    std::memcpy(words, &out, sizeof out);
    std::string text = ok ? "" : "!";
    for (size_t i = 0; i < sizeof out / 4; ++i) (i ? text += ' ' : text) += std::to_string(words[i]);
    return text;
}

std::string scanOne(char letter, const std::string& field) {
    return letter == 'f'   ? scanAs(letter, field, GpsFloat{7, 7})
           : letter == 'T' ? scanAs(letter, field, GpsTime{7, 7, 7, 7})
           : letter == 'D' ? scanAs(letter, field, GpsDate{7, 7, 7})
                           : scanAs(letter, field, int32_t{7});
}

TEST(ScanLetters, EachLetterOnItsOwnField) {
    // clang-format off
    const char* const cases[][2] = {  // letter and field, expected output
        {"f4916.45", "491645 100"}, {"f-.5", "-5 10"}, {"f  12", "12 1"}, {"f", "0 0"},
        {"f214748364.79", "2147483647 10"}, {"f0.0000000001", "0 1000000000"},
        {"f-0.00000000123", "-1 1000000000"}, {"f2147483648", "!7 7"}, {"f12 ", "!7 7"},
        {"f- 5", "!7 7"}, {"f+", "!7 7"}, {"f-", "!7 7"}, {"f.", "!7 7"}, {"f1.2.3", "!7 7"},
        {"f1e3", "!7 7"}, {"T123519", "12 35 19 0"}, {"T123519.5", "12 35 19 500000"},
        {"T123519.1234567", "12 35 19 123456"}, {"T123519.05", "12 35 19 50000"},
        {"T", "-1 -1 -1 -1"}, {"T12351", "!7 7 7 7"}, {"T12a519", "!7 7 7 7"},
        {"D230394", "23 3 94"}, {"D", "-1 -1 -1"}, {"D23039", "!7 7 7"}, {"dN", "1"}, {"dE", "1"},
        {"dS", "-1"}, {"dW", "-1"}, {"d", "0"}, {"dn", "!7"}};
    // clang-format on
    for (const auto& [field, expected] : cases) {
        EXPECT_EQ(scanOne(field[0], field + 1), expected) << field;
    }
    // "i" is strtol base 10 clamped to 32 bits, failing when strtol stops on a
    // field character.
    for (const char* field : {"-7", "+5", "  42", "2147483648", "-2147483649",
                              "99999999999999999999", "12a", "12.5", "+", " ", "1 ", ""}) {
        const std::string text = std::string(field) + ",5";
        char* end = nullptr;
        const long parsed = std::strtol(text.c_str(), &end, 10);
        const long clamped = std::max<long>(INT32_MIN, std::min<long>(INT32_MAX, parsed));
        EXPECT_EQ(scanOne('i', field), *end == ',' ? std::to_string(clamped) : "!7") << field;
    }
}

// The walk: type text, empty and absent fields, ";", an unknown letter, and
// partial writes (fields before the failing one written, the rest untouched).
TEST(ScanWalk, FieldsAndFailures) {
    const char* const cases[][3] = {
        // sentence, format, expected
        {"$GPGSV,3,,5", "tiii", "GPGSV 3 0 5"},
        {"$GPGSV,3", "tiii", "!GPGSV 3 9 9"},
        {"$GPGSV,3", "ti;ii", "GPGSV 3 0 0"},
        {"$GPGSV,3*12,5", "ti;ii", "GPGSV 3 0 0"},
        {"$GPGSV,3\r\n,5", "ti;ii", "GPGSV 3 0 0"},
        {"$GPGSV,3,x,5", "tiii", "!GPGSV 3 9 9"},
        {"$GPGSV,3,4,5", "tiXi", "!GPGSV 3 9 9"},
        {"$GPGSV,3,4,5", "ti_i", "GPGSV 3 5 9"},
        {"$GPRMCX,1", "ti", "GPRMC 1 9 9"},
        {"$GP RM,1", "ti", "GP RM 1 9 9"},
        {"$GPRM,1", "ti", "!? 9 9 9"},
        {"GPRMCX,1", "ti", "!? 9 9 9"},
        {"$GP*MC,1", "ti", "!? 9 9 9"},
    };
    for (const auto& [sentence, format, expected] : cases) {
        char type[6] = "?";
        int32_t n[3] = {9, 9, 9};
        const bool ok = GPSPARSER_Scan(sentence, format, type, &n[0], &n[1], &n[2]);
        char out[64];
        std::snprintf(out, sizeof out, "%s%s %d %d %d", ok ? "" : "!", type, n[0], n[1], n[2]);
        EXPECT_EQ(std::string(out), expected) << sentence << " " << format;
    }
    char type[6];
    EXPECT_FALSE(GPSPARSER_Scan("$GPGSV", "t;t", type, type));  // "t" on an absent field
}

}  // namespace

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

// Scans "$GPXXX,<field><tail>" with "t" and the letter, into out.
template <typename T>
bool scanField(char letter, const std::string& field, T* out, const char* tail = ",9*00\r\n") {
    const std::string sentence = "$GPXXX," + field + tail;
    const char format[] = {'t', letter, '\0'};
    char type[6];
    return GPSPARSER_Scan(sentence.c_str(), format, type, out);
}

TEST(ScanFloat, FixedPointRules) {
    const struct {
        const char* field;
        bool ok;
        int32_t value, scale;
    } cases[] = {{"4916.45", true, 491645, 100},
                 {"-0.0", true, 0, 10},
                 {"  12", true, 12, 1},
                 {"7.", true, 7, 1},
                 {"-.5", true, -5, 10},
                 {"+7", true, 7, 1},
                 {"", true, 0, 0},
                 {"  ", true, 0, 0},
                 {"0000000000.5", true, 5, 10},
                 {"2147483647", true, 2147483647, 1},
                 {"-2147483647", true, -2147483647, 1},
                 // Overflow after the point ends the number at the last digit that fit.
                 {"1.23456789012", true, 1234567890, 1000000000},
                 {"214748364.79", true, 2147483647, 10},
                 {"21474836.48x", true, 214748364, 10},
                 // More than nine fraction digits of a small value: the scale stops at 10^9.
                 {"0.0000000001", true, 0, 1000000000},
                 {"-0.00000000123", true, -1, 1000000000},
                 // Failures; overflow before the point fails.
                 {"2147483648", false, 0, 0},
                 {"12 ", false, 0, 0},
                 {"1 2", false, 0, 0},
                 {"- 5", false, 0, 0},
                 {"1.2.3", false, 0, 0},
                 {"+", false, 0, 0},
                 {"-", false, 0, 0},
                 {".", false, 0, 0},
                 {"+.", false, 0, 0},
                 {"1e3", false, 0, 0},
                 {"5-", false, 0, 0},
                 {"--5", false, 0, 0},
                 {"12x", false, 0, 0}};
    for (const auto& c : cases) {
        GpsFloat out{111, 222};
        EXPECT_EQ(scanField('f', c.field, &out), c.ok) << '"' << c.field << '"';
        const GpsFloat expected = c.ok ? GpsFloat{c.value, c.scale} : GpsFloat{111, 222};
        EXPECT_EQ(out.value, expected.value) << '"' << c.field << '"';
        EXPECT_EQ(out.scale, expected.scale) << '"' << c.field << '"';
    }
}

TEST(ScanTimeAndDate, DigitPairsAndFraction) {
    const struct {
        char letter;
        const char* field;
        bool ok;
        GpsTime expected;  // a date uses the first three members
    } cases[] = {{'T', "123519", true, {12, 35, 19, 0}},
                 {'T', "123519.5", true, {12, 35, 19, 500000}},
                 {'T', "123519.1234567", true, {12, 35, 19, 123456}},
                 {'T', "123519.05", true, {12, 35, 19, 50000}},
                 {'T', "123519.", true, {12, 35, 19, 0}},
                 {'T', "123519.x", true, {12, 35, 19, 0}},
                 {'T', "996161", true, {99, 61, 61, 0}},
                 {'T', "", true, {-1, -1, -1, -1}},
                 {'T', "12351", false, {7, 7, 7, 7}},
                 {'T', "12a519", false, {7, 7, 7, 7}},
                 {'T', " 123519", false, {7, 7, 7, 7}},
                 {'D', "230394", true, {23, 3, 94, 7}},
                 {'D', "2303941", true, {23, 3, 94, 7}},
                 {'D', "", true, {-1, -1, -1, 7}},
                 {'D', "23039", false, {7, 7, 7, 7}}};
    for (const auto& c : cases) {
        GpsTime out{7, 7, 7, 7};
        const bool ok = c.letter == 'T' ? scanField('T', c.field, &out)
                                        : scanField('D', c.field, reinterpret_cast<GpsDate*>(&out));
        EXPECT_EQ(ok, c.ok) << c.letter << '"' << c.field << '"';
        EXPECT_EQ(0, std::memcmp(&out, &c.expected, sizeof out))
            << c.letter << '"' << c.field << '"';
    }
}

// "i" is strtol base 10 from the field's first character, clamped to 32 bits,
// and fails when strtol stops on a field character.
TEST(ScanInteger, AgreesWithStrtol) {
    const char* fields[] = {"0",
                            "-7",
                            "+5",
                            "007",
                            "  42",
                            " \t42",
                            " \r\n 42",
                            "2147483647",
                            "2147483648",
                            "-2147483648",
                            "-2147483649",
                            "99999999999999999999",
                            "-99999999999999999999",
                            "12.5",
                            "12a",
                            " ",
                            "+",
                            "-",
                            "+-1",
                            "- 1",
                            "1 ",
                            "",
                            "\t5"};
    const char* tails[] = {",1", "*7F", "", "\r\n"};
    for (const char* field : fields) {
        for (const char* tail : tails) {
            const std::string text = std::string(field) + tail;
            char* end = nullptr;
            const long parsed = std::strtol(text.c_str(), &end, 10);
            const unsigned char stop = static_cast<unsigned char>(*end);
            const bool empty = !(field[0] >= 0x20 && field[0] <= 0x7E);
            const bool stopIsFieldChar = stop >= 0x20 && stop <= 0x7E && stop != ',' && stop != '*';
            const bool ok = empty || !stopIsFieldChar;
            const long clamped = parsed > INT32_MAX   ? INT32_MAX
                                 : parsed < INT32_MIN ? INT32_MIN
                                                      : parsed;
            int32_t out = 12345;
            SCOPED_TRACE('"' + text + '"');
            EXPECT_EQ(scanField('i', field, &out, tail), ok);
            EXPECT_EQ(out, ok ? (empty ? 0 : clamped) : 12345);
        }
    }
}

TEST(ScanLetters, CharacterDirectionTextAndType) {
    const struct {
        char letter;
        const char* field;
        bool ok;
        const char* expected;  // c: the character; d: the sign as text; s, t: the text
    } cases[] = {
        {'c', "A", true, "A"},      {'c', "AB", true, "A"},          {'c', "", true, ""},
        {'d', "N", true, "1"},      {'d', "E", true, "1"},           {'d', "S", true, "-1"},
        {'d', "W", true, "-1"},     {'d', "NX", true, "1"},          {'d', "", true, "0"},
        {'d', "n", false, "9"},     {'d', "X", false, "9"},          {'s', "a b$", true, "a b$"},
        {'s', "", true, ""},        {'t', "$GPRMCX", true, "GPRMC"}, {'t', "$GP RM", true, "GP RM"},
        {'t', "$GPRM", false, "?"}, {'t', "GPRMCX", false, "?"},     {'t', "$GP*MC", false, "?"}};
    for (const auto& c : cases) {
        char text[16] = "?";
        int32_t direction = 9;
        bool ok = false;
        std::string got;
        switch (c.letter) {
            case 'd':
                ok = scanField('d', c.field, &direction);
                got = std::to_string(direction);
                break;
            case 't':  // the type is the sentence's first field
                ok = GPSPARSER_Scan(c.field, "t", text);
                got = text;
                break;
            default:
                ok = scanField(c.letter, c.field, text);
                got = c.letter == 'c' ? std::string(text, text[0] != '\0' ? 1 : 0) : text;
                break;
        }
        EXPECT_EQ(ok, c.ok) << c.letter << '"' << c.field << '"';
        EXPECT_EQ(got, c.expected) << c.letter << '"' << c.field << '"';
    }
}

TEST(ScanWalk, EmptyGgaFieldsAndTheSkippedLastField) {
    const char* sentence = "$GPGGA,,,,,,0,00,99.99,,,,,,*48";
    char type[6];
    GpsTime time{};
    GpsFloat lat{5, 5}, lon{5, 5}, hdop{}, alt{5, 5}, sep{5, 5}, age{5, 5};
    int32_t latDir = 5, lonDir = 5, quality = 5, used = 5;
    char altUnit = 'x', sepUnit = 'x';
    ASSERT_TRUE(GPSPARSER_Scan(sentence, "tTfdfdiiffcfcf_", type, &time, &lat, &latDir, &lon,
                               &lonDir, &quality, &used, &hdop, &alt, &altUnit, &sep, &sepUnit,
                               &age));
    EXPECT_EQ(time.hours + time.minutes + time.seconds + time.microseconds, -4);
    EXPECT_EQ(lat.scale + lon.scale + alt.scale + sep.scale + age.scale + latDir + lonDir, 0);
    EXPECT_EQ(quality + used + altUnit + sepUnit, 0);
    EXPECT_EQ(hdop.value, 9999);
    EXPECT_EQ(hdop.scale, 100);
    // Thirteen fields: "_" finds no field.
    EXPECT_FALSE(GPSPARSER_Scan("$GPGGA,,,,,,0,00,99.99,,,,,*48", "tTfdfdiiffcfcf_", type, &time,
                                &lat, &latDir, &lon, &lonDir, &quality, &used, &hdop, &alt,
                                &altUnit, &sep, &sepUnit, &age));
}

TEST(ScanWalk, AbsentFieldsAndPartialWrites) {
    char type[6] = "?";
    int32_t n[4] = {7, 7, 7, 7};
    // Without ";" an absent field fails; the fields before it are written.
    EXPECT_FALSE(GPSPARSER_Scan("$GPGSV,3", "tiii", type, &n[0], &n[1], &n[2]));
    EXPECT_STREQ(type, "GPGSV");
    EXPECT_EQ(n[0], 3);
    EXPECT_EQ(n[1], 7);
    // After ";" absent fields are 0; "*" and a line end end the sentence.
    for (const char* sentence : {"$GPGSV,3*12,5,6", "$GPGSV,3\r\n,5,6", "$GPGSV,3"}) {
        n[1] = n[2] = n[3] = 7;
        EXPECT_TRUE(GPSPARSER_Scan(sentence, "ti;ii_i", type, &n[0], &n[1], &n[2], &n[3]));
        EXPECT_EQ(n[1] | n[2] | n[3], 0) << sentence;
    }
    // White space that strtol skips past the field's end ends the sentence.
    EXPECT_TRUE(GPSPARSER_Scan("$GPGSV, \t42,7", "ti;i", type, &n[0], &n[1]));
    EXPECT_EQ(n[0], 42);
    EXPECT_EQ(n[1], 0);
    // "t" fails on an absent field even after ";".
    EXPECT_FALSE(GPSPARSER_Scan("$GPGSV", "t;t", type, type));
    // A failing field leaves its own output untouched, also an unknown letter's.
    GpsTime time{};
    GpsFloat number{4, 4};
    EXPECT_FALSE(GPSPARSER_Scan("$GPXXX,123519,1.2.3", "tTf", type, &time, &number));
    EXPECT_EQ(time.seconds, 19);
    EXPECT_EQ(number.value, 4);
    for (const char* format : {"tx", "tF"}) {
        EXPECT_FALSE(GPSPARSER_Scan("$GPXXX,1.5", format, type, &number));
        EXPECT_EQ(number.value, 4);
    }
    // An empty format succeeds; fields past the format are ignored.
    EXPECT_TRUE(GPSPARSER_Scan("", ""));
    EXPECT_TRUE(GPSPARSER_Scan("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W",
                               "tT", type, &time));
}

TEST(ScanWalk, GsvWithOneSatelliteFillsTheMissingOnesWithZero) {
    char type[6];
    int32_t v[19];
    std::fill(std::begin(v), std::end(v), -9);
    ASSERT_TRUE(GPSPARSER_Scan("$GPGSV,3,3,09,25,45,120,38*7A", "tiii;iiiiiiiiiiiiiiii", type,
                               &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9],
                               &v[10], &v[11], &v[12], &v[13], &v[14], &v[15], &v[16], &v[17],
                               &v[18]));
    const int32_t expected[19] = {3, 3, 9, 25, 45, 120, 38};
    EXPECT_EQ(0, std::memcmp(v, expected, sizeof v));
}

TEST(FormatDouble, EmptyFieldIsZero) {
    const GpsFloat empty{0, 0}, a{1250, 100}, b{-5, 10}, raw{7, 0};
    EXPECT_EQ(GPSPARSER_FORMAT_DOUBLE(&empty), 0.0);
    EXPECT_EQ(GPSPARSER_FORMAT_DOUBLE(&a), 12.5);
    EXPECT_EQ(GPSPARSER_FORMAT_DOUBLE(&b), -0.5);
    EXPECT_EQ(GPSPARSER_FORMAT_DOUBLE(&raw), 7.0);
}

}  // namespace

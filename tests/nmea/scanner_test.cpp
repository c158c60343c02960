// Field scanner: each letter on its own field, then the walk over a sentence.
#include "nmea/scanner.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using vyr::nmea::GPSPARSER_Scan;

// Scans "$GPXXX,<field><tail>" with "t" and the letter ("t" alone scans the
// field as the sentence) and renders the output, whose starting contents are
// sentinels; "!" marks a failed scan.
std::string scanOne(char letter, const std::string& field, const char* tail = ",9*00\r\n") {
    const std::string sentence = letter == 't' ? field : "$GPXXX," + field + tail;
    const char format[] = {'t', letter, '\0'};
    char type[6], text[64] = "?", out[80];
    GpsFloat f{111, 222};
    GpsTime t{7, 7, 7, 7};
    GpsDate d{7, 7, 7};
    int32_t n = 9;
    bool ok = false;
    switch (letter) {
        case 'f':
            ok = GPSPARSER_Scan(sentence.c_str(), format, type, &f);
            std::snprintf(out, sizeof out, "%d/%d", f.value, f.scale);
            break;
        case 'T':
            ok = GPSPARSER_Scan(sentence.c_str(), format, type, &t);
            std::snprintf(out, sizeof out, "%d:%d:%d.%d", t.hours, t.minutes, t.seconds,
                          t.microseconds);
            break;
        case 'D':
            ok = GPSPARSER_Scan(sentence.c_str(), format, type, &d);
            std::snprintf(out, sizeof out, "%d.%d.%d", d.day, d.month, d.year);
            break;
        case 'i':
        case 'd':
            ok = GPSPARSER_Scan(sentence.c_str(), format, type, &n);
            std::snprintf(out, sizeof out, "%d", n);
            break;
        case 't':
            ok = GPSPARSER_Scan(sentence.c_str(), "t", text);
            std::snprintf(out, sizeof out, "%s", text);
            break;
        default:  // c, s
            ok = GPSPARSER_Scan(sentence.c_str(), format, type, text);
            std::snprintf(out, sizeof out, "%.*s", letter == 'c' ? 1 : 63, text);
            break;
    }
    return (ok ? "" : "!") + std::string(out);
}

TEST(ScanLetters, EachLetterOnItsOwnField) {
    const struct {
        char letter;
        const char* field;
        const char* expected;
    } cases[] = {
        // clang-format off
        {'f', "4916.45", "491645/100"}, {'f', "-0.0", "0/10"}, {'f', "  12", "12/1"}, {'f', "7.", "7/1"},
        {'f', "-.5", "-5/10"}, {'f', "", "0/0"}, {'f', "  ", "0/0"}, {'f', "0000000000.5", "5/10"},
        {'f', "-2147483647", "-2147483647/1"},
        // Overflow after the point ends the number at the last digit that fit;
        // so does a scale past 10^9 (more than nine fraction digits, small value).
        {'f', "1.23456789012", "1234567890/1000000000"}, {'f', "214748364.79", "2147483647/10"},
        {'f', "21474836.48x", "214748364/10"}, {'f', "0.0000000001", "0/1000000000"},
        {'f', "-0.00000000123", "-1/1000000000"},
        // Overflow before the point, misplaced spaces, signs and points fail.
        {'f', "2147483648", "!111/222"}, {'f', "12 ", "!111/222"}, {'f', "- 5", "!111/222"},
        {'f', "1.2.3", "!111/222"}, {'f', "+", "!111/222"}, {'f', "-", "!111/222"}, {'f', ".", "!111/222"},
        {'f', "+.", "!111/222"}, {'f', "1e3", "!111/222"}, {'f', "5-", "!111/222"}, {'f', "--5", "!111/222"},
        {'T', "123519", "12:35:19.0"}, {'T', "123519.5", "12:35:19.500000"},
        {'T', "123519.1234567", "12:35:19.123456"}, {'T', "123519.05", "12:35:19.50000"},
        {'T', "123519.", "12:35:19.0"}, {'T', "123519.x", "12:35:19.0"}, {'T', "996161", "99:61:61.0"},
        {'T', "", "-1:-1:-1.-1"}, {'T', "12351", "!7:7:7.7"}, {'T', "12a519", "!7:7:7.7"},
        {'T', " 123519", "!7:7:7.7"},
        {'D', "230394", "23.3.94"}, {'D', "2303941", "23.3.94"}, {'D', "", "-1.-1.-1"}, {'D', "23039", "!7.7.7"},
        {'c', "A", "A"}, {'c', "AB", "A"}, {'c', "", ""}, {'s', "a b$", "a b$"}, {'s', "", ""},
        {'d', "N", "1"}, {'d', "E", "1"}, {'d', "S", "-1"}, {'d', "W", "-1"}, {'d', "NX", "1"}, {'d', "", "0"},
        {'d', "n", "!9"}, {'d', "X", "!9"},
        {'t', "$GPRMCX", "GPRMC"}, {'t', "$GP RM", "GP RM"}, {'t', "$GPRM", "!?"}, {'t', "GPRMCX", "!?"},
        {'t', "$GP*MC", "!?"},
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_EQ(scanOne(c.letter, c.field), c.expected) << c.letter << " \"" << c.field << '"';
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
    for (const char* field : fields) {
        for (const char* tail : {",1", "*7F", "", "\r\n"}) {
            const std::string text = std::string(field) + tail;
            char* end = nullptr;
            const long parsed = std::strtol(text.c_str(), &end, 10);
            const auto isFieldChar = [](char c) {
                return c >= 0x20 && c <= 0x7E && c != ',' && c != '*';
            };
            const long clamped = parsed > INT32_MAX   ? INT32_MAX
                                 : parsed < INT32_MIN ? INT32_MIN
                                                      : parsed;
            const std::string expected = !isFieldChar(field[0]) ? "0"
                                         : isFieldChar(*end)    ? "!9"
                                                                : std::to_string(clamped);
            EXPECT_EQ(scanOne('i', field, tail), expected) << '"' << text << '"';
        }
    }
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

TEST(FormatDouble, EmptyFieldIsZero) {
    const GpsFloat empty{0, 0}, a{1250, 100}, b{-5, 10}, raw{7, 0};
    EXPECT_EQ(GPSPARSER_FORMAT_DOUBLE(&empty), 0.0);
    EXPECT_EQ(GPSPARSER_FORMAT_DOUBLE(&a), 12.5);
    EXPECT_EQ(GPSPARSER_FORMAT_DOUBLE(&b), -0.5);
    EXPECT_EQ(GPSPARSER_FORMAT_DOUBLE(&raw), 7.0);
}

}  // namespace

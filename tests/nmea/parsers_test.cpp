// Sentence parsers and the raw-set parse: records word by word, talker
// independence, the formatter check, log lines, used-in-fix marks, and real
// receiver captures.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>

#include "support/log_capture.h"
#include "vyr_gpsparser.h"
#include "vyr_platform.h"

namespace {

template <typename Record, int32_t (*parse)(Record*, const char*)>
int32_t parseInto(void* record, const char* sentence) {
    return parse(static_cast<Record*>(record), sentence);
}
// clang-format off
#define VYR_PARSER(T, F) {#F, parseInto<T, GPSPARSER_Parse##F>, sizeof(T) / 4}
struct Parser { const char* formatter; int32_t (*parse)(void*, const char*); size_t words; };
const Parser kParsers[] = {VYR_PARSER(GpsRmc, RMC), VYR_PARSER(GpsGga, GGA), VYR_PARSER(GpsGsa, GSA),
    VYR_PARSER(GpsGll, GLL), VYR_PARSER(GpsGst, GST), VYR_PARSER(GpsGsv, GSV), VYR_PARSER(GpsVtg, VTG),
    VYR_PARSER(GpsZda, ZDA)};
// clang-format on
enum { RMC, GGA, GSA, GLL, GST, GSV, VTG, ZDA };

// "result:" and the zeroed record after the parse as its 32-bit words (a char
// with its reserved bytes reads as the character code).
std::string parseWords(const Parser& parser, const std::string& sentence) {
    int32_t words[32] = {};
    std::string text = std::to_string(parser.parse(words, sentence.c_str())) + ":";
    for (size_t i = 0; i < parser.words; ++i) (text += ' ') += std::to_string(words[i]);
    return text;
}

TEST(Parsers, RecordsTalkersAndFormatter) {
    // clang-format off
    const struct { int parser; const char *sentence, *expected; } cases[] = {  // result: words
        {RMC, "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A",
         "1: 12 35 19 0 1 4807038 1000 1131000 1000 224 10 844 10 23 3 94 -31 10"},
        // Signs multiply: an empty direction zeroes the value and keeps the scale.
        {RMC, "$GPRMC,123519,V,4807.038,S,01131.000,,022.4,084.4,230394,003.1,E,A",
         "1: 12 35 19 0 0 -4807038 1000 0 1000 224 10 844 10 23 3 94 31 10"},
        {GGA, "$GPGGA,123519,4807.038,S,01131.000,W,1,08,0.9,545.4,M,46.9,M,,*47",
         "1: 12 35 19 0 -4807038 1000 -1131000 1000 1 8 9 10 5454 10 77 469 10 77 0 0"},
        {GGA, "$GPGGA,123519,4807.038,S,01131.000,W,1,08,0.9,545.4,M,46.9,M,", "0:"},
        {GSA, "$GPGSA,A,3,04,05,09,,,,,,,,,,2.5,1.3,2.1*39",
         "1: 65 3 4 5 9 0 0 0 0 0 0 0 0 0 25 10 13 10 21 10"},
        {GLL, "$GPGLL,4916.45,S,12311.12,E,225444,A,D*7C", "1: -491645 100 1231112 100 22 54 44 0 17473"},
        {GST, "$GPGST,024603.00,3.2,6.6,4.7,47.3,5.8,5.6,22.0*58",
         "1: 2 46 3 0 32 10 66 10 47 10 473 10 58 10 56 10 220 10"},
        {GSV, "$GPGSV,3,3,10,25,45,120,38,07,10,200,*7F",
         "1: 3 3 10 25 45 120 38 0 7 10 200 0 0 0 0 0 0 0 0 0 0 0 0"},
        {VTG, "$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K,A*25", "1: 547 10 344 10 55 10 102 10 65"},
        {VTG, "$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K", "1: 547 10 344 10 55 10 102 10 0"},
        {VTG, "$GPVTG,054.7,M,034.4,T,005.5,N,010.2,K,A", "0: 547 10 344 10 55 10 102 10 0"},
        {VTG, "$GPVTG,054.7,T,034.4,T,005.5,N,010.2,K,A", "0: 547 10 344 10 55 10 102 10 0"},
        {VTG, "$GPVTG,054.7,T,034.4,M,005.5,K,010.2,K,A", "0: 547 10 344 10 55 10 102 10 0"},
        {VTG, "$GPVTG,054.7,T,034.4,M,005.5,N,010.2,N,A", "0: 547 10 344 10 55 10 102 10 0"},
        {ZDA, "$GPZDA,201530.00,04,07,2002,-13,00*6F", "1: 20 15 30 0 4 7 2002 -13 0"},
        {ZDA, "$GPZDA,201530,04,07,2002,13,59", "1:"}, {ZDA, "$GPZDA,201530,04,07,2002,14,00", "0:"},
        {ZDA, "$GPZDA,201530,04,07,2002,-14,00", "0:"}, {ZDA, "$GPZDA,201530,04,07,2002,0,60", "0:"},
        {ZDA, "$GPZDA,201530,04,07,2002,0,-1", "0:"}};
    // clang-format on
    VyrPlatform_SetPrintLevel(0);
    for (const auto& [p, sentence, expected] : cases) {
        const std::string words = parseWords(kParsers[p], sentence);
        EXPECT_EQ(expected[2] ? words : words.substr(0, 2), expected) << sentence;
        for (const char* talker : {"GN", "BD", "zz"}) {
            const std::string renamed = std::string(sentence).replace(1, 2, talker);
            EXPECT_EQ(parseWords(kParsers[p], renamed), words) << renamed;
        }
        for (size_t at = 3; at < 6 && expected[0] == '1'; ++at) {  // another formatter
            std::string other = sentence;
            other[at] = 'X';
            EXPECT_EQ(parseWords(kParsers[p], other)[0], '0');
        }
    }
    // The formatter: value / scale, the value itself for scale 0.
    for (const auto& [number, value] : {std::pair{GpsFloat{4807038, 1000}, 4807.038},
                                        {GpsFloat{-5, 10}, -0.5},
                                        {GpsFloat{7, 0}, 7.0}})
        EXPECT_DOUBLE_EQ(GPSPARSER_FORMAT_DOUBLE(&number), value);
    // A short last sentence leaves usedInFix to the raw-set parse.
    GpsGsv gsv;
    std::memset(&gsv, 0x11, sizeof gsv);
    ASSERT_EQ(GPSPARSER_ParseGSV(&gsv, "$BDGSV,3,3,10,25,45,120,38,07,10,200,*7F"), 1);
    EXPECT_EQ(gsv.satellites[3].usedInFix, 0x11);
}

// usedInFix of the four GPS sentences' entries, one digit each.
std::string marks(const GpsMsgPacket& record) {
    std::string text;
    for (const GpsGsv& gsv : record.gpGsv) {
        for (const GpsSatInfo& s : gsv.satellites) text += std::to_string(s.usedInFix);
    }
    return text;
}

TEST(ParseRawData, MarksKeptSatellitesAndEmptySet) {
    GpsMsgPacket record;
    std::memset(&record, 0x5A, sizeof record);
    GpsRawData raw{}, empty{};
    std::strcpy(raw.rmcStr, "$GNRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,,");
    std::strcpy(raw.ggaStr, "$GNGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
    std::strcpy(raw.gsaStr[0], "$GNGSA,A,3,05,12,,,,,,,,,,,2.5,1.3,2.1");
    std::strcpy(raw.gsaStr[1], "$GNGSA,A,3,201,202,,,,,,,,,,,2.5,1.3,2.1");
    // Listed with a signal; listed without; not listed; number 0 against the
    // list's zeros; a negative signal; 12 again in the next sentence.
    std::strcpy(raw.gpGsvStr[0], "$GPGSV,2,1,08,12,40,100,40,12,41,101,,07,42,102,40,00,10,10,33");
    std::strcpy(raw.gpGsvStr[1], "$GPGSV,2,2,08,05,20,200,-3,12,41,101,40");
    std::strcpy(raw.bdGsvStr[0], "$BDGSV,1,1,02,201,40,100,40,202,41,101,30");
    EXPECT_EQ(GPSPARSER_ParseRawData(&raw, &record), 0);
    EXPECT_EQ(marks(record), "1001110000000000");
    EXPECT_EQ(record.gsa[1].fixMode, 0x5A5A5A5A);  // gsa[1] and bdGsv are never written
    EXPECT_EQ(record.bdGsv[0].satellites[0].prn, 0x5A5A5A5A);

    // A shorter series: the second sentence's satellites stay, marked anew.
    std::strcpy(raw.gsaStr[0], "$GNGSA,A,3,07,01,02,03,04,06,08,09,10,11,13,14,1.0,1.0,1.0");
    std::memset(raw.gpGsvStr[1], 0, sizeof raw.gpGsvStr[1]);
    GPSPARSER_ParseRawData(&raw, &record);
    EXPECT_EQ(record.gpGsv[1].satellites[1].prn, 12);
    EXPECT_EQ(marks(record), "0010000000000000");

    // An empty set logs its failures and leaves the record as it was. The RMC
    // line shows the parser's starting values and the record's old ones.
    const GpsMsgPacket before = record;
    VyrPlatform_SetPrintLevel(4);
    const std::regex head("m\\[[^\\]]*\\](\\[[A-Z]{3}\\]\033\\[m \\w+) [0-9]+ :");  // clock, line
    const std::string log = vyr::test::captureLog([&] { GPSPARSER_ParseRawData(&empty, &record); });
    EXPECT_EQ(std::regex_replace(log, head, "m[]$1 # :"),
              "\033[0;32;31m[][ERR]\033[m GPSPARSER_ParseRMC # :GPSPARSER_Scan fail \n"
              "\033[0;32;31m[][ERR]\033[m GPSPARSER_ParseRMC # :type=, validity=?, "
              "latitude=4807038, latitudeDirection=0, longitude=1131000, longitudeDirection=0, "
              "speed=224\n"
              "\033[0;32;31m[][ERR]\033[m GPSPARSER_ParseRawData # :parser RMC str failed! -> "
              "gpsRawData->rmcStr=\n"
              "\033[0;32;31m[][ERR]\033[m GPSPARSER_ParseRawData # :parser GGA str failed! -> "
              "gpsRawData->ggaStr=\n"
              "\033[0;33m[][DBG]\033[m GPSPARSER_ParseRawData # :parser GSA str failed!\n");
    EXPECT_EQ(0, std::memcmp(&record, &before, sizeof record));
}

TEST(Captures, OnlyTheOwnParserSucceedsAndRmcMatchesItsText) {
    const std::filesystem::path folder = VYR_TEST_CAPTURE_DIR;
    ASSERT_TRUE(std::filesystem::is_directory(folder)) << folder;
    VyrPlatform_SetPrintLevel(0);
    int parsed = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        for (std::string line; entry.path().extension() == ".log" && std::getline(in, line);) {
            const std::string s = line.substr(std::min(line.find('$'), line.size()), 179);
            for (const Parser& parser : kParsers) {
                int32_t words[32] = {};
                if (parser.parse(words, s.c_str()) == 0) continue;
                ++parsed;
                ASSERT_EQ(s.substr(3, 3), parser.formatter) << s;
                if (&parser != &kParsers[RMC]) continue;
                // Time (words 0-2) and date (13-15) against fields 1 and 9; an
                // empty field parses to -1s.
                char text[64];
                std::snprintf(text, sizeof text, "%02d%02d%02d,%02d%02d%02d", words[0], words[1],
                              words[2], words[13], words[14], words[15]);
                std::string fields;
                for (size_t n = 0, at = 0; n <= 9; ++n, at = s.find(',', at) + 1) {
                    if (n == 1 || n == 9) fields += (s[at] == ',' ? "-1-1-1" : s.substr(at, 6));
                    if (n == 1) fields += ",";
                }
                EXPECT_EQ(text, fields) << s;
            }
        }
    }
    EXPECT_GT(parsed, 0);
}

}  // namespace

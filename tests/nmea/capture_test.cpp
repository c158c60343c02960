// Real receiver captures through the eight parsers: no parser writes outside
// its record, a parser succeeds only on its own sentence type, and a parsed
// RMC agrees with its text.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/log_clock.h"
#include "vyr_gpsparser.h"

namespace {

// The fields of a sentence up to "*" or the first non-printable character.
std::vector<std::string> splitFields(const std::string& sentence) {
    std::vector<std::string> fields(1);
    for (const char c : sentence) {
        if (c == '*' || c < 0x20 || c > 0x7E) break;
        if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

int digitPair(const std::string& text, size_t at) {
    return (text[at] - '0') * 10 + text[at + 1] - '0';
}

struct Guarded {
    unsigned char front[8];
    alignas(8) unsigned char record[96];
    unsigned char back[8];
};

template <typename Record, int32_t (*parse)(Record*, const char*)>
int32_t checkedParse(const std::string& sentence, Record* out) {
    Guarded g;
    std::memset(&g, 0xCD, sizeof g);
    const int32_t result = parse(reinterpret_cast<Record*>(g.record), sentence.c_str());
    Guarded untouched;
    std::memset(&untouched, 0xCD, sizeof untouched);
    const size_t end = offsetof(Guarded, record) + sizeof(Record);
    EXPECT_TRUE(std::memcmp(&g, &untouched, offsetof(Guarded, record)) == 0 &&
                std::memcmp(reinterpret_cast<char*>(&g) + end,
                            reinterpret_cast<char*>(&untouched) + end, sizeof g - end) == 0)
        << "written outside the record: " << sentence;
    std::memcpy(out, g.record, sizeof(Record));
    return result;
}

void checkRmc(const std::string& sentence, const GpsRmc& rmc) {
    const std::vector<std::string> f = splitFields(sentence);
    ASSERT_GE(f.size(), 12u) << sentence;
    if (f[1].empty()) {
        EXPECT_EQ(rmc.time.hours, -1) << sentence;
    } else {
        EXPECT_EQ(rmc.time.hours, digitPair(f[1], 0)) << sentence;
        EXPECT_EQ(rmc.time.seconds, digitPair(f[1], 4)) << sentence;
    }
    if (f[9].empty()) {
        EXPECT_EQ(rmc.date.year, -1) << sentence;
    } else {
        EXPECT_EQ(rmc.date.day, digitPair(f[9], 0)) << sentence;
        EXPECT_EQ(rmc.date.year, digitPair(f[9], 4)) << sentence;
    }
    EXPECT_EQ(rmc.valid, f[2].rfind('A', 0) == 0 ? 1 : 0) << sentence;
    // The direction multiplies the value: empty gives 0, S a value not above 0.
    const int32_t latitude = rmc.latitude.value;
    EXPECT_TRUE(f[4].empty()  ? latitude == 0
                : f[4] == "S" ? latitude <= 0
                              : latitude >= 0)
        << sentence;
}

TEST(Captures, EveryLineThroughEveryParser) {
    namespace fs = std::filesystem;
    const fs::path folder = VYR_TEST_SHARED_CAPTURE_DIR;
    if (!fs::is_directory(folder)) GTEST_SKIP() << "no capture folder at " << folder;
    vyr::test::logClock.printLevel = 0;
    size_t parsed[8] = {};
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string extension = entry.path().extension().string();
        if (extension != ".log" && extension != ".nmea") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        for (std::string line; std::getline(in, line);) {
            const size_t dollar = line.find('$');
            if (dollar == std::string::npos) continue;
            // A framed sentence is at most 179 characters.
            const std::string sentence = line.substr(dollar, 179);
            const std::string formatter = sentence.size() >= 6 ? sentence.substr(3, 3) : "";
            struct {
                GpsRmc rmc;
                GpsGga gga;
                GpsGsa gsa;
                GpsGll gll;
                GpsGst gst;
                GpsGsv gsv;
                GpsVtg vtg;
                GpsZda zda;
            } r;
            const int32_t results[8] = {checkedParse<GpsRmc, GPSPARSER_ParseRMC>(sentence, &r.rmc),
                                        checkedParse<GpsGga, GPSPARSER_ParseGGA>(sentence, &r.gga),
                                        checkedParse<GpsGsa, GPSPARSER_ParseGSA>(sentence, &r.gsa),
                                        checkedParse<GpsGll, GPSPARSER_ParseGLL>(sentence, &r.gll),
                                        checkedParse<GpsGst, GPSPARSER_ParseGST>(sentence, &r.gst),
                                        checkedParse<GpsGsv, GPSPARSER_ParseGSV>(sentence, &r.gsv),
                                        checkedParse<GpsVtg, GPSPARSER_ParseVTG>(sentence, &r.vtg),
                                        checkedParse<GpsZda, GPSPARSER_ParseZDA>(sentence, &r.zda)};
            const char* formatters[8] = {"RMC", "GGA", "GSA", "GLL", "GST", "GSV", "VTG", "ZDA"};
            for (int p = 0; p < 8; ++p) {
                if (results[p] == 0) continue;
                ASSERT_EQ(results[p], 1) << sentence;
                ASSERT_EQ(formatter, formatters[p]) << sentence;
                ++parsed[p];
            }
            if (results[0] == 1) checkRmc(sentence, r.rmc);
        }
    }
    // Every type occurs in the captures and must parse somewhere.
    for (int p = 0; p < 8; ++p) EXPECT_GT(parsed[p], 0u) << "parser " << p;
    std::printf("parsed RMC %zu GGA %zu GSA %zu GLL %zu GST %zu GSV %zu VTG %zu ZDA %zu\n",
                parsed[0], parsed[1], parsed[2], parsed[3], parsed[4], parsed[5], parsed[6],
                parsed[7]);
}

}  // namespace

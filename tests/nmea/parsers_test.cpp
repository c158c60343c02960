// Sentence parsers: whole records byte for byte, corrections, talker
// independence and the RMC parser's log lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/log_clock.h"
#include "vyr_gpsparser.h"

namespace {

using vyr::test::logLine;

const char kRmc[] = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";
const char kGga[] = "$GPGGA,123519,4807.038,S,01131.000,W,1,08,0.9,545.4,M,46.9,M,,*47";

template <typename Record>
bool sameBytes(const Record& a, const Record& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::vector<std::string> capturedLogLines(const std::function<void()>& run) {
    testing::internal::CaptureStdout();
    run();
    std::fflush(stdout);
    return vyr::test::logLinesNumbersHidden(testing::internal::GetCapturedStdout());
}

TEST(ParseRmc, FullRecordAndCorrections) {
    GpsRmc rmc{};
    ASSERT_EQ(GPSPARSER_ParseRMC(&rmc, kRmc), 1);
    const GpsRmc expected{{12, 35, 19, 0}, 1,         {4807038, 1000}, {1131000, 1000},
                          {224, 10},       {844, 10}, {23, 3, 94},     {-31, 10}};
    EXPECT_TRUE(sameBytes(rmc, expected));

    // Status V, S/W signs, an empty direction zeroes the value and keeps the scale;
    // a mode field after the variation sign is ignored; any talker parses the same.
    GpsRmc other = rmc;
    ASSERT_EQ(GPSPARSER_ParseRMC(&other,
                                 "$GNRMC,123519,V,4807.038,S,01131.000,,022.4,084.4,"
                                 "230394,003.1,E,A*6A"),
              1);
    EXPECT_EQ(other.valid, 0);
    EXPECT_EQ(other.latitude.value, -4807038);
    EXPECT_EQ(other.longitude.value, 0);
    EXPECT_EQ(other.longitude.scale, 1000);
    EXPECT_EQ(other.magneticVariation.value, 31);
}

TEST(ParseRmc, LogsScanFailureWithTheValuesReachedSoFar) {
    vyr::test::logClock = {};
    GpsRmc rmc{};
    rmc.longitude.value = 555;
    rmc.speed.value = 777;
    const auto lines = capturedLogLines([&] {
        EXPECT_EQ(GPSPARSER_ParseRMC(&rmc, "$GPRMC,123519,A,4807.038,S,0113x.000,E,022.4"), 0);
        EXPECT_EQ(GPSPARSER_ParseRMC(&rmc, "GPRMC"), 0);  // fails before the type
    });
    const std::string scanFail =
        logLine("ERR", "GPSPARSER_ParseRMC", "#", "GPSPARSER_Scan fail \n");
    const std::vector<std::string> expected = {
        scanFail,
        // Signs are not applied yet; longitude and speed keep the record's values.
        logLine("ERR", "GPSPARSER_ParseRMC", "#",
                "type=GPRMC, validity=A, latitude=4807038, latitudeDirection=-1, longitude=555, "
                "longitudeDirection=0, speed=777\n"),
        scanFail,
        // The parser's own starting values.
        logLine("ERR", "GPSPARSER_ParseRMC", "#",
                "type=, validity=?, latitude=4807038, latitudeDirection=0, longitude=555, "
                "longitudeDirection=0, speed=777\n"),
    };
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(rmc.time.seconds, 19);
}

TEST(ParseRmc, OtherFormatterWritesFieldsButNoCorrections) {
    vyr::test::logClock = {};
    GpsRmc rmc{};
    rmc.valid = 7;
    std::string sentence = kRmc;
    sentence.replace(3, 3, "RMB");
    std::replace(sentence.begin(), sentence.end(), 'N', 'S');
    const auto lines =
        capturedLogLines([&] { EXPECT_EQ(GPSPARSER_ParseRMC(&rmc, sentence.c_str()), 0); });
    EXPECT_EQ(lines, std::vector<std::string>{
                         logLine("ERR", "GPSPARSER_ParseRMC", "#", "can not match RMC...\n")});
    EXPECT_EQ(rmc.valid, 7);
    EXPECT_EQ(rmc.latitude.value, 4807038);
    EXPECT_EQ(rmc.magneticVariation.value, 31);
}

TEST(ParseGga, FullRecordAndSilentFailures) {
    GpsGga gga{};
    ASSERT_EQ(GPSPARSER_ParseGGA(&gga, kGga), 1);
    // clang-format off
    const GpsGga expected{{12, 35, 19, 0}, {-4807038, 1000}, {-1131000, 1000}, 1, 8, {9, 10},
                          {5454, 10}, 'M', {}, {469, 10}, 'M', {}, {0, 0}};
    // clang-format on
    EXPECT_TRUE(sameBytes(gga, expected));
    vyr::test::logClock = {};
    const auto lines = capturedLogLines([&] {
        // No reference station field at all.
        EXPECT_EQ(GPSPARSER_ParseGGA(
                      &gga, "$GPGGA,123519,4807.038,S,01131.000,W,1,08,0.9,545.4,M,46.9,M,"),
                  0);
        EXPECT_EQ(GPSPARSER_ParseGGA(&gga, kRmc), 0);
    });
    EXPECT_TRUE(lines.empty());
}

TEST(ParseGsaGsv, EmptySlotsAndShortLastSentence) {
    GpsGsa gsa;
    std::memset(&gsa, 0x55, sizeof gsa);
    ASSERT_EQ(GPSPARSER_ParseGSA(&gsa, "$GPGSA,A,3,04,05,09,,,,,,,,,,2.5,1.3,2.1*39"), 1);
    GpsGsa expected;
    std::memset(&expected, 0x55, sizeof expected);  // the padding is never written
    expected.selectionMode = 'A';
    expected.fixMode = 3;
    const int32_t ids[12] = {4, 5, 9};
    std::memcpy(expected.satelliteIds, ids, sizeof ids);
    expected.pdop = {25, 10};
    expected.hdop = {13, 10};
    expected.vdop = {21, 10};
    EXPECT_TRUE(sameBytes(gsa, expected));

    GpsGsv gsv;
    std::memset(&gsv, 0x11, sizeof gsv);
    ASSERT_EQ(GPSPARSER_ParseGSV(&gsv, "$BDGSV,3,3,10,25,45,120,38,07,10,200,*7F"), 1);
    GpsGsv expectedGsv;
    std::memset(&expectedGsv, 0x11, sizeof expectedGsv);  // usedInFix and padding untouched
    expectedGsv.messageCount = 3;
    expectedGsv.messageNumber = 3;
    expectedGsv.satellitesInView = 10;
    const int32_t sats[4][4] = {{25, 45, 120, 38}, {7, 10, 200, 0}, {}, {}};
    for (int i = 0; i < 4; ++i) {
        GpsSatInfo& s = expectedGsv.satellites[i];
        s.prn = sats[i][0], s.elevation = sats[i][1], s.azimuth = sats[i][2], s.snr = sats[i][3];
    }
    EXPECT_TRUE(sameBytes(gsv, expectedGsv));
}

TEST(ParseGllGstVtgZda, ResultsAndChecks) {
    GpsGll gll{};
    gll.modeIndicator = 'x';
    EXPECT_EQ(GPSPARSER_ParseGLL(&gll, "$GPGLL,4916.45,N,12311.12,W,225444,A"), 1);
    EXPECT_EQ(gll.modeIndicator, 0);
    EXPECT_EQ(gll.longitude.value, -1231112);
    EXPECT_EQ(gll.time.hours, 22);
    EXPECT_EQ(GPSPARSER_ParseGLL(&gll, "$GNGLL,4916.45,S,12311.12,E,225444,A,D*7C"), 1);
    EXPECT_EQ(gll.modeIndicator, 'D');
    EXPECT_EQ(gll.latitude.value, -491645);

    GpsGst gst{};
    EXPECT_EQ(GPSPARSER_ParseGST(&gst, "$GPGST,024603.00,3.2,6.6,4.7,47.3,5.8,5.6,22.0*58"), 1);
    EXPECT_EQ(gst.semiMajorOrientation.value, 473);
    EXPECT_EQ(gst.altitudeSigma.value, 220);

    const struct {
        const char* sentence;
        int result;
        int32_t mode;
    } vtgCases[] = {{"$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K,A*25", 1, 'A'},
                    {"$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K", 1, 0},
                    {"$GPVTG,054.7,T,,,005.5,N,010.2,K,A", 0, 99},
                    {"$GPVTG,054.7,M,034.4,T,005.5,N,010.2,K,A", 0, 99}};
    for (const auto& c : vtgCases) {
        GpsVtg vtg{};
        vtg.modeIndicator = 99;
        EXPECT_EQ(GPSPARSER_ParseVTG(&vtg, c.sentence), c.result) << c.sentence;
        EXPECT_EQ(vtg.modeIndicator, c.mode) << c.sentence;
        EXPECT_EQ(vtg.speedKph.value, 102) << c.sentence;  // written whatever the result
    }

    const struct {
        const char* zone;
        int result;
    } zdaCases[] = {{"-13,00", 1}, {"13,59", 1}, {"14,00", 0},         {"-14,00", 0},
                    {"0,60", 0},   {"0,-1", 0},  {"-99999999999,0", 0}};
    for (const auto& c : zdaCases) {
        GpsZda zda{};
        const std::string sentence = std::string("$GPZDA,201530.00,04,07,2002,") + c.zone + "*6F";
        EXPECT_EQ(GPSPARSER_ParseZDA(&zda, sentence.c_str()), c.result) << c.zone;
        EXPECT_EQ(zda.date.year, 2002);
    }
}

template <typename Record, int32_t (*parse)(Record*, const char*)>
int32_t parseInto(void* record, const char* sentence) {
    return parse(static_cast<Record*>(record), sentence);
}

// Only the formatter letters count: any talker parses to the same bytes, and a
// sentence of another type is refused by every other parser.
TEST(Parsers, TalkerIndependentTypeCheck) {
    const char* sentences[] = {kRmc,
                               kGga,
                               "$GPGSA,A,3,04,05,09,,,,,,,,,,2.5,1.3,2.1",
                               "$GPGLL,4916.45,N,12311.12,W,225444,A",
                               "$GPGST,024603.00,3.2,6.6,4.7,47.3,5.8,5.6,22.0",
                               "$GPGSV,3,3,10,25,45,120,38,07,10,200,",
                               "$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K,A",
                               "$GPZDA,201530.00,04,07,2002,-13,00"};
    using Parse = int32_t (*)(void*, const char*);
    const Parse parsers[] = {
        parseInto<GpsRmc, GPSPARSER_ParseRMC>, parseInto<GpsGga, GPSPARSER_ParseGGA>,
        parseInto<GpsGsa, GPSPARSER_ParseGSA>, parseInto<GpsGll, GPSPARSER_ParseGLL>,
        parseInto<GpsGst, GPSPARSER_ParseGST>, parseInto<GpsGsv, GPSPARSER_ParseGSV>,
        parseInto<GpsVtg, GPSPARSER_ParseVTG>, parseInto<GpsZda, GPSPARSER_ParseZDA>};
    vyr::test::logClock.printLevel = 0;
    for (int p = 0; p < 8; ++p) {
        for (int s = 0; s < 8; ++s) {
            alignas(8) unsigned char reference[96] = {}, other[96] = {};
            const int32_t result = parsers[p](reference, sentences[s]);
            EXPECT_EQ(result, p == s ? 1 : 0) << "parser " << p << " on " << sentences[s];
            for (const char* talker : {"GN", "BD", "zz"}) {
                std::string renamed = sentences[s];
                renamed.replace(1, 2, talker);
                EXPECT_EQ(parsers[p](other, renamed.c_str()), result) << renamed;
                EXPECT_EQ(0, std::memcmp(reference, other, sizeof other)) << renamed;
            }
        }
    }
}

}  // namespace

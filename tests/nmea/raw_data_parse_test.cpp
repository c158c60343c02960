// Raw-set parse: order, log lines, what is kept between epochs, and the
// used-in-fix marks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/log_clock.h"
#include "vyr_gpsparser.h"

namespace {

using vyr::test::logLine;

void put(char (&slot)[VYR_GPS_SENTENCE_SIZE], const char* text) {
    std::strncpy(slot, text, sizeof slot - 1);
}

std::vector<std::string> parseLogged(const GpsRawData& raw, GpsMsgPacket& record) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(GPSPARSER_ParseRawData(&raw, &record), 0);
    std::fflush(stdout);
    return vyr::test::logLinesNumbersHidden(testing::internal::GetCapturedStdout());
}

std::vector<int> marks(const GpsMsgPacket& record, int sentences) {
    std::vector<int> result;
    for (int k = 0; k < sentences; ++k) {
        for (const GpsSatInfo& s : record.gpGsv[k].satellites) result.push_back(s.usedInFix);
    }
    return result;
}

// First epoch: fix list 5, 12 and ten zeros, two GSA and a BeiDou series.
GpsRawData firstEpoch() {
    GpsRawData raw{};
    put(raw.rmcStr, "$GNRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,,*6A");
    put(raw.ggaStr, "$GNGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47");
    put(raw.gsaStr[0], "$GNGSA,A,3,05,12,,,,,,,,,,,2.5,1.3,2.1*39");
    put(raw.gsaStr[1], "$GNGSA,A,3,201,202,,,,,,,,,,,2.5,1.3,2.1*39");
    put(raw.gpGsvStr[0], "$GPGSV,2,1,08,12,40,100,40,12,41,101,,07,42,102,40,00,10,10,33*7A");
    put(raw.gpGsvStr[1], "$GPGSV,2,2,08,05,20,200,-3*7A");
    put(raw.bdGsvStr[0], "$BDGSV,1,1,02,201,40,100,40,202,41,101,30*7A");
    return raw;
}

TEST(ParseRawData, MarksAgainstTheFirstFixListAndLeavesBeidouAlone) {
    GpsMsgPacket record{};
    vyr::test::logClock.printLevel = 4;
    EXPECT_TRUE(parseLogged(firstEpoch(), record).empty());
    EXPECT_EQ(record.rmc.valid, 1);
    EXPECT_EQ(record.gga.satellitesInUse, 8);
    // 12/snr 40; 12/empty snr; 7 not listed; 0/33 matches a zero of the list;
    // 5 with a negative snr; the empty trailing entries.
    EXPECT_EQ(marks(record, 2), (std::vector<int>{1, 0, 0, 1, 1, 0, 0, 0}));
    const GpsMsgPacket zero{};
    EXPECT_EQ(0, std::memcmp(&record.gsa[1], &zero.gsa[1], sizeof record.gsa[1]));
    EXPECT_EQ(0, std::memcmp(record.bdGsv, zero.bdGsv, sizeof record.bdGsv));
}

TEST(ParseRawData, ShorterSeriesKeepsOldSatellitesWithCurrentMarks) {
    GpsMsgPacket record{};
    GpsRawData raw = firstEpoch();
    vyr::test::logClock.printLevel = 0;
    GPSPARSER_ParseRawData(&raw, &record);
    put(raw.rmcStr, "$GNRMC,123520,A,4807.038,N,0113x.000,E,022.4,084.4,230394,,*6A");
    put(raw.ggaStr, "$GNGGA,123520,4807.038,N,01131.000,E,1,12,0.9,545.4,M,46.9,M,,*47");
    put(raw.gsaStr[0], "$GNGSA,A,3,07,01,02,03,04,06,08,09,10,11,13,14,1.0,1.0,1.0");
    std::memset(raw.gpGsvStr[1], 0, sizeof raw.gpGsvStr[1]);
    vyr::test::logClock = {};
    vyr::test::logClock.printLevel = 1;  // errors only
    const auto lines = parseLogged(raw, record);
    const std::vector<std::string> expected = {
        logLine("ERR", "GPSPARSER_ParseRMC", "#", "GPSPARSER_Scan fail \n"),
        logLine("ERR", "GPSPARSER_ParseRMC", "#",
                "type=GNRMC, validity=A, latitude=4807038, latitudeDirection=1, "
                "longitude=1131000, longitudeDirection=0, speed=224\n"),
        logLine("ERR", "GPSPARSER_ParseRawData", "#",
                std::string("parser RMC str failed! -> gpsRawData->rmcStr=") + raw.rmcStr + "\n")};
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(record.rmc.time.seconds, 20);  // written before the failing field
    EXPECT_EQ(record.gga.time.seconds, 20);
    EXPECT_EQ(record.gpGsv[1].satellites[0].prn, 5);  // from the first epoch
    EXPECT_EQ(marks(record, 2), (std::vector<int>{0, 0, 1, 0, 0, 0, 0, 0}));
}

TEST(ParseRawData, EmptySetKeepsTheRecordAndRecomputesMarks) {
    GpsMsgPacket record{};
    const GpsRawData first = firstEpoch();
    vyr::test::logClock.printLevel = 0;
    GPSPARSER_ParseRawData(&first, &record);
    const GpsMsgPacket before = record;
    for (GpsGsv& gsv : record.gpGsv) {
        for (GpsSatInfo& s : gsv.satellites) s.usedInFix = 0xAA;
    }
    const GpsRawData empty{};
    for (int printLevel : {3, 4}) {
        vyr::test::logClock = {};
        vyr::test::logClock.printLevel = printLevel;
        std::vector<std::string> expected = {
            logLine("ERR", "GPSPARSER_ParseRMC", "#", "GPSPARSER_Scan fail \n"),
            logLine("ERR", "GPSPARSER_ParseRMC", "#",
                    "type=, validity=?, latitude=4807038, latitudeDirection=0, "
                    "longitude=1131000, longitudeDirection=0, speed=224\n"),
            logLine("ERR", "GPSPARSER_ParseRawData", "#",
                    "parser RMC str failed! -> gpsRawData->rmcStr=\n"),
            logLine("ERR", "GPSPARSER_ParseRawData", "#",
                    "parser GGA str failed! -> gpsRawData->ggaStr=\n")};
        if (printLevel == 4) {
            expected.push_back(
                logLine("DBG", "GPSPARSER_ParseRawData", "#", "parser GSA str failed!\n"));
        }
        EXPECT_EQ(parseLogged(empty, record), expected);
        EXPECT_EQ(0, std::memcmp(&record, &before, sizeof record));
    }
}

}  // namespace

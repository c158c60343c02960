// The diagnostic log line, byte for byte, at every print level.
#include "common/log.h"

#include <gtest/gtest.h>

#include "common/log_clock.h"

namespace {

using vyr::test::logClock;
using vyr::test::logLine;

// Each returns the source line of its log statement.
// clang-format off
int logErr() { VYR_LOG_ERR_IN("GpsGetRawData", "read failed %d [%s]\n", -5, "EIO"); return __LINE__; }
int logWar() { VYR_LOG_WAR_IN("VYR_GPSPARSER_Init", "warn %u\n", 7u); return __LINE__; }
int logInf() { VYR_LOG_INF_IN("VYR_GPSPARSER_Start", "info\n"); return __LINE__; }
int logDbg() { VYR_LOG_DBG_IN("GPS_DataProc", "debug %c\n", 'x'); return __LINE__; }
int GPS_DataProc() { VYR_LOG_ERR("own name\n"); return __LINE__; }
// clang-format on

std::string capture(int (*emit)(), int* line) {
    testing::internal::CaptureStdout();
    *line = emit();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(LogLine, EachLevelPrintsOnlyAboveItsThreshold) {
    struct Level {
        int (*emit)();
        const char* tag;
        const char* function;
        const char* message;
        int threshold;
    };
    const Level levels[] = {
        {logErr, "ERR", "GpsGetRawData", "read failed -5 [EIO]\n", 0},
        {logWar, "WAR", "VYR_GPSPARSER_Init", "warn 7\n", 1},
        {logInf, "INF", "VYR_GPSPARSER_Start", "info\n", 2},
        {logDbg, "DBG", "GPS_DataProc", "debug x\n", 3},
    };
    for (int printLevel = -1; printLevel <= 5; ++printLevel) {
        for (const Level& level : levels) {
            logClock = {};
            logClock.printLevel = printLevel;
            int line = 0;
            const std::string out = capture(level.emit, &line);
            const bool printed = printLevel > level.threshold;
            SCOPED_TRACE(std::string(level.tag) + " at print level " + std::to_string(printLevel));
            EXPECT_EQ(out, printed ? logLine(level.tag, level.function, std::to_string(line),
                                             level.message)
                                   : "");
            // Time and level are read for every event; the wall clock only when printed.
            EXPECT_EQ(logClock.runningTimeCalls, 1);
            EXPECT_EQ(logClock.printLevelCalls, 1);
            EXPECT_EQ(logClock.rtcCalls, printed ? 1 : 0);
        }
    }
}

TEST(LogLine, RunningTimeIsPrintedAsTenthsWithTruncatingDivision) {
    const struct {
        int32_t count;
        const char* text;
    } cases[] = {{0, "000000.0"},
                 {9, "000000.9"},
                 {10, "000001.0"},
                 {1234567, "123456.7"},
                 {123456789, "12345678.9"},
                 {-15, "-00001.-5"},
                 {2147483647, "214748364.7"}};
    for (const auto& c : cases) {
        logClock = {};
        logClock.runningTime = c.count;
        int line = 0;
        const std::string out = capture(logErr, &line);
        EXPECT_EQ(out, logLine("ERR", "GpsGetRawData", std::to_string(line),
                               "read failed -5 [EIO]\n", c.text));
    }
}

TEST(LogLine, PlainMacrosPrintTheEnclosingFunctionsName) {
    logClock = {};
    int line = 0;
    const std::string out = capture(GPS_DataProc, &line);
    EXPECT_EQ(out, logLine("ERR", "GPS_DataProc", std::to_string(line), "own name\n"));
}

}  // namespace

// The diagnostic log line byte for byte, with the platform's clock and print
// level wrapped at link time.
#include "common/log.h"

#include <gtest/gtest.h>

#include <string>

namespace {

int32_t gRunningTime = 123, gPrintLevel = 4;

// Each returns the source line of its log statement. Level i prints when the
// print level is above i.
// clang-format off
int logErr() { VYR_LOG_ERR_IN("GpsGetRawData", "read failed %d [%s]\n", -5, "EIO"); return __LINE__; }
int logWar() { VYR_LOG_WAR_IN("VYR_GPSPARSER_Init", "warn %u\n", 7u); return __LINE__; }
int logInf() { VYR_LOG_INF_IN("VYR_GPSPARSER_Start", "info\n"); return __LINE__; }
int GPS_DataProc() { VYR_LOG_DBG("debug %c\n", 'x'); return __LINE__; }
const struct { int (*emit)(); const char *colour, *tag, *message; } kLevels[] = {
    {logErr, "\033[0;32;31m", "[ERR]\033[m GpsGetRawData ", " :read failed -5 [EIO]\n"},
    {logWar, "\033[1;33m", "[WAR]\033[m VYR_GPSPARSER_Init ", " :warn 7\n"},
    {logInf, "\033[0;35m", "[INF]\033[m VYR_GPSPARSER_Start ", " :info\n"},
    {GPS_DataProc, "\033[0;33m", "[DBG]\033[m GPS_DataProc ", " :debug x\n"}};
// clang-format on

// Logs at level i and expects its line with the running time `time`, or nothing.
void expectLine(int i, bool printed, const char* time) {
    testing::internal::CaptureStdout();
    const int line = kLevels[i].emit();
    std::fflush(stdout);
    const std::string expected = std::string(kLevels[i].colour) + "[2024-05-06 07:08:09 " + time +
                                 "]" + kLevels[i].tag + std::to_string(line) + kLevels[i].message;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), printed ? expected : "")
        << kLevels[i].tag << " at print level " << gPrintLevel;
}

}  // namespace

// clang-format off
extern "C" {
int32_t __wrap_VyrSysRnuningTime(void) { return gRunningTime; }
int32_t __wrap_Vyr_Comm_GetPrintLev(void) { return gPrintLevel; }
const char* __wrap_VyrSysRtcTime(void) { return "2024-05-06 07:08:09"; }
}
// clang-format on

TEST(LogLine, LevelsGatingAndRunningTime) {
    for (gPrintLevel = 0; gPrintLevel <= 4; ++gPrintLevel) {
        for (int i = 0; i < 4; ++i) expectLine(i, gPrintLevel > i, "000012.3");
    }
    // Tenths as "%06d.%d" of the quotient and the remainder.
    gRunningTime = 9;
    expectLine(0, true, "000000.9");
    gRunningTime = 123456789;
    expectLine(0, true, "12345678.9");
}

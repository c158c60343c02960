// Deterministic log lines for tests. Programs that link log_clock.cpp with
// -Wl,--wrap=VyrSysRnuningTime,--wrap=VyrSysRtcTime,--wrap=Vyr_Comm_GetPrintLev
// get the running time, wall clock and print level set here, and call counts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vyr::test {

inline constexpr char kRtcText[] = "2024-05-06 07:08:09";

struct LogClock {
    int32_t runningTime = 123;
    int32_t printLevel = 4;
    int runningTimeCalls = 0;
    int printLevelCalls = 0;
    int rtcCalls = 0;
};
extern LogClock logClock;

// The line a log call prints: head of tag ("ERR", "WAR", "INF", "DBG") with
// kRtcText and the running-time text (that of the default count 123), then
// function, line and message.
std::string logLine(const std::string& tag, const std::string& function, const std::string& line,
                    const std::string& message, const std::string& time = "000012.3");

// Splits captured output into lines (each keeps its "\n") and replaces the
// source line number of each head by "#", for lines logged by library code.
std::vector<std::string> logLinesNumbersHidden(const std::string& captured);

}  // namespace vyr::test

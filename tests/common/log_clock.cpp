#include "common/log_clock.h"

#include <regex>

namespace vyr::test {

LogClock logClock;

std::string logLine(const std::string& tag, const std::string& function, const std::string& line,
                    const std::string& message, const std::string& time) {
    const char* colour = tag == "ERR"   ? "\033[0;32;31m"
                         : tag == "WAR" ? "\033[1;33m"
                         : tag == "INF" ? "\033[0;35m"
                                        : "\033[0;33m";
    return std::string(colour) + "[" + kRtcText + " " + time + "][" + tag + "]\033[m " + function +
           " " + line + " :" + message;
}

std::vector<std::string> logLinesNumbersHidden(const std::string& captured) {
    static const std::regex number(
        "^(\033\\[[0-9;]*m\\[[^\\]]*\\]\\[[A-Z]{3}\\]\033\\[m \\w+) [0-9]+ :");
    std::vector<std::string> lines;
    for (size_t start = 0; start < captured.size();) {
        size_t end = captured.find('\n', start);
        end = end == std::string::npos ? captured.size() : end + 1;
        lines.push_back(std::regex_replace(captured.substr(start, end - start), number,
                                           "$1 # :", std::regex_constants::format_first_only));
        start = end;
    }
    return lines;
}

}  // namespace vyr::test

extern "C" {
int32_t __wrap_VyrSysRnuningTime(void) {
    ++vyr::test::logClock.runningTimeCalls;
    return vyr::test::logClock.runningTime;
}
int32_t __wrap_Vyr_Comm_GetPrintLev(void) {
    ++vyr::test::logClock.printLevelCalls;
    return vyr::test::logClock.printLevel;
}
const char* __wrap_VyrSysRtcTime(void) {
    ++vyr::test::logClock.rtcCalls;
    return vyr::test::kRtcText;
}
}

#include "common/log.h"

#include <cstdarg>
#include <cstdio>

#include "vyr_platform_services.h"

namespace vyr::log {

namespace {

constexpr char kColourReset[] = "\033[m";

// The head of every level, with its colour and tag as arguments: the shared
// part is stored once. Error red "\033[0;32;31m", warning yellow, info
// magenta, debug brown.
constexpr char kHead[] = "%s[%s %06d.%d][%s]%s %s %d :";
constexpr char kColours[][11] = {"\033[0;32;31m", "\033[1;33m", "\033[0;35m", "\033[0;33m"};
constexpr char kTags[][4] = {"ERR", "WAR", "INF", "DBG"};
static_assert(kErrThreshold == 0 && kWarThreshold == 1 && kInfThreshold == 2 && kDbgThreshold == 3);

}  // namespace

void writeLine(int32_t threshold, const char* function, int line, const char* format,
               ...) noexcept {
    const int32_t runningTime = VyrSysRnuningTime();
    const int32_t printLevel = Vyr_Comm_GetPrintLev();
    if (printLevel <= threshold) {
        return;
    }
    const int32_t quotient = runningTime / 10;
    va_list args;
    va_start(args, format);
    flockfile(stdout);
    std::printf(kHead, kColours[threshold], VyrSysRtcTime(), quotient, runningTime - 10 * quotient,
                kTags[threshold], kColourReset, function, line);
    std::vprintf(format, args);
    funlockfile(stdout);
    va_end(args);
}

}  // namespace vyr::log

#include "common/log.h"

#include <cstdarg>
#include <cstdio>

#include "vyr_platform_services.h"

namespace vyr::log {

namespace {

constexpr char kColourReset[] = "\033[m";

// The heads by threshold, each with the arguments time, tenths, remainder,
// reset, function and line. An array of arrays: no pointers to relocate.
constexpr char kHeads[][sizeof(VYR_LOG_HEAD_ERR)] = {VYR_LOG_HEAD_ERR, VYR_LOG_HEAD_WAR,
                                                     VYR_LOG_HEAD_INF, VYR_LOG_HEAD_DBG};
static_assert(sizeof(VYR_LOG_HEAD_ERR) >= sizeof(VYR_LOG_HEAD_WAR) &&
              sizeof(VYR_LOG_HEAD_ERR) >= sizeof(VYR_LOG_HEAD_INF) &&
              sizeof(VYR_LOG_HEAD_ERR) >= sizeof(VYR_LOG_HEAD_DBG));
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
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::printf(kHeads[threshold], VyrSysRtcTime(), quotient, runningTime - 10 * quotient,
                kColourReset, function, line);
#pragma GCC diagnostic pop
    std::vprintf(format, args);
    funlockfile(stdout);
    va_end(args);
}

}  // namespace vyr::log

// Diagnostic log line shared by every subsystem.
//
// One line per event on standard output:
//   <colour>[<wall clock> <tenths/10 as %06d>.<remainder>][TAG]<reset><function> <line> :<message>
// written with one printf whose format is the level's head joined to the
// message at compile time. A line is printed only when the platform's print
// level is above the level's threshold; the running time and the print level
// are read for every event, printed or not.
#pragma once

#include <cstdint>
#include <cstdio>

#include "vyr_platform_services.h"

namespace vyr::log {

// Printed when the print level is greater than the threshold.
inline constexpr int32_t kErrThreshold = 0;
inline constexpr int32_t kWarThreshold = 1;
inline constexpr int32_t kInfThreshold = 2;
inline constexpr int32_t kDbgThreshold = 3;

inline constexpr char kColourReset[] = "\033[m";

#define VYR_LOG_HEAD_ERR "\033[0;32;31m[%s %06d.%d][ERR]%s %s %d :"
#define VYR_LOG_HEAD_WAR "\033[1;33m[%s %06d.%d][WAR]%s %s %d :"
#define VYR_LOG_HEAD_INF "\033[0;35m[%s %06d.%d][INF]%s %s %d :"
#define VYR_LOG_HEAD_DBG "\033[0;33m[%s %06d.%d][DBG]%s %s %d :"

// Never called: lets the compiler check a joined format against the head's
// arguments and the message's arguments.
[[gnu::format(printf, 1, 2)]] inline void checkFormat(const char*, ...) {}

// One instantiation per argument-type list, kept out of line so that each
// logging site costs a call, not a copy of the body.
template <typename... Args>
[[gnu::noinline]] void writeLine(int32_t threshold, const char* format, const char* function,
                                 int line, Args... args) {
    const int32_t runningTime = VyrSysRnuningTime();
    const int32_t printLevel = Vyr_Comm_GetPrintLev();
    if (printLevel <= threshold) {
        return;
    }
    const int32_t quotient = runningTime / 10;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    std::printf(format, VyrSysRtcTime(), quotient, runningTime - 10 * quotient, kColourReset,
                function, line, args...);
#pragma GCC diagnostic pop
}

}  // namespace vyr::log

#define VYR_LOG_LINE(threshold, head, function, fmt, ...)                                          \
    do {                                                                                           \
        if (false) {                                                                               \
            ::vyr::log::checkFormat(head fmt, "", 0, 0, "", "", 0 __VA_OPT__(, ) __VA_ARGS__);     \
        }                                                                                          \
        ::vyr::log::writeLine(threshold, head fmt, function, __LINE__ __VA_OPT__(, ) __VA_ARGS__); \
    } while (false)

// fmt must be a string literal ending in "\n". VYR_LOG_<LEVEL> prints the
// enclosing function's own name; VYR_LOG_<LEVEL>_IN prints the given operation
// name, for helpers that log on behalf of an operation (the framer logs as the
// reader thread body).
#define VYR_LOG_ERR_IN(function, fmt, ...)                              \
    VYR_LOG_LINE(::vyr::log::kErrThreshold, VYR_LOG_HEAD_ERR, function, \
                 fmt __VA_OPT__(, ) __VA_ARGS__)
#define VYR_LOG_WAR_IN(function, fmt, ...)                              \
    VYR_LOG_LINE(::vyr::log::kWarThreshold, VYR_LOG_HEAD_WAR, function, \
                 fmt __VA_OPT__(, ) __VA_ARGS__)
#define VYR_LOG_INF_IN(function, fmt, ...)                              \
    VYR_LOG_LINE(::vyr::log::kInfThreshold, VYR_LOG_HEAD_INF, function, \
                 fmt __VA_OPT__(, ) __VA_ARGS__)
#define VYR_LOG_DBG_IN(function, fmt, ...)                              \
    VYR_LOG_LINE(::vyr::log::kDbgThreshold, VYR_LOG_HEAD_DBG, function, \
                 fmt __VA_OPT__(, ) __VA_ARGS__)
#define VYR_LOG_ERR(fmt, ...) VYR_LOG_ERR_IN(__func__, fmt __VA_OPT__(, ) __VA_ARGS__)
#define VYR_LOG_WAR(fmt, ...) VYR_LOG_WAR_IN(__func__, fmt __VA_OPT__(, ) __VA_ARGS__)
#define VYR_LOG_INF(fmt, ...) VYR_LOG_INF_IN(__func__, fmt __VA_OPT__(, ) __VA_ARGS__)
#define VYR_LOG_DBG(fmt, ...) VYR_LOG_DBG_IN(__func__, fmt __VA_OPT__(, ) __VA_ARGS__)

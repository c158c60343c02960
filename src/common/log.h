// Diagnostic log line shared by every subsystem.
//
// One line per event on standard output:
//   <colour>[<wall clock> <tenths/10 as %06d>.<remainder>][TAG]<reset><function> <line> :<message>
// written by one out-of-line function: the level's head, then the message,
// both under one lock of standard output, so that lines of different threads
// never interleave. A line is printed only when the platform's print level is
// above the level's threshold; the running time and the print level are read
// for every event, printed or not. Each logging site is one call; the head is
// stored once per level, not once per message.
#pragma once

#include <cstdint>
#include <cstdio>

#include "vyr_platform_services.h"

namespace vyr::log {

// Printed when the print level is greater than the threshold; the thresholds
// are also the levels' indexes.
inline constexpr int32_t kErrThreshold = 0;
inline constexpr int32_t kWarThreshold = 1;
inline constexpr int32_t kInfThreshold = 2;
inline constexpr int32_t kDbgThreshold = 3;

// Writes one line at the level whose threshold is given (0 to 3).
[[gnu::format(printf, 4, 5)]] void writeLine(int32_t threshold, const char* function, int line,
                                             const char* format, ...) noexcept;

}  // namespace vyr::log

#define VYR_LOG_LINE(threshold, function, fmt, ...) \
    ::vyr::log::writeLine(threshold, function, __LINE__, fmt __VA_OPT__(, ) __VA_ARGS__)

// fmt must be a string literal ending in "\n". VYR_LOG_<LEVEL> prints the
// enclosing function's own name; VYR_LOG_<LEVEL>_IN prints the given operation
// name, for helpers that log on behalf of an operation (the framer logs as the
// reader thread body).
#define VYR_LOG_ERR_IN(function, fmt, ...) \
    VYR_LOG_LINE(::vyr::log::kErrThreshold, function, fmt __VA_OPT__(, ) __VA_ARGS__)
#define VYR_LOG_WAR_IN(function, fmt, ...) \
    VYR_LOG_LINE(::vyr::log::kWarThreshold, function, fmt __VA_OPT__(, ) __VA_ARGS__)
#define VYR_LOG_INF_IN(function, fmt, ...) \
    VYR_LOG_LINE(::vyr::log::kInfThreshold, function, fmt __VA_OPT__(, ) __VA_ARGS__)
#define VYR_LOG_DBG_IN(function, fmt, ...) \
    VYR_LOG_LINE(::vyr::log::kDbgThreshold, function, fmt __VA_OPT__(, ) __VA_ARGS__)
#define VYR_LOG_ERR(fmt, ...) VYR_LOG_ERR_IN(__func__, fmt __VA_OPT__(, ) __VA_ARGS__)
#define VYR_LOG_WAR(fmt, ...) VYR_LOG_WAR_IN(__func__, fmt __VA_OPT__(, ) __VA_ARGS__)
#define VYR_LOG_INF(fmt, ...) VYR_LOG_INF_IN(__func__, fmt __VA_OPT__(, ) __VA_ARGS__)
#define VYR_LOG_DBG(fmt, ...) VYR_LOG_DBG_IN(__func__, fmt __VA_OPT__(, ) __VA_ARGS__)

// The clients' timing objects, sent to watchers that asked for "pps":true:
// TOFF, the fix's time against the system clock when its second's output
// began, and PPS, a pulse's second against the system clock at the pulse.
// One line each without its line end, like the other reports.
#pragma once

#include <string>

#include "time_sample.h"

namespace vyr::tool {

[[nodiscard]] std::string toffReport(const TimeSample& sample, const std::string& device);
// shm: the shared-memory segment the pulse also went to ("NTP1"), or empty.
[[nodiscard]] std::string ppsReport(const TimeSample& sample, const std::string& device,
                                    const std::string& shm);

}  // namespace vyr::tool
